# Two entry points for a fresh Debian/Ubuntu machine: `make run` and `make test`.
# ASAN=1 builds into build-asan with AddressSanitizer and UBSan.
# `make install` installs into PREFIX (default /usr/local), below DESTDIR when that is set;
# `make package` builds the .deb into the build folder.
ASAN ?= 0
ifeq ($(ASAN),1)
BUILD ?= build-asan
CMAKE_FLAGS += -DKESTRUNE_ASAN=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD ?= build
CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: deps configure build run test install package bench fuzz format clean

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/kestrune

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

package: build
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/kestrune_*.deb

bench: deps
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build-bench -j $(JOBS) --target kestrune_benchmarks
	@for b in build-bench/bench/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; done

# Each decoder of stored text under libFuzzer with ASan and UBSan, FUZZ_SECONDS each.
FUZZ_SECONDS ?= 30
fuzz: deps
	@cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-bench build-fuzz
