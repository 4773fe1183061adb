# Thin wrapper over CMake. Binaries land in build/bin/.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
CONFIGURE   = cmake -S . -G Ninja $(CMAKE_FLAGS)

.PHONY: all deps deps-test deps-bench build run test test-plain test-asan test-tsan bench clean

all: build

# Installs the Debian packages the build needs; deps-test and deps-bench add
# what the tests and the benchmarks need.
deps:
	@bash scripts/install-deps.sh run
deps-test:
	@bash scripts/install-deps.sh test
deps-bench:
	@bash scripts/install-deps.sh bench

# Order-only, and only while a build tree is missing or was configured without
# the option (TELORIA_TESTS, TELORIA_BENCH) the target needs: a fresh clone
# installs the packages before its first configure, a present build tree does not.
deps_for = $(if $(wildcard $(1)/build.ninja),,$(2))
deps_with = $(if $(shell grep -s '^$(2):BOOL=ON' $(1)/CMakeCache.txt),,$(3))

# The programs alone: no test or benchmark library is looked for or built.
build: | $(call deps_for,$(BUILD),deps)
	$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELORIA_TESTS=OFF -DTELORIA_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS)

# Opens the window; with no --service it starts the bundled lookup service on loopback itself.
run: build
	$(BUILD)/bin/teloria $(ARGS)

test: test-plain test-asan

test-plain: | $(call deps_with,$(BUILD),TELORIA_TESTS,deps-test)
	$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELORIA_TESTS=ON -DTELORIA_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer; any finding fails it.
test-asan: | $(call deps_with,$(ASAN_BUILD),TELORIA_TESTS,deps-test)
	$(CONFIGURE) -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTELORIA_SANITIZE=ON -DTELORIA_BENCH=OFF -DTELORIA_TESTS=ON -DTELORIA_TEST_PER_PROGRAM=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Every test program under ThreadSanitizer; slow, so not part of make test.
test-tsan: | $(call deps_with,$(TSAN_BUILD),TELORIA_TESTS,deps-test)
	$(CONFIGURE) -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELORIA_TSAN=ON -DTELORIA_BENCH=OFF -DTELORIA_TESTS=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$(CURDIR)/tests/tsan.supp \
	ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS)

bench: | $(call deps_with,$(BUILD),TELORIA_BENCH,deps-bench)
	$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELORIA_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)
	bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
