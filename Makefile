# The kit's three commands. Each installs the Debian packages it needs when they are missing.
#   make build   native libraries, stand-ins and tools into dist/linux, Windows parts into dist/windows
#   make test    builds everything and runs every test (native, sanitizers, Windows under Wine)
#   make demo    the kit's main job on a software key, then Keywarden showing an inserted key
#   make screenshots  pictures of Keywarden in docs/
JOBS ?= $(shell nproc)
CMAKE_BUILD = cmake --build
.PHONY: build test demo deps native windows windows-x86 asan bench fuzz clean screenshots

build: deps native windows

deps:
	@scripts/deps.sh native windows

native:
	cmake --preset linux >/dev/null
	$(CMAKE_BUILD) build/linux -j $(JOBS)
	cmake --install build/linux >/dev/null

windows:
	scripts/mingw-deps.sh x64
	cmake --preset windows-x64 >/dev/null
	$(CMAKE_BUILD) build/windows-x64 -j $(JOBS)
	cmake --install build/windows-x64 >/dev/null

# 32-bit Windows: compile and link only (this kernel cannot run 32-bit programs).
windows-x86:
	scripts/mingw-deps.sh x86
	cmake --preset windows-x86 >/dev/null
	$(CMAKE_BUILD) build/windows-x86 -j $(JOBS)

asan:
	cmake --preset linux-asan >/dev/null
	$(CMAKE_BUILD) build/linux-asan -j $(JOBS)

test: build windows-x86 asan
	scripts/run-tests.sh

demo: deps native
	scripts/demo.sh

# Pictures of Keywarden (main window in each language, tray menu, balloon) into docs/.
screenshots: deps
	cmake --preset linux >/dev/null
	$(CMAKE_BUILD) build/linux -j $(JOBS) --target keva-testkeys softkey
	scripts/mingw-deps.sh x64
	cmake --preset windows-x64 >/dev/null
	$(CMAKE_BUILD) build/windows-x64 -j $(JOBS) --target Keywarden keywarden-remote softkey-notify keva_lib
	scripts/screenshots.sh docs

bench: deps native
	scripts/bench.sh

fuzz: deps
	cmake --preset fuzz >/dev/null
	$(CMAKE_BUILD) build/fuzz -j $(JOBS)
	scripts/fuzz.sh

clean:
	rm -rf build dist
