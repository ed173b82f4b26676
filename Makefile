# svfit: `make demo` and `make test` set everything up themselves.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all setup build test run demo bench sanitize install fuzz fuzz-ci clean

all: build

setup:
	@bash tools/setup.sh

$(BUILD)/CMakeCache.txt: | setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: setup $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@cd $$( [ -d data/sample ] && echo data/sample || echo . ) && $(CURDIR)/$(BUILD)/src/driver/svfit

demo: build
	@bash tools/demo.sh $(BUILD)

# svfit, svfit-sim and the manual page svfit(1) under $(PREFIX) (bin/, share/man/man1/).
PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

bench: build
	@cmake --build $(BUILD) --target benchmarks -j $(JOBS)
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && "$$b" --benchmark_min_time=0.01 || exit 1; done

# The whole test suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: setup
	@cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DSVFIT_SANITIZE=ON >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	@cd build-sanitize && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The fuzz targets (scan reader, text parsers, key decoder, HPGL renderer) in
# their own clang tree, 10^6 executions of the reader (tools/fuzz.sh); fuzz-ci
# is the short run of CI.
fuzz: setup
	@bash tools/fuzz.sh

fuzz-ci: setup
	@bash tools/fuzz.sh 3000

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz
