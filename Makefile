# The project's commands. `make test` and `make demo` are the two a user needs;
# both install what is missing first.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?=

# Debian packages the build, the tests and the demo need.
DEB_PACKAGES = cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev \
               libgtest-dev libgmock-dev googletest libbenchmark-dev srecord binutils \
               qt6-qpa-plugins xvfb xauth clang libclang-rt-14-dev

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build test demo demo-gui package screenshot clean

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	else echo "All build packages are installed."; fi

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: deps build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The simulated station on a pseudo-terminal as COM1, and zavlo384-cli running
# examples/demo.cmd against it; fails unless the image reads back equal.
demo: deps build
	sh examples/demo.sh $(BUILD)/bin

# The window on the same station, for trying it by hand; needs a display.
demo-gui:
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "make demo-gui needs a display (DISPLAY or WAYLAND_DISPLAY is empty); make demo runs without one."; \
	  exit 1; fi
	$(MAKE) deps build
	sh examples/demo.sh --gui $(BUILD)/bin

# The Debian package, built without tests in its own folder: $(PKG_BUILD)/zavlo384_*.deb,
# at the build type the tests run on (cpack strips the debug information).
# dpkg-dev works out the package's dependencies; desktop-file-utils checks the entry.
DEB_PACKAGES += dpkg-dev desktop-file-utils
PKG_BUILD ?= build-package
package: deps
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVLO384_TESTS=OFF -DZAVLO384_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(PKG_BUILD) -j $(JOBS)
	desktop-file-validate packaging/zavlo384.desktop
	cd $(PKG_BUILD) && cpack -G DEB

# The window after a few commands against the simulated station, rendered on a virtual
# X display into $(BUILD)/zavlo384.png.
screenshot: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target gui_screenshot
	xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" $(BUILD)/bin/gui_screenshot $(BUILD)/zavlo384.png

# The whole suite under AddressSanitizer with UndefinedBehaviorSanitizer, and under
# ThreadSanitizer, each in its own build folder without the benchmarks. Any report fails
# the run. The suppressions in tests/sanitizers/ cover Qt and system libraries only.
SAN_DIR     = $(CURDIR)/tests/sanitizers
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1 \
           LSAN_OPTIONS=suppressions=$(SAN_DIR)/lsan.supp:print_suppressions=0 \
           UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$(SAN_DIR)/ubsan.supp
# GLib's slice allocator recycles blocks between threads where the sanitizer cannot see it.
TSAN_ENV = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(SAN_DIR)/tsan.supp \
           G_SLICE=always-malloc

.PHONY: test-asan test-tsan

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DZAVLO384_SANITIZE=address -DZAVLO384_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(ASAN_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DZAVLO384_SANITIZE=thread -DZAVLO384_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && $(TSAN_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# Fuzzing with libFuzzer: the targets in fuzz/, built with clang and the address and
# undefined-behaviour sanitizers in a folder of their own. `make fuzz` runs each target
# for FUZZ_SECONDS, `make fuzz-smoke` for FUZZ_SMOKE_SECONDS; any finding fails the run.
FUZZ_BUILD ?= $(CURDIR)/build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 5
FUZZ_CXX ?= clang++

.PHONY: fuzz fuzz-smoke fuzz-build

fuzz-build: deps
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)
