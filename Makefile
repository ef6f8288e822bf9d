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

# bench_task_lists runs in SAVE_PROCESSES fresh processes, and the worst ratio of a save to its
# floor is the one reported: the ratio moves from one process to the next.
SAVE_PROCESSES ?= 3
bench: deps
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build-bench -j $(JOBS) --target kestrune_benchmarks
	@for b in build-bench/bench/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ] && [ "$${b##*/}" != bench_task_lists ]; then "$$b" || exit 1; fi; done
	@rm -f build-bench/save_ratios; for i in $$(seq $(SAVE_PROCESSES)); do \
	    build-bench/bench/bench_task_lists | tee build-bench/task_lists.out; \
	    sed -n 's/^saveTaskLists \/ floor *\([0-9.]*\)x.*/\1/p' build-bench/task_lists.out | grep . >>build-bench/save_ratios || exit 1; \
	done
	@sort -g build-bench/save_ratios | tail -n 1 | xargs printf 'saveTaskLists / floor, worst of $(SAVE_PROCESSES) processes: %sx (target 2x)\n'

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
