# make demo  - set up, build, and run the filter host on the sample install
# make test  - set up, then every test: normal, ASan+UBSan, ThreadSanitizer, and
#              a bounded run of every fuzz target
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD := build
ASAN_BUILD := build-asan
TSAN_BUILD := build-tsan
FUZZ_BUILD := build-fuzz
# The module's profile-recording build and the record it leaves.
PROFILE_BUILD := build-profile
PROFILE_DIR := $(CURDIR)/$(PROFILE_BUILD)/profile
# ccache, where installed, shares compiled objects between build trees.
CCACHE := $(shell command -v ccache 2>/dev/null)
CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  $(if $(CCACHE),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: all setup build demo test test-normal test-asan test-tsan test-fuzz fuzz-build fuzz bench clean

all: build

# Installs whatever the build and the tests need and is not yet installed.
setup:
	@bash tools/setup.sh

# The module is built twice: once to record where the sample requests spend
# their time, then optimised from that record.
build: setup
	cmake -S . -B $(PROFILE_BUILD) $(CMAKE_FLAGS) -DHX_PROFILE=generate -DHX_PROFILE_DIR=$(PROFILE_DIR) -DHX_BENCH=OFF
	cmake --build $(PROFILE_BUILD) -j $(JOBS) --target hxhost stage
	bash tools/train_profile.sh $(PROFILE_BUILD) $(PROFILE_DIR)
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DHX_PROFILE=use -DHX_PROFILE_DIR=$(PROFILE_DIR)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@bash tools/demo.sh $(BUILD)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: setup
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DHX_SANITIZE=ON -DHX_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# Concurrency tests carry "Concurrent" in their suite name.
test-tsan: setup
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_FLAGS) -DHX_TSAN=ON -DHX_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && GTEST_FILTER='*Concurrent*' TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --output-on-failure -j $(JOBS)

# The libFuzzer targets of fuzz/ (clang, ASan and UBSan), each from its seed
# corpus in fuzz/corpus/. test-fuzz runs a bounded number of inputs each
# (fuzz_dom_source: FUZZ_DOM_SOURCE_SECONDS); new inputs go to the build tree.
# `make fuzz` runs every target at once, one process each, for FUZZ_SECONDS
# and keeps new corpus entries and crashes in fuzz-findings/.
FUZZ_BINS := fuzz_dom_source fuzz_request fuzz_settings_files fuzz_registry_file fuzz_resource_library fuzz_request_helpers

fuzz-build: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_FLAGS) -DHX_SANITIZE=ON -DHX_BENCH=OFF -DHX_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_BINS) stage

test-fuzz: fuzz-build
	bash tools/fuzz.sh $(FUZZ_BUILD) bounded

fuzz: fuzz-build
	bash tools/fuzz.sh $(FUZZ_BUILD) long

test: test-normal test-asan test-tsan test-fuzz
	@echo "all test runs passed"

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) $(PROFILE_BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
