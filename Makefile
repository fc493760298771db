# Front door. `make demo` runs the reference host's delivery demo on an
# embedded simulated dispenser; `make test` builds and runs every test in the
# normal build, then under AddressSanitizer+UBSan and ThreadSanitizer, then in
# the headless build (no Qt at all), then the Windows builds (MinGW-w64) under
# Wine; `make package` builds the .deb (build/default/zarvik-trk_VERSION_ARCH.deb).
JOBS ?= $(shell nproc)
CTEST_ARGS ?= --output-on-failure -j $(JOBS)
export QT_QPA_PLATFORM ?= offscreen

# A compiler cache, when the machine has one: a rebuild, another build tree or
# a fresh clone in another folder of the same machine compiles only what
# changed. Paths are taken relative to the checkout, so clones share entries.
ifneq ($(shell command -v ccache 2>/dev/null),)
export CMAKE_CXX_COMPILER_LAUNCHER ?= ccache
export CMAKE_C_COMPILER_LAUNCHER ?= ccache
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
export CCACHE_MAXSIZE ?= 20G
endif

.PHONY: all deps build demo package test test-default test-asan test-tsan test-headless test-windows test-windows-all test-windows-native-tools fuzz format clean

all: build

deps:
	@bash scripts/install-deps

build: deps
	cmake --preset default >/dev/null
	cmake --build build/default -j $(JOBS)

demo: build
	bash scripts/demo build/default

package: build
	cd build/default && cpack -G DEB

test: deps test-default test-asan test-tsan test-headless test-windows

test-default:
	cmake --preset default >/dev/null
	cmake --build build/default -j $(JOBS)
	ctest --test-dir build/default $(CTEST_ARGS)

test-asan:
	cmake --preset asan >/dev/null
	cmake --build build/asan -j $(JOBS)
	ctest --test-dir build/asan $(CTEST_ARGS) -LE no-sanitizer

# Threaded code (timer, windows, port service) under ThreadSanitizer: only the
# programs of the tests labelled tsan are built (a test whose program is not
# built fails as "not found", so a new tsan test program must be added here).
TSAN_TARGETS = ZarvikTrk protocol_tests driver_tests driver_alloc_tests sim_tests \
  sim_endpoint_tests port_tests capture_tests timer_tests library_station_e2e_tests \
  ui_grid_tests ui_window_tests ui_menu_entry_tests ui_closing_tests stationwindow_tests stationwindow_live_tests
test-tsan:
	cmake --preset tsan >/dev/null
	cmake --build build/tsan -j $(JOBS) --target $(TSAN_TARGETS)
	ctest --test-dir build/tsan $(CTEST_ARGS) -L tsan

# Without the windows: the library, the port service, the simulator and the
# command-line host built with no Qt at all, and the tests of what differs
# there (the library without windows, its boundary, the host's command line,
# no Qt linked, the package). The other tests run in the normal build.
HEADLESS_TARGETS = ZarvikTrk zarvik-host zarvik-sim zarvik-host-man zarvik-sim-man library_tests library_dlopen_tests
test-headless:
	cmake --preset headless >/dev/null
	cmake --build build/headless -j $(JOBS) --target $(HEADLESS_TARGETS)
	ctest --test-dir build/headless $(CTEST_ARGS) -L 'library|install'
	ctest --test-dir build/headless $(CTEST_ARGS) -R '^tools\.(HeadlessNeedsNoQt|host_cli)$$'

# ZarvikTrk.dll, zarvik-host.exe and the tests Wine runs. One Windows build
# runs every test under Wine: the 32-bit one, or the 64-bit one where Wine's
# 32-bit loader cannot run (a kernel without 32-bit support); the other builds
# its DLL and host and checks the DLL's exports and the version resources. Only
# the targets the tests need are built.
# The end-to-end test drives the native simulator with zarvik-host.exe and
# compares with the native host, so those two come from the default build.
# `make test-windows-all` runs every test in both.
WINDOWS_TARGETS = ZarvikTrk zarvik-host version_resource_check protocol_tests driver_tests driver_alloc_tests library_dlopen_tests port_tests
test-windows-native-tools:
	cmake --preset default >/dev/null
	cmake --build build/default -j $(JOBS) --target zarvik-sim zarvik-host

test-windows: test-windows-native-tools
	@if /usr/lib/wine/wine --version >/dev/null 2>&1; then full=windows-i686 dll=windows-x64; \
	else full=windows-x64 dll=windows-i686; \
	  echo "test-windows: Wine's 32-bit loader cannot run here: the 64-bit build runs the Wine tests"; fi; \
	set -x; \
	cmake --preset $$full >/dev/null && \
	cmake --build build/$$full -j $(JOBS) --target $(WINDOWS_TARGETS) && \
	ctest --test-dir build/$$full $(CTEST_ARGS) && \
	cmake --preset $$dll >/dev/null && \
	cmake --build build/$$dll -j $(JOBS) --target ZarvikTrk zarvik-host version_resource_check && \
	ctest --test-dir build/$$dll $(CTEST_ARGS) -R '^windows\.(Exports|VersionResources)'

test-windows-all: test-windows-native-tools
	for p in windows-i686 windows-x64; do \
	  cmake --preset $$p >/dev/null && \
	  cmake --build build/$$p -j $(JOBS) --target $(WINDOWS_TARGETS) && \
	  ctest --test-dir build/$$p $(CTEST_ARGS) || exit 1; \
	done

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j $(JOBS)
	@echo "run: build/fuzz/fuzz/fuzz_replies -max_total_time=60 fuzz/corpus/replies (likewise fuzz_collect, fuzz_framer; fuzz_dumpfile with -dict=fuzz/dumpfile.dict)"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
