# Two commands for a fresh Debian 12 machine:
#   make run   installs what is missing, builds, starts kelmora beside a simulated board (Com99)
#   make test  installs what is missing, builds, runs every test headless
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)

PACKAGES = cmake ninja-build g++ pkg-config ccache qt6-base-dev qt6-serialport-dev libgl-dev \
           libgtest-dev clang libclang-rt-14-dev llvm xauth xvfb
SUDO = $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

.PHONY: deps build run test test-unit test-asan test-fuzz soak package clean

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

run: build
	@$(BUILD)/kelmora-board --link $(BUILD)/Com99 > $(BUILD)/board.out 2>&1 & board=$$!; \
	trap 'kill $$board 2>/dev/null' EXIT INT TERM; \
	echo "Simulated board on Com99 (pick Com99 and click 打开)"; \
	$(BUILD)/kelmora; status=$$?; kill $$board 2>/dev/null; wait $$board 2>/dev/null; exit $$status

test-unit: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

test: test-unit
