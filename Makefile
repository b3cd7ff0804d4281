# The two commands of the README: `make run` and `make test`.
JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: all deps build run test test-release test-asan test-query fuzz soak memcheck amplification package \
	package-test container-test windows wine-test browser-test clean

all: build

# Node.js runs the play page's module tests, part of every test run.
deps:
	@scripts/deps.sh --node

# Release build: build/brastok_server (and the tools and tests beside it).
build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBRASTOK_TESTS=ON
	cmake --build build -j $(JOBS)

# Starts the server with its defaults; pass options with ARGS="-port 36000".
run: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBRASTOK_TESTS=ON
	cmake --build build -j $(JOBS) --target brastok_server brastok_client
	./build/brastok_server $(ARGS)

# Every test, once in the release build and once under ASan and UBSan, and
# the standard query through gamedig.
test: test-release test-asan test-query

test-release: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DBRASTOK_SANITIZE=ON -DBRASTOK_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# The standard query (A2S) through gamedig, a query client nobody here wrote,
# against the release server; checked against the server's own `status`.
# npm ci installs it from the lockfile when the lockfile changed.
QUERY_NPM = tests/query/node_modules/.package-lock.json
$(QUERY_NPM): tests/query/package.json tests/query/package-lock.json
	@scripts/deps.sh --node
	cd tests/query && npm ci --no-audit --no-fund --loglevel=error
	touch $@

test-query: build $(QUERY_NPM)
	timeout 120 node tests/query/gamedig_test.mjs build

# Every fuzzer for FUZZ_SECONDS each (clang, libFuzzer, ASan + UBSan).
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/deps.sh --fuzz
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBRASTOK_FUZZ=ON -DBRASTOK_TESTS=OFF -DBRASTOK_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzz_datagrams fuzz_mapfile fuzz_cmdline \
	  fuzz_recording fuzz_banfile fuzz_console
	scripts/fuzz.sh $(FUZZ_SECONDS)

# The release server full of bots and simulated players for SOAK_SECONDS:
# no protocol anomaly, flat memory, every slot freed at the end.
SOAK_SECONDS ?= 600
soak: build
	python3 scripts/soak.py --seconds $(SOAK_SECONDS)

# A short match of the release server under valgrind's memcheck.
memcheck: build
	@scripts/deps.sh --valgrind
	python3 scripts/memcheck.py

# Bytes a forged connect or query makes the server send to the forged
# address, per byte sent; BEFORE=path/to/another/brastok_server measures that
# one too.
amplification: build
	python3 scripts/amplification.py $(if $(BEFORE),--before $(BEFORE))

# The Debian package of the programs, maps, manual pages and systemd units:
# build/package/brastok_VERSION_ARCH.deb.
package:
	@scripts/deps.sh --package
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBRASTOK_TESTS=ON
	cmake --build build -j $(JOBS) --target brastok_programs
	rm -rf build/package
	cd build && cpack

# The install rules and the package, installed into a scratch root and run.
package-test: package
	python3 scripts/package_test.py

# The container image built and run with podman, where podman runs.
container-test: build
	@scripts/deps.sh --container
	scripts/container_test.sh

# The live page in headless chromium: the map, a walking player's marker, a
# restart of the server; saves build/live-page.png. Then the admin page: a
# login with a token, a bot kicked and seen leaving; saves build/admin-page.png.
# Then the browser game against bots (walk, turn, a kill, chat, a new map);
# saves build/play.png.
BROWSER_NPM = tests/browser/node_modules/.package-lock.json
$(BROWSER_NPM): tests/browser/package.json tests/browser/package-lock.json
	@scripts/deps.sh --web
	cd tests/browser && npm ci --no-audit --no-fund --loglevel=error
	touch $@

browser-test: build $(BROWSER_NPM)
	@scripts/deps.sh --web
	timeout 120 /usr/bin/python3 tests/browser/live_page.py build build/live-page.png
	timeout 60 /usr/bin/python3 tests/browser/admin_page.py build build/admin-page.png
	timeout 100 node tests/browser/play_page.mjs build build/play.png

# The Windows programs, cross-compiled with MinGW-w64 and linked statically:
# build-windows/*.exe run on Windows without any DLL beside them.
WINDOWS_PROGRAMS = brastok_server brastok_client brastok_replay
windows:
	@scripts/deps.sh --windows
	cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DBRASTOK_TESTS=OFF -DBRASTOK_BENCH=OFF
	cmake --build build-windows -j $(JOBS) --target $(WINDOWS_PROGRAMS)

# The Windows server under wine, driven by the Linux client over loopback,
# and the Windows client beside it.
wine-test: windows
	@scripts/deps.sh --wine
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBRASTOK_TESTS=ON
	cmake --build build -j $(JOBS) --target brastok_client brastok_replay
	python3 scripts/wine_test.py

clean:
	rm -rf build build-asan build-fuzz build-windows fuzz-out
