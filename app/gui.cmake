# The Qt window: the library with TForm1 (shared by the program and its tests) and the
# program zavlo384.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

if(TARGET zv_app_model)
  add_library(zv_gui STATIC ${CMAKE_CURRENT_LIST_DIR}/Main.cpp ${CMAKE_CURRENT_LIST_DIR}/Main.h)
  set_target_properties(zv_gui PROPERTIES AUTOMOC ON)
  target_include_directories(zv_gui PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(zv_gui PUBLIC zv_app_model Qt6::Widgets)

  add_executable(zavlo384 ${CMAKE_CURRENT_LIST_DIR}/zavlo384.cpp)
  target_link_libraries(zavlo384 PRIVATE zv_gui)
  install(TARGETS zavlo384)
endif()
