# The two everyday commands are `make test` and `make run`.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
FUZZ_TIME  ?= 60
JOBS       ?= 2
MAKEFLAGS  += --no-print-directory
CMAKE_ARGS ?=

.PHONY: all deps configure build test run bench test-asan fuzz format clean package

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The program; without PORT a simulated scale on a pseudo-terminal is its only port.
# A real instrument: make run PORT=/dev/ttyUSB0 (only a PORT given to make counts; some
# environments export PORT for other purposes).
run: build
	@scripts/run-demo $(BUILD)/bin $(if $(filter command line,$(origin PORT)),$(PORT))

# The Debian package, $(BUILD)/tolvane_<version>_<arch>.deb; scripts/check-package checks it.
package: build
	@cd $(BUILD) && cpack

bench: deps
	@cmake -S . -B $(BUILD) -DTOLVANE_BENCH=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)
	@for b in $(BUILD)/bin/bench_*; do [ -x "$$b" ] && "$$b"; done

test-asan: deps
	@cmake -S . -B $(BUILD_ASAN) -DTOLVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD_ASAN) -j$(JOBS)
	@cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		ctest --output-on-failure -j$(JOBS)

# Arbitrary settings and bytes through line processing for a bounded time; any crash, hang
# (one input over 10 s), leak or memory blow-up fails. The committed seeds stay untouched.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DTOLVANE_FUZZ=ON \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD_FUZZ) -j$(JOBS) --target fuzz_line_processor
	@rm -rf $(BUILD_FUZZ)/fuzz-corpus $(BUILD_FUZZ)/fuzz-artifacts
	@mkdir -p $(BUILD_FUZZ)/fuzz-corpus $(BUILD_FUZZ)/fuzz-artifacts
	@cp fuzz/corpus/* $(BUILD_FUZZ)/fuzz-corpus/
	@$(BUILD_FUZZ)/bin/fuzz_line_processor -max_total_time=$(FUZZ_TIME) -timeout=10 \
		-rss_limit_mb=2048 -print_final_stats=1 \
		-artifact_prefix=$(BUILD_FUZZ)/fuzz-artifacts/ $(BUILD_FUZZ)/fuzz-corpus

format:
	@find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ)
