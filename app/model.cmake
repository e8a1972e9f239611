# The link-settings model shared by both front ends, and the batch front end.
add_library(zv_app_model STATIC ${CMAKE_CURRENT_LIST_DIR}/LinkSettings.cpp)
target_include_directories(zv_app_model PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zv_app_model PUBLIC zv_engine)

add_executable(zavlo384-cli ${CMAKE_CURRENT_LIST_DIR}/cli.cpp)
target_link_libraries(zavlo384-cli PRIVATE zv_app_model)
install(TARGETS zavlo384-cli)
