# The WebAssembly build, the npm package, the playground and their tests;
# included by the Makefile.
#
#   make wasm        build-wasm/kestrin.js and kestrin.wasm (Debian's emscripten)
#   make npm         the package tarball in build-wasm/ (npm pack)
#   make web         the playground's static files in build-wasm/playground
#   make playground  builds it, serves it on 127.0.0.1:8080 and opens a browser
#   make test-web    the npm package, byte-for-byte and browser tests

WASM_BUILD ?= build-wasm
# The C libraries the core links, built for WebAssembly from Debian's sources
# of the versions the native program links (web/wasm/debian-library.sh): one
# source package per word, one archive each, in that order. HarfBuzz's archive
# holds the shaper and the subsetter.
WASM_LIBRARIES = zlib libpng1.6 libdeflate harfbuzz fribidi
WASM_LIBRARY_FILES = $(WASM_BUILD)/deps/lib/libz.a $(WASM_BUILD)/deps/lib/libpng.a \
  $(WASM_BUILD)/deps/lib/libdeflate.a $(WASM_BUILD)/deps/lib/libharfbuzz-subset.a \
  $(WASM_BUILD)/deps/lib/libfribidi.a

# Debian's emscripten finds its own JavaScript modules through NODE_PATH.
EM_ENV = NODE_PATH=/usr/share/nodejs
# The version CMakeLists.txt gives the native program.
KESTRIN_VERSION := $(shell sed -n "s/^project.kestrin VERSION \([0-9.]*\).*/\1/p" CMakeLists.txt)
# The libraries' headers as the native -dev packages lay them out, with the
# include folders their pkg-config files give.
WASM_CXXFLAGS = -O2 -fexceptions -std=c++17 -Wall -Wextra -Iinclude -I$(WASM_BUILD)/deps/include \
  -I$(WASM_BUILD)/deps/include/harfbuzz -I$(WASM_BUILD)/deps/include/fribidi \
  -DKESTRIN_VERSION='"$(KESTRIN_VERSION)"'
# Linked with -O2 (-O3 and SIMD were no faster, and larger), except that a
# function with one caller is inlined only when small (binaryen inlines it
# whatever its size by default): the engines compile each function quickly
# first and well only for its later calls, so the page loop inlined into the
# run, which is called once, would never leave the quick compilation (half
# the speed on a long text).
WASM_LDFLAGS = -O2 -sBINARYEN_EXTRA_PASSES=--one-caller-inline-max-function-size=100 \
  -fexceptions -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createKestrinModule \
  -sENVIRONMENT=web,worker -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=16MB -sINVOKE_RUN=0 \
  -sEXIT_RUNTIME=0 -sFILESYSTEM=1 -sEXPORTED_RUNTIME_METHODS=FS \
  -sEXPORTED_FUNCTIONS=_malloc,_free

# The native program's entry, watch mode and language server stay out.
WASM_SOURCES = $(filter-out src/driver/main.cc src/driver/watch.cc src/lsp/%.cc,$(wildcard src/*/*.cc)) \
  web/wasm/entry.cc
WASM_OBJECTS = $(patsubst %.cc,$(WASM_BUILD)/obj/%.o,$(WASM_SOURCES))
NPM_DIR = web/npm
PLAYGROUND_DIR = web/playground

.PHONY: wasm npm web playground test-web web-deps wasm-library-versions

wasm: $(WASM_BUILD)/kestrin.js

# The script runs every time: it checks the native version in a moment, and
# rebuilds (and so dates anew) an archive only when that version has changed.
# libpng comes after zlib, whose header it includes.
$(WASM_BUILD)/deps/lib/libz.a: wasm-library-versions
	@$(EM_ENV) web/wasm/debian-library.sh zlib $(WASM_BUILD)/deps
$(WASM_BUILD)/deps/lib/libpng.a: $(WASM_BUILD)/deps/lib/libz.a wasm-library-versions
	@$(EM_ENV) web/wasm/debian-library.sh libpng1.6 $(WASM_BUILD)/deps
$(WASM_BUILD)/deps/lib/libdeflate.a: wasm-library-versions
	@$(EM_ENV) web/wasm/debian-library.sh libdeflate $(WASM_BUILD)/deps
$(WASM_BUILD)/deps/lib/libharfbuzz-subset.a: wasm-library-versions
	@$(EM_ENV) web/wasm/debian-library.sh harfbuzz $(WASM_BUILD)/deps
$(WASM_BUILD)/deps/lib/libfribidi.a: wasm-library-versions
	@$(EM_ENV) web/wasm/debian-library.sh fribidi $(WASM_BUILD)/deps
wasm-library-versions:

$(WASM_BUILD)/obj/%.o: %.cc $(WASM_LIBRARY_FILES) $(wildcard include/*.h)
	@mkdir -p $(dir $@)
	$(EM_ENV) em++ $(WASM_CXXFLAGS) -c $< -o $@

# Linked again when the flags above change.
$(WASM_BUILD)/kestrin.js: $(WASM_OBJECTS) $(WASM_LIBRARY_FILES) web/web.mk
	$(EM_ENV) em++ $(WASM_LDFLAGS) $(WASM_OBJECTS) $(WASM_LIBRARY_FILES) -o $@
	mkdir -p $(NPM_DIR)/dist
	cp $(WASM_BUILD)/kestrin.js $(NPM_DIR)/dist/kestrin-core.js
	cp $(WASM_BUILD)/kestrin.wasm $(NPM_DIR)/dist/kestrin.wasm

# The playground and the tests use packages from npm, pinned by
# web/package-lock.json.
web/node_modules/.package-lock.json: web/package.json web/package-lock.json
	cd web && npm ci --no-audit --no-fund
	touch $@
web-deps: web/node_modules/.package-lock.json

web: wasm web-deps
	node web/playground/build.mjs $(WASM_BUILD)/playground

npm: wasm
	cd $(NPM_DIR) && npm pack --ignore-scripts --pack-destination $(abspath $(WASM_BUILD))

PORT ?= 8080
playground: web
	@(sleep 1; xdg-open http://127.0.0.1:$(PORT)/ >/dev/null 2>&1 || true) &
	node web/tests/serve.mjs $(WASM_BUILD)/playground $(PORT)

# The native program is the reference: the tests compare against build/kestrin.
test-web: kestrin web
	KESTRIN_NATIVE=$(abspath $(BUILD))/kestrin WASM_BUILD=$(WASM_BUILD) \
	  node --test web/tests/
