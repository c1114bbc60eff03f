# The two commands a newcomer needs: `make run` and `make test`.
# Both install the Debian packages the project needs when they are missing.

BUILD ?= build
JOBS ?= $(shell nproc)
PACKAGES = cmake g++ make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev \
  qt6-base-dev qt6-webengine-dev libgl-dev libcurl4-openssl-dev libcpp-httplib-dev libssl-dev \
  fonts-noto-cjk curl xvfb xauth strace clang-14 libclang-rt-14-dev
SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build run demo test bench fuzz clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing: $$missing"; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -x $(BUILD)/bin/zemlaro ]; then exec $(BUILD)/bin/zemlaro; \
	else echo "The desktop program is not built yet; try $(BUILD)/bin/zemlaro-cli --help"; fi

demo: build
	exec $(BUILD)/bin/zemlaro-demo

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	cd $(BUILD) && for b in bin/bench-*; do echo "== $$b"; ./$$b || exit 1; done

fuzz: deps
	cmake -S fuzz -B $(BUILD)-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	cd $(BUILD)-fuzz && ./run-fuzzers

clean:
	rm -rf $(BUILD) $(BUILD)-fuzz
