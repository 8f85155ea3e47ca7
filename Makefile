# The two commands: `make demo` runs the main job, `make test` passes the tests.
# Both install what they need first (idempotent) and build both targets.
.PHONY: all setup build test demo clean

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

clean:
	rm -rf build/native build/win32 build/release build/demo
