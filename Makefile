# The two commands: `make demo` runs the main job, `make test` passes the tests.
# Both install what they need first (idempotent) and build both targets.
# `make bench` measures the optimised builds against their peers; nothing in
# `make test` depends on it or on timing.
.PHONY: all setup build test demo bench clean

all: build

setup:
	tools/setup.sh

build: setup
	cmake --preset native
	cmake --build --preset native
	cmake --preset win32
	cmake --build --preset win32

test: build
	ctest --preset native
	ctest --preset win32

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
	rm -rf build/native build/win32 build/release build/demo
