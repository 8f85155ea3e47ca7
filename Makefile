# The two commands: `make demo` runs the main job, `make test` passes the tests.
# Both install what they need first (idempotent) and build the native code and
# the 32-bit product; where this host cannot run 32-bit code (or with
# QORV_WINDOWS_TESTS=win64) they also build, test and demonstrate the same
# sources for 64-bit Windows (tools/windows-road.sh decides).
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
	if [ "$$(tools/windows-road.sh)" = win64 ]; then \
		cmake --preset win64 && cmake --build --preset win64; fi

build-fuzz: setup
	cmake --preset fuzz
	cmake --build --preset fuzz

test: build build-fuzz
	ctest --preset native
	ctest --preset fuzz -j2
	tools/windows-tests.sh

fuzz: build-fuzz
	QORV_FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --preset fuzz -j2

demo: build
	tools/demo.sh

# The Windows build of this host's road (the product as shipped where 32-bit
# code runs) with the bench programs, and the optimised native build of the
# extraction code and the rehearsal; bench.py builds the installer of before delivery by
# changes itself, from the repository's history.
bench: setup
	bench/setup.sh
	cmake --preset release
	cmake --build --preset release --target qorv-unzip zip-minimal-loop zip-stage-loop qorv-rehearse
	road=$$(tools/windows-road.sh) && cmake --preset $$road && \
	cmake --build --preset $$road --target QorvInstall Uninstall qorv-unzip qorv-stub-test-shell \
		qorv-stub-test-client zip-minimal-loop qorv-download-bench wininet-minimal-loop \
		empty-program qorv-winctl
	python3 bench/bench.py

clean:
	rm -rf build/native build/win32 build/win64 build/release build/demo build/fuzz \
		build/bench-before-*
