# The two commands: `make demo` runs the main job, `make test` passes the tests.
# Both install what they need first (idempotent) and build both targets.
# `make fuzz` runs every fuzz target for FUZZ_SECONDS each; `make test` runs
# them for a few seconds as a smoke test.
.PHONY: all setup build build-fuzz test fuzz demo clean

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

clean:
	rm -rf build/native build/win32 build/release build/demo build/fuzz
