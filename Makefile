# Set-up and build wrapper around CMake.
#   make run   - install missing Debian packages, build, start the application
#   make test  - install missing Debian packages, build, run every test
#   make package - the Debian package build/tabulonix_<version>_<arch>.deb
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
DEB_PACKAGES := cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev \
	libgtest-dev libgmock-dev fonts-liberation mdbtools xvfb \
	libpq-dev libsqlite3-dev libsimdjson-dev postgresql libssl-dev zlib1g-dev \
	dpkg-dev help2man librsvg2-bin desktop-file-utils xdg-utils shared-mime-info man-db appstream \
	bash-completion
ORACLE_DIR := tools/oracle

.PHONY: all deps build run test test-asan oracles fuzz bench package clean

all: build

# Missing Debian packages, found when a goal that builds is asked for. A user who cannot install
# them gets the one command to run and nothing else happens.
BUILD_GOALS := all build run test test-asan fuzz bench package
ifneq ($(filter $(BUILD_GOALS),$(or $(MAKECMDGOALS),all)),)
MISSING := $(strip $(foreach p,$(DEB_PACKAGES),$(if $(shell dpkg-query -W -f='$${Status}' $(p) 2>/dev/null | grep -q "install ok installed" && echo y),,$(p))))
ifneq ($(MISSING),)
ifneq ($(shell id -u),0)
$(error Missing packages; run as root: apt-get update && apt-get install -y $(MISSING))
endif
endif
endif

deps:
	@if [ -n "$(MISSING)" ]; then \
	  echo "Installing: $(MISSING)"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(MISSING); \
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
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display to show the window on: set DISPLAY (for example start Xvfb :99 and DISPLAY=:99)."; \
	  exit 1; \
	fi
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
	bash bench/run.sh $(BUILD_DIR)

# The package holds only what package_files builds (the programs, their data, manual pages, icons).
package: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS) --target package_files
	cd $(BUILD_DIR) && cpack --config CPackConfig.cmake

clean:
	rm -rf $(BUILD_DIR) build-asan build-fuzz
