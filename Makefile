# Entry point for people: `make demo` and `make test` work on a fresh Debian 12.

# pkgconf finds cpp-httplib and libxcb (whose header the window part uses) at build
# time; xauth is what xvfb-run needs to start a display; clang and its runtime
# libraries (libFuzzer among them) build the fuzz targets; libssl-dev checks the
# signatures of updates, and openssl makes the build's key and signs with it; Qt SVG
# is for the artwork generator's scalable icon; debhelper to appstream build and check
# the Debian package; shared-mime-info and gio type files in the install test, where
# xdg-open opens one, which without a desktop asks mimetype (libfile-mimeinfo-perl);
# shellcheck checks the scripts; dbus-daemon is the session bus on which a test hears the
# desktop told of tracks that arrived; clang-tidy checks the naming rule (make lint).
PACKAGES := g++ make cmake pkgconf qt6-base-dev qt6-webengine-dev libcurl4-openssl-dev libxcb1-dev \
            libssl-dev openssl libcpp-httplib-dev googletest libgtest-dev libgmock-dev xvfb xauth \
            xdotool fonts-liberation xdg-utils xdg-user-dirs clang libclang-rt-14-dev qt6-svg-dev \
            debhelper dpkg-dev lintian desktop-file-utils appstream shared-mime-info libglib2.0-bin \
            shellcheck dbus-daemon clang-tidy \
            libfile-mimeinfo-perl
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX   ?= $(HOME)/.local
SUDO     := $(if $(filter 0,$(shell id -u)),,sudo)
# make fuzz: how long each fuzz target runs; make crash-test: how many kills.
SECONDS  ?= 60
ROUNDS   ?= 200
# make test (its ThreadSanitizer build too) and make fuzz: WERROR=ON makes every
# compiler warning an error, as CI does.
WERROR   ?= OFF
# make package-check: CLEAN_ROOT=OFF leaves out the build in a clean Debian root, as
# CI does for want of time (docs/packaging.md).
CLEAN_ROOT ?= ON

# The test programs that run again under ThreadSanitizer (make test-tsan): the
# engine's own tests, and the offscreen window tests, whose windows drive the real
# workers against the store simulator.
TSAN_SUITES := qvr_engine_tests qvr_ui_tests

.PHONY: all deps build test lint test-tsan demo install uninstall deb package-check artwork clean fuzz crash-test

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQVR_BUILD_TESTS=OFF
	cmake --build build -j$(JOBS)

test: deps
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DQVR_SANITIZE=ON -DQVR_BUILD_TESTS=ON -DQVR_WERROR=$(WERROR)
	cmake --build build-test -j$(JOBS)
	# Whatever display this shell has is left alone: widget tests run offscreen, and
	# tests that need a real display start a virtual one of their own. The naming
	# check runs beside the tests, which mostly wait on their peers and timers; its
	# findings follow theirs, and either failing fails the run.
	@tools/lint-names --build build-test -j$(JOBS) > build-test/lint.log 2>&1 & lint=$$!; \
	  ctest --test-dir build-test --output-on-failure -j$(JOBS) --timeout 300; tests=$$?; \
	  wait $$lint; linted=$$?; cat build-test/lint.log; \
	  [ $$tests -eq 0 ] && [ $$linted -eq 0 ]
	$(MAKE) --no-print-directory test-tsan

# The naming rule (CONTRIBUTING.md, "Names"): clang-tidy over every source file of the
# test build's compile database (and its fuzz targets', once built), JOBS files at a
# time. A finding names the file, the line, the name and the form it should take.
lint: deps
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DQVR_SANITIZE=ON -DQVR_BUILD_TESTS=ON -DQVR_WERROR=$(WERROR)
	tools/lint-names --build build-test -j$(JOBS)

# ThreadSanitizer cannot share a build with the sanitizers above: a build of its own
# in build-tsan/, of only the programs of TSAN_SUITES, whose tests carry their
# program's name as their label.
test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQVR_TSAN=ON -DQVR_BUILD_TESTS=ON -DQVR_FUZZ_TESTS=OFF \
	  -DQVR_WERROR=$(WERROR)
	cmake --build build-tsan -j$(JOBS) --target $(TSAN_SUITES)
	ctest --test-dir build-tsan --output-on-failure -j$(JOBS) --timeout 300 -L '^($(shell echo $(TSAN_SUITES) | tr ' ' '|'))$$'

demo: build
	tools/demo.sh build

install: build
	cmake --install build --prefix "$(PREFIX)"
	PREFIX="$(PREFIX)" CMAKE_MANIFEST=build/install_manifest.txt sh packaging/install-user.sh

# Removes what install put in place; the settings hive and the queue files stay.
uninstall:
	PREFIX="$(PREFIX)" sh packaging/uninstall-user.sh

# The Debian package, built in build-deb/ from a copy of this tree without its build
# folders; the .deb lands in build-deb/.
deb: deps
	rm -rf build-deb
	mkdir -p build-deb/quavero
	tar -cf - --exclude-vcs --exclude=./build --exclude='./build-*' . | tar -xf - -C build-deb/quavero
	cd build-deb/quavero && dpkg-buildpackage -us -uc -b -j$(JOBS)

# Builds the package and checks it as a distribution would: lintian finds no error,
# the desktop entry and the AppStream metadata validate, the window part's libraries
# are files that link Qt, and the program runs from the package. Then the source
# package is built in a clean Debian 12 root with only its Build-Depends, which is
# skipped, saying why, where that cannot run (not root; no root cached, no network).
package-check: deb
	tools/check-package.sh build-deb
ifeq ($(CLEAN_ROOT),ON)
	tools/clean-root-build || [ $$? -eq 77 ]
endif

# Draws the program's pictures into res/images again (commit what changes).
artwork: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQVR_BUILD_TESTS=OFF
	cmake --build build --target qvr-artwork -j$(JOBS)
	build/qvr-artwork res/images

# Every fuzz target for SECONDS each, as many at once as there are cores.
fuzz: deps
	cmake -S . -B build-fuzz -DQVR_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQVR_WERROR=$(WERROR)
	cmake --build build-fuzz -j$(JOBS)
	ls tests/fuzz/corpus | xargs -P $(JOBS) -I{} \
	  tests/fuzz/run.sh build-fuzz/fuzz_{} $(SECONDS) tests/fuzz/corpus/{} build-fuzz/runs/{}

# The crash-consistency test with ROUNDS kills, on the test build.
crash-test: deps
	cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DQVR_SANITIZE=ON -DQVR_BUILD_TESTS=ON
	cmake --build build-test -j$(JOBS) --target quavero qvr-store-sim qvr_crash_check
	tests/crash/crash_test.sh --build build-test --rounds $(ROUNDS)

clean:
	rm -rf build build-test build-tsan build-fuzz build-deb
