# Front door. `make demo` runs the reference host's delivery demo on an
# embedded simulated dispenser, installing only the packages the build needs
# (scripts/install-deps: groups build, test, windows, fuzz, tidy; `make test`
# installs them all). `make check` is the developer's loop: the
# normal build and every test not labelled slow. `make test` runs every phase
# as CI does: the normal build, AddressSanitizer+UBSan, ThreadSanitizer, the
# headless build (no Qt at all), the Windows builds (MinGW-w64) under Wine, the
# fuzz targets (clang) and the function-size check. `make package` builds the
# Debian packages (build/default/*.deb, scripts/build-debs).
JOBS ?= $(shell nproc)
# Tests mostly wait on the wire and on timers: several per core.
CTEST_ARGS ?= --no-tests=error --output-on-failure -j $(shell echo $$(( $(JOBS) * 4 )))
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
# Precompiled headers: the cache keys on their contents, not their times.
export CCACHE_SLOPPINESS ?= pch_defines,time_macros,include_file_mtime,include_file_ctime
endif

.PHONY: all deps deps-test deps-all build demo package check test test-steps fuzz format clean \
  test-default test-asan test-tsan test-headless test-windows test-windows-all test-fuzz test-tidy \
  build-default build-default-tests build-asan build-tsan build-headless build-windows build-fuzz \
  run-default run-asan run-tsan run-headless run-windows run-tidy

all: build

deps:
	@bash scripts/install-deps build
deps-test:
	@bash scripts/install-deps build test
deps-all:
	@bash scripts/install-deps --all

build: deps build-default

demo: build
	bash scripts/demo build/default

package: build
	bash scripts/build-debs build/default

# Every phase, as CI runs it. Each phase is a build and a test run; the builds
# go one after another (each uses every core), and a phase's tests, which
# mostly wait on the wire, run while the next phase builds. Output is kept
# together per step. Any failed step fails the whole.
test: deps-all
	@$(MAKE) --no-print-directory -k -j3 --output-sync=target ZARVIK_ALL_PHASES=1 test-steps

test-steps: run-default run-asan run-tsan run-headless run-windows build-fuzz run-tidy
ifdef ZARVIK_ALL_PHASES
build-asan: build-default-tests
build-tsan: build-asan
build-headless: build-tsan
build-windows: build-headless
fuzz: build-windows
run-tidy: build-fuzz
endif

# The developer's loop: the normal build and every test not labelled slow.
check: deps-test build-default-tests
	ctest --test-dir build/default $(CTEST_ARGS) -LE slow

# One phase alone: its build, then its tests.
test-default: build-default-tests run-default
test-asan: build-asan run-asan
test-tsan: build-tsan run-tsan
test-headless: build-headless run-headless
test-windows: build-windows run-windows
test-fuzz: build-fuzz
test-tidy: run-tidy

# The normal build: the libraries, the programs and the benchmarks (what
# `make demo` and `make package` need); the test programs only with the tests.
# In `make test` the unit tests run in the sanitizer build and, optimised,
# under Wine: this phase adds only the tests that cannot run under the
# sanitizers (packages, the installed tree, the walk-through, the Python and
# Pascal hosts).
ifdef ZARVIK_ALL_PHASES
DEFAULT_TESTS := tests-no-sanitizer
DEFAULT_SELECT := -L no-sanitizer
else
DEFAULT_TESTS :=
DEFAULT_SELECT :=
endif
build-default:
	cmake --preset default -DZARVIK_TESTS_IN_ALL=OFF >/dev/null
	cmake --build build/default -j $(JOBS)
build-default-tests: build-default
	cmake --preset default -DZARVIK_TESTS_IN_ALL=ON >/dev/null
	cmake --build build/default -j $(JOBS) $(if $(DEFAULT_TESTS),--target $(DEFAULT_TESTS))
run-default: build-default-tests
	ctest --test-dir build/default $(CTEST_ARGS) $(DEFAULT_SELECT)

build-asan:
	cmake --preset asan >/dev/null
	cmake --build build/asan -j $(JOBS)
run-asan: build-asan
	ctest --test-dir build/asan $(CTEST_ARGS) -LE no-sanitizer

# The phases below run the tests of one label and build only what those need:
# the target tests-<label> (cmake/ZarvikTests.cmake).
# Threaded code (timer, windows, port service) under ThreadSanitizer.
build-tsan:
	cmake --preset tsan >/dev/null
	cmake --build build/tsan -j $(JOBS) --target tests-tsan
run-tsan: build-tsan
	ctest --test-dir build/tsan $(CTEST_ARGS) -L tsan

# Without the windows: the library, the port service, the simulator and the
# command-line host built with no Qt at all, and the tests of what differs
# there (the library without windows, its boundary, the host's command line,
# no Qt linked, the package). The other tests run in the normal build.
build-headless:
	cmake --preset headless >/dev/null
	cmake --build build/headless -j $(JOBS) --target tests-headless
run-headless: build-headless
	ctest --test-dir build/headless $(CTEST_ARGS) -L headless

# ZarvikTrk.dll, zarvik-host.exe and the tests Wine runs (scripts/windows-phase:
# which build runs them where, and the scratch prefix's wineserver stopped
# whatever the outcome). The end-to-end test compares with the native host, so
# the default build comes first. `make test-windows-all` runs every test in both.
build-windows:
	JOBS=$(JOBS) bash scripts/windows-phase build
run-windows: build-windows
	JOBS=$(JOBS) bash scripts/windows-phase run

test-windows-all:
	JOBS=$(JOBS) bash scripts/windows-phase all

# The libFuzzer targets, built with clang so `make fuzz` cannot break unseen.
build-fuzz: fuzz

fuzz: deps-all
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j $(JOBS) --target fuzzers
	@echo "run: build/fuzz/fuzz/fuzz_replies -max_total_time=60 fuzz/corpus/replies (likewise fuzz_collect, fuzz_framer; fuzz_dumpfile with -dict=fuzz/dumpfile.dict)"

# No function of the libraries or programs over 80 lines (clang-tidy over the
# normal build's compile commands; last, as it uses every core).
run-tidy:
	cmake --preset default >/dev/null
	bash scripts/tidy build/default

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
