# Front door. `make demo` runs the reference host's delivery demo on an
# embedded simulated dispenser; `make test` builds and runs every test in the
# normal build, then under AddressSanitizer+UBSan and ThreadSanitizer;
# `make package` builds the .deb (build/default/zarvik-trk_VERSION_ARCH.deb).
JOBS ?= $(shell nproc)
CTEST_ARGS ?= --output-on-failure -j $(JOBS)
export QT_QPA_PLATFORM ?= offscreen

.PHONY: all deps build demo package test test-default test-asan test-tsan fuzz format clean

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

test: deps test-default test-asan test-tsan

test-default:
	cmake --preset default >/dev/null
	cmake --build build/default -j $(JOBS)
	ctest --test-dir build/default $(CTEST_ARGS)

test-asan:
	cmake --preset asan >/dev/null
	cmake --build build/asan -j $(JOBS)
	ctest --test-dir build/asan $(CTEST_ARGS) -LE no-sanitizer

# Threaded code (timer, windows, port service) under ThreadSanitizer.
test-tsan:
	cmake --preset tsan >/dev/null
	cmake --build build/tsan -j $(JOBS)
	ctest --test-dir build/tsan $(CTEST_ARGS) -L tsan

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j $(JOBS)
	@echo "run: build/fuzz/fuzz/fuzz_replies -max_total_time=60 fuzz/corpus/replies (likewise fuzz_collect, fuzz_framer; fuzz_dumpfile with -dict=fuzz/dumpfile.dict)"

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
