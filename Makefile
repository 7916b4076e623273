# Top-level driver: every target installs what it needs first (scripts/bootstrap),
# then builds with CMake. Nobody names a toolchain file.
#   make        build everything, run nothing
#   make run    the main job
#   make test   check the sources' format, build and run every test level
#   make fuzz   run each fuzz target for a bounded time
#   make bench  run the benchmarks
SHELL := /bin/bash
JOBS ?= $(shell nproc)
# Wine tests mostly wait (on windows, timers, the setups' slide shows), so
# twice as many run at once as there are cores.
WINE_JOBS ?= $(shell echo $$(( $(JOBS) * 2 )))
BUILD ?= build
FUZZ_SECONDS ?= 60

CMAKE_GEN := cmake -S . -G "Unix Makefiles" -Wno-dev
NATIVE := $(BUILD)/native
ASAN := $(BUILD)/asan
WIN64 := $(BUILD)/win64
WIN32 := $(BUILD)/win32
FUZZ := $(BUILD)/fuzz

.PHONY: all bootstrap native asan win64 win32 run test test32 fuzz bench clean

all: bootstrap
	$(MAKE) --no-print-directory native asan win64 win32

bootstrap:
	@scripts/bootstrap

$(NATIVE)/CMakeCache.txt:
	$(CMAKE_GEN) -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release
$(ASAN)/CMakeCache.txt:
	$(CMAKE_GEN) -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOZ_SANITIZE=ON
$(WIN64)/CMakeCache.txt:
	$(CMAKE_GEN) -B $(WIN64) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# The i686 tests may run under emulation (scripts/vm32): their time limits are
# scaled for it.
$(WIN32)/CMakeCache.txt:
	$(CMAKE_GEN) -B $(WIN32) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DVOZ_TEST_TIME_SCALE=8
$(FUZZ)/CMakeCache.txt:
	CC=clang CXX=clang++ $(CMAKE_GEN) -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOZ_FUZZ=ON

native: $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)
asan: $(ASAN)/CMakeCache.txt
	cmake --build $(ASAN) -j $(JOBS)
win64: $(WIN64)/CMakeCache.txt
	cmake --build $(WIN64) -j $(JOBS)
win32: $(WIN32)/CMakeCache.txt
	cmake --build $(WIN32) -j $(JOBS)

run: all
	@scripts/show-outputs $(BUILD)
	scripts/make-dist $(BUILD)

# Levels: native (ASan), x86-64 Windows under wine64, i686 Windows under
# 32-bit Wine (scripts/test-i686: on this machine when it runs 32-bit
# programs, otherwise in a virtual machine, where `make test` runs a chosen
# part of the level and `make test32` all of it).
test: all
	scripts/check-format
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)
	BUILD=$(BUILD) scripts/wine-env -- bash -c 'cd $(WIN64) && ctest --output-on-failure -j $(WINE_JOBS)'
	BUILD=$(BUILD) WINE_JOBS=$(WINE_JOBS) scripts/test-i686 $(WIN32)
	@echo "make test: all test levels passed"

test32: all
	BUILD=$(BUILD) WINE_JOBS=$(WINE_JOBS) scripts/test-i686 --all $(WIN32)

fuzz: bootstrap $(FUZZ)/CMakeCache.txt
	cmake --build $(FUZZ) -j $(JOBS)
	scripts/run-fuzz $(FUZZ) $(FUZZ_SECONDS)

bench: bootstrap native win64
	$(NATIVE)/bench/codec
	cmake --build $(NATIVE) --target bench_pack bench_diff
	BUILD=$(BUILD) scripts/bench-extract

clean:
	rm -rf $(BUILD)
