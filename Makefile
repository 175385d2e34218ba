# Everyday entry points. Every target installs what is missing first, so a
# fresh Debian machine needs nothing but these commands.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
GEN := -G Ninja
BUILD := build
CTEST_FLAGS := --output-on-failure -j $(JOBS) --timeout 300

.PHONY: all deps configure build run test bench sanitize tsan fuzz package check-package format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=Release -DTERVOLO_WERROR=$(if $(CI),ON,OFF)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	cd $(BUILD)/app && ./TervoloNG

# The release build compiles everything (benchmarks too, so they keep building
# under -Werror); the sanitizer builds compile only the binaries they run.
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest $(CTEST_FLAGS)

bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target bench_targets
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] || continue; echo "== $$b"; "$$b" --benchmark_min_time=0.05 || exit 1; done

# The checking builds keep line tables only (-g1, -gline-tables-only): the
# sanitizers' reports name file and line as before, and a full build's
# debug information cost a fifth of its compile time.
# Address (with leak detection) and undefined-behaviour sanitizers over the whole test suite.
sanitize: deps
	cmake -S . -B build-asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DTERVOLO_SANITIZE=address,undefined -DTERVOLO_WERROR=OFF \
	  -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1
	cmake --build build-asan -j $(JOBS) --target unit_tests
	cd build-asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 ctest $(CTEST_FLAGS)

# ThreadSanitizer over the tests that exercise concurrent code (label "tsan").
tsan: deps
	cmake -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERVOLO_SANITIZE=thread -DTERVOLO_WERROR=OFF \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
	cmake --build build-tsan -j $(JOBS) --target tsan_tests
	cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest $(CTEST_FLAGS) -L tsan

# libFuzzer targets built with clang, each run for a bounded time.
FUZZ_SECONDS ?= 20
fuzz: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERVOLO_FUZZ=ON -DTERVOLO_WERROR=OFF \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG"
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	@set -e; for f in build-fuzz/fuzz/fuzz_*; do [ -x "$$f" ] || continue; \
	  name=$$(basename $$f); corpus=fuzz/corpus/$${name#fuzz_}; work=build-fuzz/corpus-$$name; \
	  mkdir -p $$work; echo "== $$name"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -print_final_stats=0 $$work $$( [ -d $$corpus ] && echo $$corpus ) 2>&1 | tail -n 3; \
	  test $${PIPESTATUS[0]} -eq 0; done

# The Debian package, tervolong_<version>_<arch>.deb in $(BUILD)/packages.
package: build
	cmake --build $(BUILD) --target package

# The package built, checked by lintian, installed with apt into a minimal
# Debian 12 root and started there (root is needed for the root's mounts).
check-package: configure
	BUILD=$(BUILD) scripts/check-package

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
