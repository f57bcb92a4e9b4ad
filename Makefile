# Front door: `make demo` and `make test`. Both install missing Debian
# packages when run as root, and name the apt-get line otherwise.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

NATIVE_PACKAGES := cmake make g++ libgtest-dev

.PHONY: all native asan test test-native test-asan demo deps-native clean

all: native

deps-native:
	@scripts/ensure-packages $(NATIVE_PACKAGES)

native: deps-native
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

asan: deps-native
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

test-native: native
	ctest --preset native -j $(JOBS)

test-asan: asan
	ctest --preset asan -j $(JOBS)

test: test-native test-asan

demo: native
	@scripts/demo-native

clean:
	rm -rf build
