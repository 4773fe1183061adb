# Thin wrapper over CMake. Binaries land in build/bin/.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
CONFIGURE   = cmake -S . -G Ninja $(CMAKE_FLAGS)

.PHONY: all deps build run test test-plain test-asan bench clean

all: build

# Installs the Debian packages the build needs.
deps:
	@bash scripts/install-deps.sh

# Order-only, and only while a build tree is missing: a fresh clone installs
# the packages before its first configure, a present build tree does not.
deps_for = $(if $(wildcard $(1)/build.ninja),,deps)

# The programs alone: no test library is looked for or built.
build: | $(call deps_for,$(BUILD))
	$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELORIA_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS)

# Opens the window; with no --service it starts the bundled lookup service on loopback itself.
run: build
	$(BUILD)/bin/teloria $(ARGS)

test: test-plain test-asan

test-plain: | $(call deps_for,$(BUILD))
	$(CONFIGURE) -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELORIA_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer; any finding fails it.
test-asan: | $(call deps_for,$(ASAN_BUILD))
	$(CONFIGURE) -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTELORIA_SANITIZE=ON -DTELORIA_BENCH=OFF -DTELORIA_TESTS=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

bench: build
	bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
