# Entry point for users and CI. `make test` is all a fresh Debian 12 machine needs.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CORPUS     ?= $(abspath ../shared/corpus)

.PHONY: all deps configure build demo test package asan-test tsan-test fuzz fuzz-build bench clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Renders the demo venue with the demo video to out/demo.mp4 and out/demo.png.
demo: build
	scripts/demo $(BUILD)

# A case that fails is run once more before it counts: the shared Xvfb has refused a
# single connection now and then on a loaded machine. Every retry is in the log.
test: build
	scripts/with-display ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --repeat until-pass:2

# The Debian package, $(BUILD)/lumbrix_VERSION_ARCH.deb, of what `cmake --install` installs.
package: build
	cmake --build $(BUILD) --target package

# Every test that needs no display, again under ASan+UBSan.
asan-test: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMBRIX_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure --repeat until-pass:2 -j $(JOBS) -LE gui

# The threaded code (NDI discovery and capture, the main-queue hand-over) under
# ThreadSanitizer, against the fake NDI runtime.
TSAN_TARGETS = ndi_tests fake_ndi_tests platform_tests
tsan-test: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBRIX_TSAN=ON -DLUMBRIX_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(abspath tests/tsan.supp) ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -L "ndi|platform$$"

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBRIX_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzzers $(FUZZ_BUILD)/bin $(FUZZ_SECONDS) $(abspath tests/data) "$(CORPUS)"

bench: build
	$(BUILD)/bin/bench_obj_load
	$(BUILD)/bin/bench_fbx_load
	$(BUILD)/bin/bench_render_frame
	$(BUILD)/bin/bench_ndi_upload
	$(BUILD)/bin/bench_video_playback
	$(BUILD)/bin/bench_record
	$(BUILD)/bin/bench_viewer_model_load
	$(BUILD)/bin/bench_venue_sources
	scripts/with-display $(BUILD)/bin/bench_viewer_window

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
