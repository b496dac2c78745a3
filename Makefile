# Entry point for users and CI. `make test` is all a fresh Debian 12 machine needs.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CORPUS     ?= $(abspath ../shared/corpus)

.PHONY: all deps configure build test asan-test fuzz fuzz-build bench clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Every test that needs no display, again under ASan+UBSan.
asan-test: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMBRIX_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -LE gui

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBRIX_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzzers $(FUZZ_BUILD)/bin $(FUZZ_SECONDS) "$(CORPUS)"

bench: build
	$(BUILD)/bin/bench_obj_load

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
