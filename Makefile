# The kit's three commands. Each installs the Debian packages it needs when they are missing.
#   make build   native libraries, stand-ins and tools into dist/linux, Windows parts into dist/windows
#   make test    builds everything and runs every test (native, sanitizers, Windows under Wine:
#                32-bit first, then 64-bit)
#   make tsan    the libraries' thread tests under ThreadSanitizer (part of make test)
#   make demo    the kit's main job on a software key, then Keywarden showing an inserted key
#   make screenshots  pictures of Keywarden in docs/
#   make package Debian packages of the native kit into dist/packages
#   make installer  Windows setup programs (NSIS) into dist/installer
JOBS ?= $(shell nproc)
CMAKE_BUILD = cmake --build
.PHONY: build test demo demo-products deps native windows windows-x86 mingw-deps-x64 mingw-deps-x86 asan tsan bench fuzz \
	fuzz-smoke clean screenshots package installer

build: deps native windows

deps:
	@scripts/deps.sh native windows

native: deps
	cmake --preset linux >/dev/null
	$(CMAKE_BUILD) build/linux -j $(JOBS)
	cmake --install build/linux >/dev/null

# What a Windows tree links and no Debian package has for mingw (pugixml, libcrypto), built once
# into a cache; every target that configures a Windows tree has it first. The script installs
# the packages its width needs.
mingw-deps-x64:
	scripts/mingw-deps.sh x64

mingw-deps-x86:
	scripts/mingw-deps.sh x86

windows: deps mingw-deps-x64
	cmake --preset windows-x64 >/dev/null
	$(CMAKE_BUILD) build/windows-x64 -j $(JOBS)
	cmake --install build/windows-x64 >/dev/null

# 32-bit Windows, the target machines: products into dist/windows-x86, tests under 32-bit Wine.
windows-x86: deps mingw-deps-x86
	cmake --preset windows-x86 >/dev/null
	$(CMAKE_BUILD) build/windows-x86 -j $(JOBS)
	cmake --install build/windows-x86 >/dev/null

asan:
	cmake --preset linux-asan >/dev/null
	$(CMAKE_BUILD) build/linux-asan -j $(JOBS)

# The thread tests under ThreadSanitizer, which fail on any report; one of them runs against a
# Sealgate built with a race planted on purpose and must see it.
tsan: deps
	cmake --preset linux-tsan >/dev/null
	$(CMAKE_BUILD) build/linux-tsan -j $(JOBS) --target sealform_thread_tests \
		sealgate_thread_tests sealgate_thread_tests_planted
	ctest --test-dir build/linux-tsan -L threads --output-on-failure

test: build windows-x86 asan tsan package installer fuzz-smoke
	scripts/run-tests.sh

# Debian packages (CPack) from a tree of their own, installed under /usr.
package: deps
	@scripts/deps.sh package
	cmake --preset linux-package >/dev/null
	$(CMAKE_BUILD) build/linux-package -j $(JOBS)
	rm -rf dist/packages && mkdir -p dist/packages
	cd build/linux-package && cpack -B $(CURDIR)/dist/packages >/dev/null
	rm -rf dist/packages/_CPack_Packages

# One 32-bit setup program (and its development variant) from both Windows trees.
installer: deps windows windows-x86
	@scripts/deps.sh installer
	packaging/windows/make-installer.sh dist/installer >/dev/null

# The demo runs the installed native products, then builds Keywarden in the 64-bit Windows
# tree. It installs only the packages of those two, and builds the products without the tests
# and benchmarks: the tree is the one `make native` uses, whose next configure turns them on
# again and builds only what is missing.
demo-products:
	@scripts/deps.sh demo
	cmake --preset linux -DKIT_TESTS=OFF -DKIT_BENCH=OFF >/dev/null
	$(CMAKE_BUILD) build/linux -j $(JOBS)
	cmake --install build/linux >/dev/null

demo: demo-products mingw-deps-x64
	scripts/demo.sh

# Pictures of Keywarden (main window in each language, tray menu, balloon) into docs/.
screenshots: mingw-deps-x64
	@scripts/deps.sh demo
	cmake --preset linux >/dev/null
	$(CMAKE_BUILD) build/linux -j $(JOBS) --target keva-testkeys softkey
	cmake --preset windows-x64 >/dev/null
	$(CMAKE_BUILD) build/windows-x64 -j $(JOBS) --target Keywarden keywarden-remote softkey-notify keva_lib
	scripts/screenshots.sh docs

bench: deps native
	scripts/bench.sh

fuzz: deps
	@scripts/deps.sh fuzz
	cmake --preset fuzz >/dev/null
	$(CMAKE_BUILD) build/fuzz -j $(JOBS) --target fuzz_targets
	scripts/fuzz.sh

# Every fuzz target for a few seconds on its committed corpus; fails on any report.
fuzz-smoke: deps
	@scripts/deps.sh fuzz
	cmake --preset fuzz >/dev/null
	$(CMAKE_BUILD) build/fuzz -j $(JOBS) --target fuzz_targets
	scripts/fuzz.sh --smoke

clean:
	rm -rf build dist
