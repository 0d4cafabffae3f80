# Thin wrapper: every target first installs what is missing, configures and builds.
BUILD    ?= build
BENCH_BUILD ?= build-bench
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test package check-windows clean fuzz bench

all: build

deps:
	@tools/install-deps.sh build usbemu

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	tools/run.sh $(BUILD)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The Debian package (CPack): the three programs, menu entries, icon, sample Flash.ini, udev rule.
package: build
	cd $(BUILD) && cpack -G DEB
	@ls -1 $(BUILD)/*.deb

clean:
	rm -rf $(BUILD)

# The WinUSB channel, built for 64-bit Windows with mingw-w64 and run under wine (no Qt there).
check-windows:
	@tools/install-deps.sh windows
	tools/windows/check.sh $(BUILD)

# libFuzzer targets (clang, own build folder build-fuzz); each runs FUZZ_SECONDS on a copy of its seeds.
FUZZ_SECONDS ?= 60
fuzz:
	tools/fuzz.sh $(FUZZ_SECONDS)

# Benchmarks (own build folder build-bench): throughput, idle CPU, window latency, start-up.
# Each prints name=value lines; nothing is asserted.
bench:
	tools/bench.sh $(BENCH_BUILD)
