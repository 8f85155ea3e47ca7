# The two commands: `make demo` runs the main job, `make test` passes the tests.
# Both install what they need first (idempotent) and build both targets.
# `make fuzz` runs every fuzz target for FUZZ_SECONDS each; `make test` runs
# them for a few seconds as a smoke test. `make bench` measures the optimised
# builds against their peers; nothing in `make test` depends on it or on timing.
.PHONY: all setup build build-fuzz test fuzz demo bench clean

FUZZ_SECONDS ?= 60

all: build

setup:
	tools/setup.sh

build: setup
	cmake --preset native
	cmake --build --preset native
	cmake --preset win32
	cmake --build --preset win32

build-fuzz: setup
	cmake --preset fuzz
	cmake --build --preset fuzz

test: build build-fuzz
	ctest --preset native
	ctest --preset fuzz -j2
	ctest --preset win32

fuzz: build-fuzz
	QORV_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz -j2

demo: build
	tools/demo.sh

# The product as shipped (win32) with the bench programs, and the optimised
# native build of the extraction code.
bench: setup
	bench/setup.sh
	cmake --preset release
	cmake --build --preset release --target qorv-unzip zip-minimal-loop
	cmake --preset win32
	cmake --build --preset win32 --target QorvInstall qorv-unzip qorv-stub-test-shell \
		qorv-stub-test-client zip-minimal-loop qorv-download-bench wininet-minimal-loop \
		empty-program
	python3 bench/bench.py

clean:
	rm -rf build/native build/win32 build/release build/demo build/fuzz
