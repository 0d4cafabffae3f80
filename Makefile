# Thin wrapper: every target first installs what is missing, configures and builds.
BUILD    ?= build
BENCH_BUILD ?= build-bench
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test package package-deps check-package windows windows-zip check-windows clean fuzz bench

all: build

deps:
	@tools/install-deps.sh build records usbemu

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

# Only what tools/run.sh starts: the demo, its sample files, and zqprog for a machine without a
# display; the tests and benchmarks are left to make test and make bench.
RUN_TARGETS = zq-programmer-demo demo-samples zqprog
run: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)
	tools/run.sh $(BUILD)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The Debian packages (CPack): zqprog (the command line, udev rule, sample Flash.ini) and
# zq-programmer (the window and the demo); only what goes in them is built.
PACKAGE_TARGETS = zqprog zq-programmer zq-programmer-demo package-files
package-deps:
	@tools/install-deps.sh build package

package: package-deps configure
	cmake --build $(BUILD) -j $(JOBS) --target $(PACKAGE_TARGETS)
	rm -f $(BUILD)/*.deb
	cd $(BUILD) && cpack -G DEB
	@ls -1 $(BUILD)/*.deb

# lintian over both packages; any error fails.
check-package: package
	lintian --fail-on error $(BUILD)/*.deb

clean:
	rm -rf $(BUILD)

# The Windows programs, cross-built with mingw-w64 against a static Qt that tools/windows/build-qt.sh
# builds once from Debian's qtbase source into QT_MINGW (about 25 minutes on 2 cores).
WIN_BUILD ?= build-windows
QT_MINGW  ?= $(HOME)/.cache/zq-programmer/qt5-mingw-5.15.8
# Every wine run of the build and its checks happens in this prefix, not in ~/.wine.
export WINEPREFIX ?= $(abspath $(WIN_BUILD))/wineprefix

$(WIN_BUILD)/build.ninja: | windows-deps
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=$(QT_MINGW)

.PHONY: windows-deps
windows-deps:
	@tools/install-deps.sh windows
	@tools/windows/build-qt.sh $(QT_MINGW) >/dev/null

# zq-programmer.exe, zq-programmer-demo.exe and zqprog.exe in $(WIN_BUILD)/.
windows: windows-deps $(WIN_BUILD)/build.ninja
	cmake --build $(WIN_BUILD) -j $(JOBS) --target zq-programmer zq-programmer-demo zqprog

# $(WIN_BUILD)/zq-programmer-<version>-windows-x64.zip
windows-zip: windows
	cmake --build $(WIN_BUILD) -j $(JOBS) --target windows-zip
	@ls -1 $(WIN_BUILD)/*.zip

# Everything under wine: the WinUSB, SetupAPI and notification smoke programs, zqprog.exe over the
# emulated board, the window's and the operations' Qt Test programs, and the demo window on a
# private X server, pressed, photographed for the README (docs/demo-windows.png) and closed.
check-windows: windows
	cmake --build $(WIN_BUILD) -j $(JOBS)
	SCREENSHOT=$(CURDIR)/docs/demo-windows.png tools/windows/check.sh $(WIN_BUILD)

# libFuzzer targets (clang, own build folder build-fuzz); each runs FUZZ_SECONDS on a copy of its seeds.
FUZZ_SECONDS ?= 60
fuzz:
	tools/fuzz.sh $(FUZZ_SECONDS)

# Benchmarks (own build folder build-bench): throughput, idle CPU, window latency, start-up.
# Each prints name=value lines; nothing is asserted.
bench:
	tools/bench.sh $(BENCH_BUILD)
