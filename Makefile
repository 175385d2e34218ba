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
#
# One clang build serves the address and undefined-behaviour sanitizers'
# suite and the fuzz targets: the code is compiled once with ASan, UBSan and
# libFuzzer's coverage instrumentation (-fsanitize=fuzzer-no-link), the test
# binaries link it as they are, the fuzz targets link it with libFuzzer. A
# separate fuzz build compiled every library a second time. The code under
# test takes -O1 (the tests' own sources -O0): at -O0 the standard library's
# layers, none of them inlined, made the screens' tests several times slower.
SANITIZE_BUILD := build-asan
SANITIZE_CONFIGURE := CC=clang-14 CXX=clang++-14 cmake -S . -B $(SANITIZE_BUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug \
  -DTERVOLO_FUZZ=ON -DTERVOLO_WERROR=OFF \
  "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -gline-tables-only" "-DCMAKE_C_FLAGS_DEBUG=-O1 -gline-tables-only"

# Address (with leak detection) and undefined-behaviour sanitizers over the whole test suite.
# clang 14's LeakSanitizer crashes in its own tracer ("Tracer caught signal 11") when it reads the
# dynamic-TLS ranges its __tls_get_addr interceptor noted: with this glibc a range can be bogus
# ("DTLS 11 at 0x150c-0x8000260e"), and a test that meets one crashes the tracer on every run.
# Without the interceptor the leak check still finds those blocks through glibc's own
# allocations, so it stays off. Should the tracer crash all the same, only the tests whose sole
# failure is that crash are run once more (scripts/tracer-crash-only sorts them out): any other
# failure fails at once, beside a tracer crash too, and so does a test that fails again.
SANITIZE_ENV := QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp UBSAN_OPTIONS=print_stacktrace=1
sanitize: deps
	$(SANITIZE_CONFIGURE)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target unit_tests
	cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) ctest $(CTEST_FLAGS) -O Testing/console.log || { \
	  rerun=$$($(CURDIR)/scripts/tracer-crash-only Testing/console.log Testing/Temporary/LastTest.log) && \
	  test -n "$$rerun" && \
	  echo "LeakSanitizer's tracer crashed after these tests had passed; running them once more:" && \
	  echo "$$rerun" && \
	  $(SANITIZE_ENV) ctest --output-on-failure \
	    -R "^($$(echo "$$rerun" | sed 's/[][\\.*^$$+?(){}|]/\\&/g' | paste -sd '|'))$$"; }

# ThreadSanitizer over the tests that exercise concurrent code (label "tsan").
# A process whose other threads still run at its end waits there for them,
# so that races during exit show; a second by default, which was two thirds
# of the suite's time (one process per test). A fifth of it still gives
# those threads their turn.
tsan: deps
	cmake -S . -B build-tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERVOLO_SANITIZE=thread -DTERVOLO_WERROR=OFF \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
	cmake --build build-tsan -j $(JOBS) --target tsan_tests
	cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 atexit_sleep_ms=200" ctest $(CTEST_FLAGS) -L tsan

# libFuzzer targets, each run for a bounded time, as many at once as there
# are jobs (each fuzzer uses one core).
FUZZ_SECONDS ?= 20
fuzz: deps
	$(SANITIZE_CONFIGURE)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target fuzz_targets
	scripts/run-fuzz $(SANITIZE_BUILD) $(FUZZ_SECONDS) $(JOBS)

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
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-tsan
