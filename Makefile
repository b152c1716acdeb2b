# Two commands for a fresh Debian 12 machine: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PACKAGES := cmake make g++ pkg-config libgtest-dev libgmock-dev libcurl4-openssl-dev \
            ca-certificates openssl qt6-base-dev fonts-ipafont-gothic libqt6svg6 \
            qt6-translations-l10n
CMAKE_FLAGS ?=
BENCH_DIR ?= build-bench
BENCH_PACKAGES := libbenchmark-dev nginx wget wget2 curl time python3
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_PACKAGES := clang libclang-rt-14-dev
WINDOW_CHECK_PACKAGES := xvfb openbox x11-utils
RELEASE_DIR ?= build-release
RELEASE_PACKAGES := dpkg-dev
# Debian's build flags with every hardening feature on; CMake takes the preprocessor's
# flags with the compiler's.
BUILD_FLAG = $$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get $(1))
PACKAGE_DIR ?= $(RELEASE_DIR)/package
PACKAGE_PACKAGES := file
PACKAGE_CHECK_PACKAGES := lintian desktop-file-utils appstream
# The tests that run threads: both queues, the worker, whole crawls over one and several
# connections with a stop, and the desktop program stopped, stopped twice or ended in the
# middle of a download.
THREADED_TESTS := UiMessageQueue|WorkQueue|CrawlWorker|CrawlSession|MainDialogTest\.RunPress

.PHONY: deps configure build run test test-sanitizers screenshots check-window release package \
        check-package bench-configure bench bench-tree fuzz clean

deps:
	@bash tools/install-deps.sh $(PACKAGES)

configure: deps
	cmake -S . -B $(BUILD_DIR) -DTARNWICK_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/tarnwick

# Each dialog rendered to build/screenshots/*.png with Qt's offscreen platform.
screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/src/app/tarnwick-screenshots $(BUILD_DIR)/screenshots

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The main window as a window manager sees it, under Xvfb (tools/check-window.sh).
check-window: build
	@bash tools/install-deps.sh $(WINDOW_CHECK_PACKAGES)
	bash tools/check-window.sh $(BUILD_DIR)/src/app/tarnwick

# The build a Debian packager makes: Release (-O3) with dpkg-buildflags' flags, warnings
# not fatal, its tests run.
release: deps
	@bash tools/install-deps.sh $(RELEASE_PACKAGES)
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WERROR=OFF \
	      -DCMAKE_CXX_FLAGS="$(call BUILD_FLAG,CXXFLAGS) $(call BUILD_FLAG,CPPFLAGS)" \
	      -DCMAKE_EXE_LINKER_FLAGS="$(call BUILD_FLAG,LDFLAGS)"
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	cd $(RELEASE_DIR) && ctest --output-on-failure -j $(JOBS)

# The Debian package of the Release build, made by CPack in $(PACKAGE_DIR)
# (packaging/CMakeLists.txt).
package: release
	@bash tools/install-deps.sh $(PACKAGE_PACKAGES)
	rm -rf $(PACKAGE_DIR)
	cpack --config $(RELEASE_DIR)/CPackConfig.cmake -B $(PACKAGE_DIR)

# The package through lintian, desktop-file-validate and appstreamcli, and its version
# against the one the programs show (tools/check-package.sh).
check-package: package screenshots
	@bash tools/install-deps.sh $(PACKAGE_CHECK_PACKAGES)
	bash tools/check-package.sh $(PACKAGE_DIR)/tarnwick_*.deb $(BUILD_DIR)/screenshots

# Release build of the benchmarks only.
bench-configure:
	@bash tools/install-deps.sh $(PACKAGES) $(BENCH_PACKAGES)
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_BENCH=ON \
	      -DTARNWICK_BUILD_APP=OFF -DTARNWICK_BUILD_TESTS=OFF

# Runs every micro-benchmark program, then the side-by-side crawls against wget, wget2 and
# curl, over loopback and through a proxy that adds network latency (http and https), then
# the memory bound on huge pages and the time lost on unreachable hosts (bench/README.md).
bench: bench-configure
	cmake --build $(BENCH_DIR) -j $(JOBS)
	@for program in $(BENCH_DIR)/bench/tarnwick_*_bench; do echo "== $$program"; $$program || exit 1; done
	python3 bench/crawl-vs-wget --crawler $(BENCH_DIR)/tools/tarnwick-crawl
	python3 bench/crawl-limits --crawler $(BENCH_DIR)/tools/tarnwick-crawl

# tarnwick-crawl and wget over an endless tree that nginx generates, from 12,221 URLs to
# more than a million (bench/tree-crawl; about ten minutes, bench/README.md).
bench-tree: bench-configure
	cmake --build $(BENCH_DIR) --target tarnwick-crawl -j $(JOBS)
	python3 bench/tree-crawl --crawler $(BENCH_DIR)/tools/tarnwick-crawl

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer, then the threaded
# tests under ThreadSanitizer; each in its own build folder. The first also builds the
# benchmark programs, which nothing else in CI compiles.
test-sanitizers: deps
	@bash tools/install-deps.sh libbenchmark-dev
	cmake -S . -B $(ASAN_DIR) -DTARNWICK_SANITIZE=address,undefined -DTARNWICK_BUILD_APP=OFF \
	      -DTARNWICK_BUILD_BENCH=ON -DTARNWICK_WERROR=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)
	cmake -S . -B $(TSAN_DIR) -DTARNWICK_SANITIZE=thread -DTARNWICK_WERROR=ON
	cmake --build $(TSAN_DIR) --target tarnwick_engine_tests tarnwick_app_tests -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1 \
	  ctest --output-on-failure -R '$(THREADED_TESTS)'

# Each libFuzzer target for FUZZ_SECONDS, from its seeds in fuzz/corpus (fuzz/run.sh).
fuzz:
	@bash tools/install-deps.sh $(PACKAGES) $(FUZZ_PACKAGES)
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DTARNWICK_SANITIZE=address,undefined \
	      -DTARNWICK_BUILD_FUZZ=ON -DTARNWICK_BUILD_APP=OFF -DTARNWICK_BUILD_TESTS=OFF \
	      -DTARNWICK_WERROR=ON
	cmake --build $(FUZZ_DIR) --target fuzzers -j $(JOBS)
	bash fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_DIR) $(RELEASE_DIR)
