# One-word commands over the CMake presets (see CMakePresets.json). Every target first installs
# whatever system packages are missing.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)
APP := $(BUILD_DIR)/app/glowstep-configurator
DEMO := $(BUILD_DIR)/tools/demo/glowstep-demo
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')

.PHONY: all deps deps-windows deps-arm64 deps-fuzz deps-kernel build run demo screenshot translations package check-packaging test test-windows test-arm64 test-kernel differential asan tsan test-under-load fuzz format format-check lint clean

all: build

deps:
	@scripts/install-deps

deps-windows:
	@scripts/install-deps windows

deps-arm64:
	@scripts/install-deps arm64

deps-fuzz:
	@scripts/install-deps fuzz

deps-kernel:
	@scripts/install-deps kernel

build: deps
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET)

run: build
	@scripts/run-gui $(APP)

demo: build
	@scripts/run-gui $(DEMO)

# The demo's window under a virtual X server, checked for its size and place and saved for the
# README, in English. LANG=..., SCALE=2 (200 %) or SCREEN=1920x1080 (device pixels) given here
# draw it in that language, at that scale or on that screen instead, saved as
# build/screenshot-<language>-<scale>x[-<screen>].png.
SCALE ?= 1
SCREENSHOT_LANG := $(if $(filter command line,$(origin LANG)),$(LANG),en_US.UTF-8)
ifeq ($(filter command line,$(origin LANG) $(origin SCALE) $(origin SCREEN)),)
SCREENSHOT ?= docs/screenshot.png
else
SCREENSHOT ?= build/screenshot-$(firstword $(subst ., ,$(SCREENSHOT_LANG)))-$(SCALE)x$(if $(SCREEN),-$(SCREEN)).png
endif
screenshot: build
	@LANG=$(SCREENSHOT_LANG) SCALE=$(SCALE) SCREEN=$(SCREEN) scripts/screenshot $(DEMO) $(SCREENSHOT)

# The .ts files brought up to date with the texts of the sources (then translate what is new).
translations: deps
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET) --target update_translations

# A Debian package of an optimised build (build/release/*.deb), checked by lintian.
package: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release
	@cd build/release && cpack -G DEB
	@lintian --fail-on error,warning --display-info build/release/glowstep-configurator_*.deb

check-packaging: deps
	@desktop-file-validate packaging/linux/glowstep-configurator.desktop
	@appstreamcli validate --no-net packaging/linux/io.github.glowstep.Configurator.metainfo.xml

test: build
	@ctest --preset $(PRESET)

# The Qt-free libraries cross-built with MinGW-w64, their tests run under wine.
test-windows: deps-windows
	@scripts/test-windows

# The Qt-free libraries and their tests cross-built for 64-bit ARM Linux, run under qemu-user.
test-arm64: deps-arm64
	@cmake --workflow --preset arm64

# The Linux HID backend against Debian's own kernel in a virtual machine, with the controller made
# by the kernel's USB gadget stack (tests/kernel/run-vm). SCENARIOS="list-read write" runs some of
# them; CONSOLE=1 shows the machine's console as it runs.
test-kernel: deps-kernel build
	@tests/kernel/run-vm $(if $(CONSOLE),--console) $(BUILD_DIR) $(SCENARIOS)

# The extended-precision arithmetic against the x87 unit at length (x86 only; COUNT operations).
COUNT ?= 50000000
differential: build
	@$(BUILD_DIR)/tests/base/extended-differential $(COUNT)

asan: deps
	@cmake --workflow --preset asan

tsan: deps
	@cmake --workflow --preset tsan

# Both sanitizer suites several times over, and the protocol and HID tests many times, while
# busy processes load every core (slow: not part of CI; see scripts/test-under-load).
test-under-load: deps
	@scripts/test-under-load

# Every parser of outside input under libFuzzer with the sanitizers, FUZZ_SECONDS (60) each.
fuzz: deps-fuzz
	@scripts/fuzz

format:
	@clang-format -i $(FORMAT_FILES)

format-check:
	@clang-format --dry-run --Werror $(FORMAT_FILES)

# clang-tidy with .clang-tidy (naming included) over every source the build compiles and the
# project's headers they include; any finding fails.
lint: build
	@scripts/lint $(BUILD_DIR)

clean:
	@rm -rf build
