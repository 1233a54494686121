# Two commands for a fresh Debian 12 machine:
#   make run   installs what is missing, builds, starts kelmora beside a simulated board (Com99)
#   make test  installs what is missing, builds, runs every test headless
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
MAKE_BUILD ?= build-make
JOBS       ?= $(shell nproc)

PACKAGES = cmake ninja-build g++ pkg-config ccache qt6-base-dev qt6-serialport-dev libgl-dev qt6-translations-l10n \
           fonts-wqy-microhei poppler-utils \
           libgtest-dev clang libclang-rt-14-dev llvm xauth xvfb \
           libmosquitto-dev mosquitto mosquitto-clients \
           debhelper dpkg-dev lintian
SUDO = $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: deps build run test test-unit test-asan test-fuzz test-generator test-package test-a11y soak package clean

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target kelmora kelmora-compat kelmora-board
	@$(BUILD)/kelmora-board --link $(BUILD)/Com99 > $(BUILD)/board.out 2>&1 & board=$$!; \
	trap 'kill $$board 2>/dev/null' EXIT INT TERM; \
	for i in 1 2 3 4 5 6 7 8 9 10; do [ -e $(BUILD)/Com99 ] && break; sleep 0.2; done; \
	echo "Simulated board on Com99 (pick Com99 and click 打开)"; \
	$(BUILD)/kelmora; status=$$?; kill $$board 2>/dev/null; wait $$board 2>/dev/null; exit $$status

test-unit: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# The core and every test again with AddressSanitizer and UndefinedBehaviorSanitizer
# (the soak excepted: it runs in the plain build).
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELMORA_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/.ci/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

# libFuzzer targets (clang), each run briefly with a fixed seed on the committed corpus.
test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKELMORA_FUZZ=ON -DKELMORA_BUILD_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_ini fuzz_record fuzz_replies fuzz_mqtt fuzz_network
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300 -R '^fuzz_'

# A long fault soak: make soak SOAK_SECONDS=900
SOAK_SECONDS ?= 900
soak: build
	$(BUILD)/tools/soak/kelmora_soak --seconds $(SOAK_SECONDS) --seed $$(date +%s)

# The programs once more with CMake's default generator (Unix Makefiles), as a
# packager or an IDE builds them: every generator must link.
test-generator: deps
	CCACHE_NOHASHDIR=1 cmake -S . -B $(MAKE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELMORA_BUILD_TESTS=OFF
	CCACHE_NOHASHDIR=1 cmake --build $(MAKE_BUILD) -j $(JOBS) --target kelmora kelmora-compat kelmora-board kelmora-bridge

# The Debian packages made from the tree the tests built, then checked: contents, dependencies, scripts.
test-package: package
	tests/package/check_packages.sh $(BUILD)/packages

test: test-unit test-package test-asan test-fuzz test-generator

# The real window read and driven through AT-SPI (lamps, a list row, a message box,
# a click on 打开) under D-Bus and Xvfb. Not part of make test: it needs packages of its own.
A11Y_PACKAGES = python3-pyatspi at-spi2-core dbus xvfb xauth
test-a11y: deps
	@missing=""; for p in $(A11Y_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  $(SUDO) apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target kelmora kelmora-board
	timeout 600 dbus-run-session -- xvfb-run -a /usr/bin/python3 tests/a11y/a11y_check.py $(BUILD)/kelmora $(BUILD)/kelmora-board

# The Debian packages (debian/, debhelper) from the tree in $(BUILD), into $(BUILD)/packages,
# each checked by lintian: no error, warning or pedantic tag may pass.
package: build
	rm -f debian/debhelper-build-stamp
	KELMORA_BUILD=$(BUILD) dpkg-buildpackage -b -us -uc -nc
	@rm -rf $(BUILD)/packages && mkdir -p $(BUILD)/packages; \
	changes=kelmora_$$(dpkg-parsechangelog -SVersion)_$$(dpkg --print-architecture).changes; \
	for f in $$changes $$(cut -d' ' -f1 debian/files); do mv ../$$f $(BUILD)/packages/; done; \
	lintian --pedantic --display-info --fail-on error,warning,pedantic $(BUILD)/packages/$$changes && \
	ls -1 $(BUILD)/packages/*.deb
