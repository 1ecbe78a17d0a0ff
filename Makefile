# Set-up and build wrapper around CMake.
#   make run   - install missing Debian packages, build, start the application
#   make test  - install missing Debian packages, build, run every test
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
DEB_PACKAGES := cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev \
	libgtest-dev libgmock-dev fonts-liberation mdbtools xvfb
ORACLE_DIR := tools/oracle

.PHONY: all deps build run test test-asan oracles fuzz bench clean

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" != "0" ]; then \
	    echo "Missing packages. Run as root:"; \
	    echo "  apt-get update && apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	  echo "Installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

# The independent reader used to check the engine (mdb-reader, from npm). Optional for building.
oracles:
	@if command -v npm >/dev/null 2>&1 && [ ! -d $(ORACLE_DIR)/node_modules/mdb-reader ]; then \
	  (cd $(ORACLE_DIR) && npm ci --no-audit --no-fund --loglevel=error) || echo "warning: mdb-reader not installed"; \
	fi

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/bin/tabulonix

test: build oracles
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# Engine and object model under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTABULONIX_SANITIZE=ON -DTABULONIX_GUI=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS) --timeout 900

fuzz: deps
	bash fuzz/run.sh

bench: build
	bash bench/run.sh

clean:
	rm -rf $(BUILD_DIR) build-asan build-fuzz
