# Set-up and build wrapper around CMake.
#   make run   - install missing Debian packages, build, start the application
#   make test  - install missing Debian packages, build, run every test
#   make package - the Debian package build/tabulonix_<version>_<arch>.deb
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
DEB_PACKAGES := cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev \
	libgtest-dev libgmock-dev fonts-liberation mdbtools xvfb \
	libpq-dev libsqlite3-dev libsimdjson-dev postgresql libssl-dev zlib1g-dev gcovr \
	unixodbc unixodbc-dev python3-pyodbc python3-pandas odbc-mdbtools \
	dpkg-dev help2man librsvg2-bin desktop-file-utils xdg-utils shared-mime-info man-db appstream \
	bash-completion
ORACLE_DIR := tools/oracle

.PHONY: all deps build run test test-asan coverage test-ratio oracles fuzz bench package install clean

all: build

# Missing Debian packages, found when a goal that builds is asked for. A user who cannot install
# them gets the one command to run and nothing else happens.
BUILD_GOALS := all build run test test-asan coverage fuzz bench package install
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

# Line and branch coverage of the product folders by the whole suite (gcc --coverage, Debug).
# Prints a per-file table, then the summary lines "lines: N%" and "branches: N%". The report is
# also kept in build-coverage/coverage.txt. Fails when a test fails, after reporting. Counters are
# updated atomically: the engine runs a thread of its own (the read leases' releaser), and racing
# updates can leave negative counts that gcov cannot report.
COVERAGE_DIRS := jet db shell app browse design edit cli sql odbc
coverage: deps oracles
	cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug \
	  "-DCMAKE_C_FLAGS=--coverage -fprofile-update=atomic" "-DCMAKE_CXX_FLAGS=--coverage -fprofile-update=atomic" \
	  -DCMAKE_EXE_LINKER_FLAGS=--coverage
	cmake --build build-coverage -j $(JOBS)
	find build-coverage -name '*.gcda' -delete
	cd build-coverage && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 1800; \
	  echo $$? >ctest-status
	gcovr -r . build-coverage -j $(JOBS) \
	  $(foreach d,$(COVERAGE_DIRS),--filter '$(CURDIR)/$(d)/') \
	  --exclude '.*_test\.cpp' \
	  --txt build-coverage/coverage.txt --print-summary >build-coverage/summary.txt
	@cat build-coverage/coverage.txt build-coverage/summary.txt
	@exit $$(cat build-coverage/ctest-status)

# Test code as a share of the product code.
test-ratio:
	@tools/count_test_ratio.sh

fuzz: deps
	bash fuzz/run.sh

bench: build
	bash bench/run.sh $(BUILD_DIR)

# The package holds only what package_files builds (the programs, their data, manual pages, icons).
package: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS) --target package_files
	cd $(BUILD_DIR) && cpack --config CPackConfig.cmake

# Installs the programs and the ODBC driver (registered with odbcinst as "Tabulonix"); as root.
install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) build-asan build-fuzz build-coverage
