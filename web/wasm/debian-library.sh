#!/usr/bin/env bash
# Builds one C library the core links for WebAssembly, from Debian's source
# package of the version this machine runs natively, so that the WebAssembly
# build compresses to the same bytes as the native program.
#
#   web/wasm/debian-library.sh PACKAGE DEPS_DIR
#
# Leaves DEPS_DIR/lib/lib*.a and the headers in DEPS_DIR/include. The source
# comes through apt-get source with a private deb-src list and state under
# DEPS_DIR/apt, so the machine's own apt configuration stays untouched.
set -euo pipefail
package=$1
deps=$(mkdir -p "$2" && realpath "$2")
apt_dir=$deps/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$deps/lib" "$deps/include" "$deps/src"

suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
echo "deb-src http://deb.debian.org/debian $suite main" > "$apt_dir/sources.list"
apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
  -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root)
[ -n "$(ls "$apt_dir/lists"/*Sources* 2>/dev/null)" ] || apt-get "${apt_options[@]}" -qq update

source_dir=$(ls -d "$deps/src/$package"-*/ 2>/dev/null | head -1 || true)
if [ -z "$source_dir" ]; then
  work=$deps/src/download-$package
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get "${apt_options[@]}" -qq --download-only source "$package" >/dev/null &&
    dpkg-source --no-check -x ./*.dsc "$deps/src/$package-source" >/dev/null)
  rm -rf "$work"
  source_dir=$deps/src/$package-source/
fi
cd "$source_dir"

flags=(-O2)
case $package in
  zlib)
    sources=(adler32.c compress.c crc32.c deflate.c infback.c inffast.c inflate.c inftrees.c
      trees.c uncompr.c zutil.c)
    headers=(zlib.h zconf.h)
    library=libz.a
    ;;
  libpng1.6)
    cp scripts/pnglibconf.h.prebuilt pnglibconf.h
    sources=(png.c pngerror.c pngget.c pngmem.c pngpread.c pngread.c pngrio.c pngrtran.c pngrutil.c
      pngset.c pngtrans.c pngwio.c pngwrite.c pngwtran.c pngwutil.c)
    headers=(png.h pngconf.h pnglibconf.h)
    library=libpng.a
    flags+=(-I"$deps/include" -DPNG_ARM_NEON_OPT=0)
    ;;
  libdeflate)
    # What the library's own Makefile builds, less the processor-specific
    # parts (none apply to WebAssembly) and gzip, which kestrin doesn't use.
    sources=(lib/deflate_compress.c lib/deflate_decompress.c lib/utils.c lib/adler32.c
      lib/zlib_compress.c lib/zlib_decompress.c)
    headers=(libdeflate.h)
    library=libdeflate.a
    flags+=(-std=c99 -I. -D_ANSI_SOURCE)
    ;;
  *) echo "debian-library.sh: no recipe for $package" >&2; exit 1 ;;
esac

objects=()
for source in "${sources[@]}"; do
  emcc "${flags[@]}" -c "$source" -o "${source%.c}.wasm.o"
  objects+=("${source%.c}.wasm.o")
done
rm -f "$deps/lib/$library"
emar rcs "$deps/lib/$library" "${objects[@]}"
cp "${headers[@]}" "$deps/include/"
echo "built $library from $(basename "$source_dir")"
