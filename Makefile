# Entry points. Each target first installs the Debian packages it needs.
BUILD      ?= build
TEST_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
PKG_BUILD  ?= build-pkg
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)

.PHONY: all build run test bench deps format clean install package package-check

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPICTOLUNE_TESTS=OFF

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/pictolune samples

$(TEST_BUILD)/build.ninja: | deps
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTOLUNE_SANITIZE=ON

# The tests run under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps $(TEST_BUILD)/build.ninja
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS)

$(BENCH_BUILD)/build.ninja: | deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPICTOLUNE_TESTS=OFF -DPICTOLUNE_BENCH=ON

bench: deps $(BENCH_BUILD)/build.ninja
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	./scripts/run-benchmarks.sh $(BENCH_BUILD)

# A slideshow at 1 ms over sound and hostile pictures, with keys and resizes,
# for SOAK_SECONDS under the sanitizers; `make test` runs a few seconds of it.
SOAK_SECONDS ?= 60
.PHONY: soak
soak: deps $(TEST_BUILD)/build.ninja
	cmake --build $(TEST_BUILD) -j $(JOBS) --target test_hostile
	cd $(TEST_BUILD) && ASAN_OPTIONS=detect_leaks=1 PICTOLUNE_SOAK_SECONDS=$(SOAK_SECONDS) \
		./tests/test_hostile --gtest_filter='SoakTest.*'

# clang-tidy and cppcheck over src/ (.clang-tidy, cppcheck-suppressions.txt).
# Not part of `make test`: it takes minutes on two cores.
.PHONY: lint
lint: deps $(TEST_BUILD)/build.ninja
	LINT_BUILD=$(TEST_BUILD) LINT_JOBS=$(JOBS) ./scripts/lint.sh

# Builds the fuzz targets with clang's libFuzzer and runs each for FUZZ_SECONDS
# seconds (default 60).
.PHONY: fuzz
fuzz: deps
	./scripts/fuzz.sh

# Installs under $(PREFIX), e.g. make install PREFIX=$HOME/.local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, from a Release build: $(PKG_BUILD)/pictolune_<version>_<arch>.deb
$(PKG_BUILD)/build.ninja: | deps
	cmake -S . -B $(PKG_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPICTOLUNE_TESTS=OFF

package: deps $(PKG_BUILD)/build.ninja
	cmake --build $(PKG_BUILD) -j $(JOBS)
	cd $(PKG_BUILD) && cpack -G DEB

# Checks that package as `make test` checks the one made from the test build.
package-check: package
	v=$$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$$/\1/p' $(PKG_BUILD)/CPackConfig.cmake) && \
	./tests/packaging/check-deb.sh $(PKG_BUILD) $$v $(PKG_BUILD)/pictolune_$${v}_$$(dpkg --print-architecture).deb

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD) $(PKG_BUILD)
