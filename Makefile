# Two commands for a fresh Debian 12 machine: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PACKAGES := cmake make g++ pkg-config libgtest-dev libgmock-dev libcurl4-openssl-dev \
            ca-certificates qt6-base-dev fonts-ipafont-gothic
CMAKE_FLAGS ?=

.PHONY: deps configure build run test screenshots bench fuzz clean

deps:
	@bash tools/install-deps.sh $(PACKAGES)

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/tarnwick

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
