# The newcomer's commands: `make run` starts Farlink, `make test` runs every test.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
CTEST = ctest --output-on-failure --timeout 600 -j $(JOBS)

.PHONY: run demo install test test-release test-asan test-tsan check-format test-ratio test-fuzz mutants bench build deps clean

deps:
	bash scripts/install-deps

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DFARLINK_WERROR=OFF $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

run: build
	./build/farlink $(ARGS)

# Installs under PREFIX (default /usr/local): bin/, share/farlink/, share/man/man1/.
PREFIX ?= /usr/local
install: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DFARLINK_WERROR=OFF $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target farlink farlink-ftp farlink-place
	cmake --install build --prefix $(PREFIX)

# A sample server on loopback with a place for it, and Farlink on it; quitting stops both.
demo: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DFARLINK_WERROR=OFF $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target farlink farlink-place
	bash scripts/demo build

# The tests build with warnings as errors; `make run` does not, so a newer compiler's
# new warning never stops a newcomer from starting Farlink.
TEST_FLAGS = -DFARLINK_WERROR=ON $(CMAKE_FLAGS)

# Ends with the size of the tests against the code that ships (scripts/test-ratio), which
# fails over its ceiling (tests/ratio-ceiling) and lowers the ceiling when the ratio fell.
test: check-format test-release test-asan test-tsan test-fuzz
	bash scripts/test-ratio --check

test-ratio:
	bash scripts/test-ratio --check

check-format: deps
	bash scripts/check-format

test-release: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(TEST_FLAGS)
	cmake --build build -j $(JOBS)
	cd build && $(CTEST)

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DFARLINK_SANITIZE=address $(TEST_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

# The threaded tests (label "threads") under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DFARLINK_SANITIZE=thread $(TEST_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 $(CTEST) -L threads

# The libFuzzer targets, built with clang in a folder of their own and run a few seconds
# each from their seed corpora (tests/ftp/fuzz-seeds), so that they cannot rot unseen.
test-fuzz: deps
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DFARLINK_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target listing_parser_fuzz ftp_reply_fuzz
	bash scripts/fuzz-briefly build-fuzz

# Faults that earlier reviews found, put back one at a time: the tests must catch each.
mutants: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(TEST_FLAGS)
	bash scripts/mutants build

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DFARLINK_BENCH=ON $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)
	bash bench/run build-bench

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench
