# The two commands a newcomer needs: `make run` and `make test`.
# Both install the Debian packages the project needs when they are missing.

BUILD ?= build
JOBS ?= $(shell nproc)
PACKAGES = cmake g++ make pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev \
  qt6-base-dev qt6-webengine-dev libgl-dev libcurl4-openssl-dev libcpp-httplib-dev libssl-dev \
  nlohmann-json3-dev libxlsxwriter-dev libminizip-dev fonts-noto-cjk curl time xvfb xauth x11-utils strace clang-14 libclang-rt-14-dev
SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build run demo test test-release test-asan test-tsan test-under-load lint bench fuzz \
  windows test-windows cp936-diff clean

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
	exec $(BUILD)/bin/zemlaro

demo: build
	exec $(BUILD)/bin/zemlaro-demo $(DEMO_ARGS)

# The source checks, every test in the Release build, then the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer.
test: lint test-release test-asan test-tsan

# Source checks beside the behaviour tests: no shell calls, certificate checks on.
lint:
	tools/lint/check_sources.sh

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

SANITIZED = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMLARO_BENCH=OFF
UBSAN_ENV = UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The window tests run without the leak check, as Qt and fontconfig keep caches
# until exit, and without the new/delete size check, which Qt WebEngine's own page
# teardown trips.
ASAN_GUI_ENV = ASAN_OPTIONS=new_delete_type_mismatch=0:detect_leaks=0:abort_on_error=1
TSAN_TESTS = web_tests app_tests
TSAN_ENV = TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp"

test-asan: deps
	cmake -S . -B $(BUILD)-asan $(SANITIZED) -DZEMLARO_SANITIZE=address,undefined
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 $(UBSAN_ENV) \
	  ctest --output-on-failure -j $(JOBS) -LE gui
	cd $(BUILD)-asan && $(ASAN_GUI_ENV) $(UBSAN_ENV) ctest --output-on-failure -j $(JOBS) -L gui

test-tsan: deps
	cmake -S . -B $(BUILD)-tsan $(SANITIZED) -DZEMLARO_SANITIZE=thread
	cmake --build $(BUILD)-tsan -j $(JOBS) --target $(TSAN_TESTS)
	cd $(BUILD)-tsan && $(TSAN_ENV) \
	  ctest --output-on-failure -j $(JOBS) -R '^($(subst $(eval) ,|,$(TSAN_TESTS)))$$'

# `make test` three times in a row while stress-ng keeps both cores busy, as on a busy
# CI machine: a test that only passes on a quiet machine fails here. Not a CI stage.
LOAD_PACKAGES = stress-ng
test-under-load: deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(LOAD_PACKAGES)"
	@stress-ng --cpu 2 --timeout 0 --quiet & load=$$!; \
	trap 'kill $$load 2>/dev/null; wait $$load 2>/dev/null' EXIT INT TERM; \
	for run in 1 2 3; do \
	  start=$$(date +%s); \
	  echo "== make test under load, run $$run of 3"; \
	  $(MAKE) --no-print-directory test || { echo "== run $$run failed after $$(( $$(date +%s) - start )) s"; exit 1; }; \
	  echo "== run $$run passed in $$(( $$(date +%s) - start )) s"; \
	done

# Every benchmark runs; the target fails at the end when any missed its goal.
bench: build
	cd $(BUILD) && missed=""; for b in bin/bench-*; do echo "== $$b"; \
	  QT_QPA_PLATFORM=offscreen ./$$b || missed="$$missed $$b"; done; \
	  if [ -n "$$missed" ]; then echo "missed a goal:$$missed"; exit 1; fi

fuzz: deps
	cmake -S fuzz -B $(BUILD)-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	cd $(BUILD)-fuzz && ./run-fuzzers

# Windows: the Qt-free layers, zemlaro-cli.exe and their tests cross-built with
# mingw-w64, and run under Wine in a throw-away prefix inside the build folder. Not a
# stage of `make test`; run `make test-windows` before every stop.
WINDOWS_BUILD = $(BUILD)-windows
WINDOWS_PACKAGES = cmake make g++-mingw-w64-x86-64-posix wine wine64 googletest nlohmann-json3-dev
# No Mono or Gecko install prompts in a fresh prefix; no Wine debug output.
WINE_ENV = WINEPREFIX=$(CURDIR)/$(WINDOWS_BUILD)/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

windows:
	@$(MAKE) --no-print-directory deps PACKAGES="$(WINDOWS_PACKAGES)"
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DZEMLARO_GUI=OFF -DZEMLARO_BENCH=OFF
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The command-line tool's runs under Wine talk to the Linux sample market, and compare
# with the Linux zemlaro-cli: both come from $(BUILD).
test-windows: windows configure
	cmake --build $(BUILD) -j $(JOBS) --target zemlaro-cli zemlaro-sample-market
	rm -rf $(WINDOWS_BUILD)/wineprefix
	$(WINE_ENV) wineboot -i && $(WINE_ENV) wineserver -w
	cd $(WINDOWS_BUILD) && $(WINE_ENV) ctest --output-on-failure -j $(JOBS)
	if [ -f tests/windows/cli_under_wine.sh ]; then \
	  $(WINE_ENV) sh tests/windows/cli_under_wine.sh $(WINDOWS_BUILD) $(BUILD)/bin; fi
	$(WINE_ENV) wineserver -w

# The code page 936 table of the Linux build (glibc's iconv) against the Windows
# build's (Wine's MultiByteToWideChar): every entry that differs, into
# $(WINDOWS_BUILD)/cp936-diff.txt.
cp936-diff: windows configure
	cmake --build $(BUILD) -j $(JOBS) --target cp936-table
	$(WINE_ENV) wineboot -i && $(WINE_ENV) wineserver -w
	$(WINE_ENV) sh tests/windows/cp936_diff.sh $(BUILD)/bin/cp936-table \
	  $(WINDOWS_BUILD)/bin/cp936-table.exe $(WINDOWS_BUILD)/cp936-diff.txt

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz $(WINDOWS_BUILD)
