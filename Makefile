# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands of the project: `make run` and `make test`.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps deps-run configure build run test install package clean check-sanitizers fuzz

all: build

deps:
	@scripts/install-deps test

deps-run:
	@scripts/install-deps run

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DZORBINKA_WERROR=ON $(CMAKE_FLAGS)

configure: $(BUILD_DIR)/CMakeCache.txt

build: deps configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Running needs the program alone: a build folder made for it builds no tests (a later `make test` adds them).
run: deps-run
	@[ -f $(BUILD_DIR)/CMakeCache.txt ] || cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DZORBINKA_WERROR=ON -DZORBINKA_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target zorbinka zorbinka_data zorbinka_classpage
	$(BUILD_DIR)/zorbinka DEMO

test: deps configure
	cmake -S . -B $(BUILD_DIR) -DZORBINKA_TESTS=ON > /dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# The whole suite under AddressSanitizer with UndefinedBehaviorSanitizer, then under ThreadSanitizer, each in a
# build folder of its own (the package tests need the plain build and are left out).
SANITIZER_CTEST = QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 3600 -E 'install_staged|debian_package|wayland_start'
check-sanitizers: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORBINKA_ASAN=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/fuzz/lsan.supp $(SANITIZER_CTEST)
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORBINKA_TSAN=ON
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && $(SANITIZER_CTEST)

# The fuzz targets built with clang's libFuzzer, each run FUZZ_SECONDS on a copy of its seed corpus.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZORBINKA_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzz_hiddescriptor fuzz_rtf fuzz_settings fuzz_experiment fuzz_stream fuzz_replies fuzz_jpeg fuzz_analysis fuzz_worklist fuzz_collection
	for target in hiddescriptor rtf settings experiment stream replies jpeg analysis worklist collection; do \
	  rm -rf build-fuzz/corpus-$$target && cp -r tests/fuzz/corpus/$$target build-fuzz/corpus-$$target && \
	  QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=fast_unwind_on_malloc=0 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/fuzz/lsan.supp \
	    build-fuzz/tests/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 build-fuzz/corpus-$$target || exit 1; \
	done

# Installs into /opt/zorbinka (DESTDIR stages it elsewhere); as root, or through sudo.
install: build
	cmake --install $(BUILD_DIR)

# A Debian package in build/: zorbinka_<version>_<arch>.deb.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf $(BUILD_DIR)
