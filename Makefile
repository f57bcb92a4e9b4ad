# Front door: `make demo` and `make test`. Both install missing Debian
# packages when run as root, and name the apt-get line otherwise.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

NATIVE_PACKAGES := cmake make g++ libgtest-dev
# The cross compiler, Wine and the X tools the Wine tests use. The i386
# libraries listed are ones Wine loads at run time (Debian only recommends them;
# recommended packages are installed too, as on the machines this was tested on).
WIN32_PACKAGES := g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 fonts-wine \
  libfreetype6:i386 libfontconfig1:i386 libxrender1:i386 libxext6:i386 libxrandr2:i386 \
  libxi6:i386 libxcursor1:i386 xvfb xauth xdotool imagemagick
FUZZ_PACKAGES := clang libclang-rt-14-dev
# Seconds per fuzz target: a long look with `make fuzz`, a short one in `make test`.
FUZZ_SECONDS ?= 300
FUZZ_TEST_SECONDS ?= 30

.PHONY: all native asan win32 test test-native test-asan test-wine demo deps-native deps-win32 clean \
  deps-fuzz fuzz-build fuzz test-fuzz bench

all: native

deps-native:
	@scripts/ensure-packages $(NATIVE_PACKAGES)

native: deps-native
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

asan: deps-native
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

# The launcher for Windows with the demo kit; the native kitpack packs it.
deps-win32:
	@scripts/ensure-packages $(WIN32_PACKAGES)

win32: native deps-win32
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)

test-native: native
	ctest --preset native -j $(JOBS)

test-asan: asan
	ctest --preset asan -j $(JOBS)

# End-to-end under Wine: builds launchers around test kits, then runs each
# case in a fresh prefix.
test-wine: win32
	ctest --preset win32 -j $(JOBS)

deps-fuzz:
	@scripts/ensure-packages $(NATIVE_PACKAGES) $(FUZZ_PACKAGES)

fuzz-build: deps-fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzz $(FUZZ_SECONDS)

test-fuzz: fuzz-build
	scripts/run-fuzz $(FUZZ_TEST_SECONDS)

# The cross compiler first: the native tests pack a real Windows program it makes.
test: deps-win32 test-native test-asan test-fuzz test-wine

demo: native win32
	@scripts/demo-native
	@scripts/demo-wine

# Speed of decoder and packer, natively and under Wine (see README).
bench: native win32
	@scripts/bench

clean:
	rm -rf build
