# Front end over CMake. `make example` builds kestrin and converts the bundled
# example; `make test` builds and runs every test, in a normal build and in a
# build under AddressSanitizer and UndefinedBehaviorSanitizer.

BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

.PHONY: all kestrin example test test-release test-sanitize clean

all: kestrin

kestrin:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

example: kestrin
	$(BUILD)/kestrin examples/hello.txt $(BUILD)/hello.pdf

test: test-release test-sanitize

test-release: kestrin
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

test-sanitize:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
