# Front end over CMake. `make example` builds kestrin alone (no GoogleTest
# needed) and converts the bundled example; `make test` turns the test suite on
# in the build, builds and runs every test, in a normal build, in a build
# under AddressSanitizer and UndefinedBehaviorSanitizer and, where emscripten
# and Chromium are installed, through WebAssembly (web/web.mk).

BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

.PHONY: all kestrin example examples previews package test test-release test-sanitize test-web-when-present bench clean vscode test-vscode test-vscode-when-present

all: kestrin

# Configures without touching KESTRIN_TESTS, so that a build that `make test`
# configured keeps its tests; a fresh build has them off.
kestrin:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target kestrin

example: kestrin
	$(BUILD)/kestrin examples/hello.txt $(BUILD)/hello.pdf

# Every example, converted into $(BUILD)/examples; gcd.c as a listing.
examples: kestrin
	@mkdir -p $(BUILD)/examples
	cd examples && for f in *.txt; do ../$(BUILD)/kestrin $$f ../$(BUILD)/examples/$${f%.txt}.pdf; done
	cd examples && ../$(BUILD)/kestrin --plain gcd.c ../$(BUILD)/examples/gcd.pdf

# The first page of each example as a PNG in examples/previews (pdftoppm).
previews: examples
	examples/make-previews.sh $(abspath $(BUILD))/examples

# A Debian package of the binary and the man page, in $(BUILD).
package: kestrin
	cd $(BUILD) && cpack -G DEB

test: test-release test-sanitize test-web-when-present test-vscode-when-present

# The documents the tests compile are kept in $(BUILD)/documents, for the
# comparison of the WebAssembly build with the native program.
test-release:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKESTRIN_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	rm -rf $(BUILD)/documents && mkdir -p $(BUILD)/documents
	KESTRIN_RECORD_DOCUMENTS=$(abspath $(BUILD))/documents \
	  ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

# The WebAssembly, npm and browser tests need emscripten, npm and Chromium;
# without them they are skipped with a note, except in CI.
test-web-when-present: test-release
	@if command -v em++ >/dev/null && command -v npm >/dev/null && [ -x /usr/bin/chromium ]; then \
	  $(MAKE) test-web; \
	elif [ "$${CI:-}" = true ]; then \
	  echo "test-web: emscripten, npm or chromium missing in CI"; exit 1; \
	else \
	  echo "test-web skipped: apt-get install emscripten chromium npm to run it"; \
	fi

# The VS Code extension as $(BUILD)/kestrin.vsix: its client bundled with
# esbuild, the grammar of editors/textmate, packed by @vscode/vsce (npm ci
# from the committed editors/vscode/package-lock.json).
VSCODE_DIR = editors/vscode
vscode:
	mkdir -p $(BUILD)
	cd $(VSCODE_DIR) && npm ci --no-audit --no-fund --ignore-scripts
	rm -rf $(VSCODE_DIR)/syntaxes && mkdir -p $(VSCODE_DIR)/syntaxes
	cp editors/textmate/kestrin.tmLanguage.json $(VSCODE_DIR)/syntaxes/
	cd $(VSCODE_DIR) && npm run --silent build && npx vsce package --no-dependencies \
	  --allow-missing-repository --skip-license -o $(abspath $(BUILD))/kestrin.vsix

# The language server driven by vscode-jsonrpc under Node, and the
# package's contents; needs npm, and is skipped without it except in CI.
test-vscode: kestrin vscode
	KESTRIN=$(abspath $(BUILD))/kestrin VSIX=$(abspath $(BUILD))/kestrin.vsix \
	  node --test $(VSCODE_DIR)/test/

test-vscode-when-present: test-release
	@if command -v npm >/dev/null; then \
	  $(MAKE) test-vscode; \
	elif [ "$${CI:-}" = true ]; then \
	  echo "test-vscode: npm missing in CI"; exit 1; \
	else \
	  echo "test-vscode skipped: apt-get install npm to run it"; \
	fi

test-sanitize:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_SANITIZE=ON -DKESTRIN_TESTS=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure

# Speed and memory against cat and the usual tools; not part of the tests.
bench: kestrin wasm
	cmake --build $(BUILD) --target benchtool
	if command -v npm >/dev/null; then cd bench/npm && npm ci --no-audit --no-fund; fi
	if command -v npm >/dev/null; then cd editors/vscode && npm ci --no-audit --no-fund --ignore-scripts; fi
	bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WASM_BUILD) web/npm/dist editors/vscode/dist editors/vscode/syntaxes

# Fuzzing: libFuzzer targets under AddressSanitizer and UBSan (clang). Each
# target runs FUZZ_SECONDS; a crash, a sanitizer report, an input slower than
# a second or memory growth fails the run and leaves the input in
# $(FUZZ_BUILD)/artifacts.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = document font gif image jpeg operators lsp

.PHONY: fuzz fuzz-build
fuzz-build:
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	@mkdir -p $(FUZZ_BUILD)/artifacts
	@for target in $(FUZZ_TARGETS); do \
	  work=$(abspath $(FUZZ_BUILD)); seeds=$(CURDIR)/tests/fuzz; \
	  mkdir -p $$work/corpus/$$target; \
	  echo "fuzzing $$target for $(FUZZ_SECONDS) s"; \
	  $$work/tests/fuzz/fuzz_$$target $$work/corpus/$$target $$seeds/corpus/$$target \
	    -dict=$$seeds/$$target.dict -max_total_time=$(FUZZ_SECONDS) -timeout=1 \
	    -rss_limit_mb=512 -malloc_limit_mb=256 -max_len=8192 -print_final_stats=1 \
	    -artifact_prefix=$$work/artifacts/$$target- \
	    > $$work/fuzz-$$target.log 2>&1 \
	  || { tail -40 $$work/fuzz-$$target.log; exit 1; }; \
	  grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)|DONE' \
	    $$work/fuzz-$$target.log; \
	done

include web/web.mk
