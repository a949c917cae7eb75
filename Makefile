# KORVA Manager: the two commands a newcomer needs are `make run` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all setup configure build run test fuzz package format clean windows

all: build

setup:
	@scripts/setup.sh

configure: setup
	@cmake --preset default > /dev/null

build: configure
	@cmake --build --preset default -j $(JOBS)

run: build
	@scripts/run.sh

# The Windows build (MinGW-w64): korva.exe and the headless tests, in
# build-windows; `ctest --preset windows` runs the tests under Wine.
windows: setup
	@cmake --preset windows > /dev/null
	@cmake --build --preset windows -j $(JOBS)

test: setup
	@scripts/test.sh

# Coverage-guided fuzzing of every reader of outside data: FUZZ_SECONDS per
# target (default 60) or FUZZ_RUNS executions; see scripts/fuzz.sh.
fuzz: setup
	@scripts/fuzz.sh

package: build
	@cd build && cpack -G DEB

format:
	@find core gui tools tests benchmarks -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz build-windows
