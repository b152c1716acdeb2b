# Two commands for a fresh Debian 12 machine: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PACKAGES := cmake make g++ pkg-config libgtest-dev libgmock-dev libcurl4-openssl-dev \
            ca-certificates qt6-base-dev fonts-ipafont-gothic libqt6svg6
CMAKE_FLAGS ?=
BENCH_DIR ?= build-bench
BENCH_PACKAGES := libbenchmark-dev nginx wget curl time python3

.PHONY: deps configure build run test screenshots bench fuzz clean

deps:
	@bash tools/install-deps.sh $(PACKAGES)

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/tarnwick

# Each dialog rendered to build/screenshots/*.png with Qt's offscreen platform.
screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/src/app/tarnwick-screenshots $(BUILD_DIR)/screenshots

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Release build of the benchmarks only; runs every micro-benchmark program, then the
# side-by-side crawl against wget and curl (bench/README.md).
bench:
	@bash tools/install-deps.sh $(PACKAGES) $(BENCH_PACKAGES)
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_BENCH=ON \
	      -DTARNWICK_BUILD_APP=OFF -DTARNWICK_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS)
	@for program in $(BENCH_DIR)/bench/tarnwick_*_bench; do echo "== $$program"; $$program || exit 1; done
	python3 bench/crawl-vs-wget --crawler $(BENCH_DIR)/tools/tarnwick-crawl

clean:
	rm -rf $(BUILD_DIR)
