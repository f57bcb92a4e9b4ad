# Front door: `make demo` and `make test`. Both install missing Debian
# packages when run as root, and name the apt-get line otherwise.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

NATIVE_PACKAGES := cmake make g++ libgtest-dev
FUZZ_PACKAGES := clang libclang-rt-14-dev
# Seconds per fuzz target: a long look with `make fuzz`, a short one in `make test`.
FUZZ_SECONDS ?= 300
FUZZ_TEST_SECONDS ?= 30

.PHONY: all native asan test test-native test-asan demo deps-native clean deps-fuzz fuzz-build fuzz test-fuzz

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

deps-fuzz:
	@scripts/ensure-packages $(NATIVE_PACKAGES) $(FUZZ_PACKAGES)

fuzz-build: deps-fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzz $(FUZZ_SECONDS)

test-fuzz: fuzz-build
	scripts/run-fuzz $(FUZZ_TEST_SECONDS)

test: test-native test-asan test-fuzz

demo: native
	@scripts/demo-native

clean:
	rm -rf build
