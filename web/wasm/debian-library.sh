#!/usr/bin/env bash
# Builds one C library the core links for WebAssembly, from Debian's source
# package of exactly the version this machine runs natively, so that the
# WebAssembly build writes the same bytes as the native program.
#
#   web/wasm/debian-library.sh PACKAGE DEPS_DIR
#
# Leaves DEPS_DIR/lib/lib*.a and the headers in DEPS_DIR/include, and does
# nothing when they were built from that version already. The source comes
# through `apt-get source PACKAGE=VERSION` with a private deb-src list, made
# from the archives and suites the machine's apt configuration names, and
# private state under DEPS_DIR/apt: the machine's own apt configuration stays
# untouched.
set -euo pipefail
package=$1
deps=$(mkdir -p "$2" && realpath "$2")
apt_dir=$deps/apt
fail() { echo "debian-library.sh: $*" >&2; exit 1; }

# The installed binary package whose version the native program links, and
# the archive built from its source.
case $package in
  zlib) native=zlib1g library=libz.a ;;
  libpng1.6) native=libpng16-16 library=libpng.a ;;
  libdeflate) native=libdeflate0 library=libdeflate.a ;;
  harfbuzz) native=libharfbuzz0b library=libharfbuzz-subset.a ;;
  fribidi) native=libfribidi0 library=libfribidi.a ;;
  *) fail "no recipe for $package" ;;
esac
version=$(dpkg-query -W -f='${db:Status-Status} ${source:Package} ${source:Version}' "$native" 2>/dev/null || true)
case $version in
  "installed $package "?*) version=${version##* } ;;
  installed\ *) fail "$native is built from ${version#installed }, not from $package" ;;
  *) fail "$native is not installed: the WebAssembly build takes its version from the native library" ;;
esac
stamp="$package $version"
# Built from this version already: leave the archive and its date alone.
built=$(cat "$deps/lib/$library.version" 2>/dev/null || true)
case $built in
  "$stamp") exit 0 ;;
  "$stamp (built from "*)
    if [ "${KESTRIN_WASM_ANY_REVISION:-}" = 1 ]; then
      echo "debian-library.sh: note: $library: $built" >&2
      exit 0
    fi
    ;;
esac

# The deb-src list: one line for every archive and suite of the machine's
# sources, in the one-line format (sources.list and *.list) and in deb822
# (*.sources, fields folded over lines, Enabled: no left out), keeping
# Signed-By and Trusted.
eval "$(apt-config shell main_list Dir::Etc::sourcelist/f parts_dir Dir::Etc::sourceparts/d)"
deb822_to_deb_src='
  function flush(   options, signed, keyfile, n, i, j, u, s) {
    if ((" " f["types"] " ") ~ /[ \t]deb(-src)?[ \t]/ && tolower(f["enabled"]) != "no") {
      signed = f["signed-by"]; gsub(/^[ \t\n]+|[ \t\n]+$/, "", signed)
      if (signed ~ /BEGIN PGP/) {
        keyfile = keydir "/" ++keys ".asc"; printf "%s\n", signed > keyfile; close(keyfile); signed = keyfile
      }
      gsub(/[ \t\n]+/, ",", signed)
      options = (signed == "" ? "" : " signed-by=" signed) (f["trusted"] == "" ? "" : " trusted=" f["trusted"])
      if (options != "") options = " [" substr(options, 2) "]"
      n = split(f["uris"], u, /[ \t]+/); split(f["suites"], s, /[ \t]+/)
      for (i = 1; i <= n; i++) for (j = 1; j in s; j++)
        if (u[i] != "" && s[j] != "") print "deb-src" options " " u[i] " " s[j] " " f["components"]
    }
    split("", f); name = ""
  }
  FNR == 1 { flush() }
  /^#/ { next }
  /^[ \t]*$/ { flush(); next }
  /^[ \t]/ {
    line = $0; sub(/^[ \t]+/, "", line); if (line == ".") line = ""
    if (name != "") f[name] = f[name] (name == "signed-by" ? "\n" : " ") line
    next
  }
  {
    name = tolower(substr($0, 1, index($0, ":") - 1)); line = substr($0, index($0, ":") + 1)
    sub(/^[ \t]+/, "", line); sub(/[ \t]+$/, "", line); f[name] = line
  }
  END { flush() }'
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/keys" "$deps/lib" \
  "$deps/include" "$deps/src"
exec 9>"$apt_dir/lock"
flock 9  # one apt at a time on the private state, whatever make runs in parallel
list=$(
  for file in "$main_list" "$parts_dir"*.list; do
    [ -f "$file" ] && sed -n -E 's/^[[:space:]]*deb(-src)?[[:space:]]+/deb-src /p' "$file"
  done
  sources=("$parts_dir"*.sources)
  [ -f "${sources[0]}" ] && awk -v keydir="$apt_dir/keys" "$deb822_to_deb_src" "${sources[@]}"
  true
)
list=$(awk '!seen[$0]++' <<<"$list")
[ -n "$list" ] || fail "the apt configuration ($main_list, $parts_dir) names no archive to take sources from"
apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
  -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root)
update() {
  # An archive without sources (a vendor's binary-only one) makes update
  # complain, not fail: the version check below says what is missing.
  apt-get "${apt_options[@]}" -q update >"$apt_dir/update.log" 2>&1 ||
    echo "debian-library.sh: apt-get update reported errors (see $apt_dir/update.log); going on" >&2
}
offered() { apt-cache "${apt_options[@]}" showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p'; }
if [ "$list" != "$(cat "$apt_dir/sources.list" 2>/dev/null)" ]; then
  printf '%s\n' "$list" >"$apt_dir/sources.list"
  rm -f "$apt_dir/lists/"*_* && update
fi

# The source of exactly that version: the cached one when it is that version,
# else fetched, after refreshing the package lists once if that fails.
fetch() {  # VERSION: sets source_dir to the unpacked source of that version
  local dir=$deps/src/$package-${1#*:} work=$deps/src/download-$package
  if [ "$(cat "$dir/.debian-version" 2>/dev/null)" != "$1" ]; then
    grep -qxF "$1" <(offered) || { why[$1]="not in their lists"; return 1; }
    rm -rf "$work" "$dir" && mkdir -p "$work"
    (cd "$work" && apt-get "${apt_options[@]}" -qq --download-only source "$package=$1" >"$work.log" 2>&1 &&
      dpkg-source --no-check -x ./*.dsc "$dir" >/dev/null) ||
      { why[$1]="listed, but $(grep -m1 '^E:' "$work.log" || echo 'apt-get source failed')"; rm -rf "$work" "$work.log" "$dir"; return 1; }
    rm -rf "$work" "$work.log" "$deps/src/${package}_"*  # dpkg-source leaves a copy of the upstream archive
    echo "$1" >"$dir/.debian-version"
  fi
  source_dir=$dir
}
declare -A why
built_from=$version
if ! fetch "$version" && ! { update && fetch "$version"; }; then
  # Only on request, another Debian revision of the same upstream release.
  upstream=${version%-*}
  for offer in $(offered); do
    [ "${offer%-*}" = "$upstream" ] && [ "$offer" != "$version" ] &&
      { [ "$built_from" = "$version" ] || dpkg --compare-versions "$offer" gt "$built_from"; } &&
      built_from=$offer
  done
  if [ "${KESTRIN_WASM_ANY_REVISION:-}" != 1 ] || [ "$built_from" = "$version" ] || ! fetch "$built_from"; then
    fail "cannot get the source of $package $version, the version of the native $native," \
      "from the archives in $apt_dir/sources.list (${why[$version]}; they have: $(offered | sort -u | xargs))." \
      "Upgrade the native library to a version they have (apt-get install --only-upgrade $native)," \
      "or set KESTRIN_WASM_ANY_REVISION=1 to build another Debian revision of $upstream."
  fi
  echo "debian-library.sh: warning: building $package $built_from, not $version as the native $native," \
    "because the archives lack its source and KESTRIN_WASM_ANY_REVISION=1: where the Debian changes" \
    "between the two matter, the WebAssembly build may differ from the native program" >&2
  stamp="$stamp (built from $built_from)"
fi
for other in "$deps/src/$package"-*/; do
  [ -d "$other" ] && [ "${other%/}" != "$source_dir" ] &&
    echo "debian-library.sh: removing the cached $(basename "$other"), now building $built_from" >&2 &&
    rm -rf "$other"
done
exec 9>&-
cd "$source_dir"

# Each recipe names the sources, the flags the library's own build gives
# them, and the public headers (in DEPS_DIR/include/$header_dir, where the
# native -dev package has them in /usr/include/$header_dir).
compiler=emcc
flags=(-O2 -w)  # the libraries' own warnings are for their authors
header_dir=
case $package in
  zlib)
    sources=(adler32.c compress.c crc32.c deflate.c infback.c inffast.c inflate.c inftrees.c
      trees.c uncompr.c zutil.c)
    headers=(zlib.h zconf.h)
    ;;
  libpng1.6)
    cp scripts/pnglibconf.h.prebuilt pnglibconf.h
    sources=(png.c pngerror.c pngget.c pngmem.c pngpread.c pngread.c pngrio.c pngrtran.c pngrutil.c
      pngset.c pngtrans.c pngwio.c pngwrite.c pngwtran.c pngwutil.c)
    headers=(png.h pngconf.h pnglibconf.h)
    flags+=(-I"$deps/include" -DPNG_ARM_NEON_OPT=0)
    ;;
  libdeflate)
    # What the library's own Makefile builds, less the processor-specific
    # parts (none apply to WebAssembly) and gzip, which kestrin doesn't use.
    sources=(lib/deflate_compress.c lib/deflate_decompress.c lib/utils.c lib/adler32.c
      lib/zlib_compress.c lib/zlib_decompress.c)
    headers=(libdeflate.h)
    flags+=(-std=c99 -I"$source_dir" -D_ANSI_SOURCE)
    ;;
  harfbuzz)
    # HarfBuzz and its subsetter as the source's own single unit
    # harfbuzz-subset.cc (one compile, about a minute), with the C++ flags of
    # its meson build and the configuration meson finds for emscripten, less
    # threads (no shared state to guard in a single-threaded module). Debian
    # also builds the glib, ICU, FreeType, cairo and graphite2 parts; none
    # is here: the Unicode data is HarfBuzz's own in both builds, and
    # graphite2 only ever shapes fonts with a Silf table.
    compiler=em++
    sources=(src/harfbuzz-subset.cc)
    flags+=(-std=c++11 -fno-exceptions -fno-rtti -fno-threadsafe-statics -fvisibility-inlines-hidden
      -DHB_NO_MT -DHAVE_UNISTD_H -DHAVE_SYS_MMAN_H -DHAVE_STDBOOL_H -DHAVE_ATEXIT -DHAVE_MPROTECT
      -DHAVE_SYSCONF -DHAVE_GETPAGESIZE -DHAVE_MMAP -DHAVE_ISATTY -DHAVE_USELOCALE -DHAVE_NEWLOCALE)
    sed 's|^#mesondefine \(.*\)|/* #undef \1 */|' src/hb-features.h.in >src/hb-features.h
    headers=(src/hb.h src/hb-cplusplus.hh)
    for header in src/hb-*.h; do
      case ${header#src/hb-} in
        ft.h | glib.h | graphite2.h | icu.h | coretext.h | directwrite.h | gdi.h | uniscribe.h | gobject*) ;;
        *) headers+=("$header") ;;
      esac
    done
    header_dir=harfbuzz
    ;;
  fribidi)
    # What lib/Makefile.am builds; the Unicode tables and
    # fribidi-unicode-version.h come generated in the source, and
    # fribidi-config.h is made as configure makes it.
    eval "$(grep -E "^(PACKAGE_(NAME|TARNAME|BUGREPORT)|FRIBIDI_[A-Z_]*VERSION|FRIBIDI_MSVC_BUILD_PLACEHOLDER)=" configure)"
    sed -e "s|@configure_input@|Generated from fribidi-config.h.in by debian-library.sh.|" \
      -e "s|@PACKAGE@|$PACKAGE_TARNAME|;s|@PACKAGE_NAME@|$PACKAGE_NAME|;s|@PACKAGE_BUGREPORT@|$PACKAGE_BUGREPORT|" \
      -e "s|@FRIBIDI_VERSION@|$FRIBIDI_VERSION|;s|@FRIBIDI_MAJOR_VERSION@|$FRIBIDI_MAJOR_VERSION|" \
      -e "s|@FRIBIDI_MINOR_VERSION@|$FRIBIDI_MINOR_VERSION|;s|@FRIBIDI_MICRO_VERSION@|$FRIBIDI_MICRO_VERSION|" \
      -e "s|@FRIBIDI_INTERFACE_VERSION@|$FRIBIDI_INTERFACE_VERSION|g;s|@SIZEOF_INT@|4|" \
      -e "s|@FRIBIDI_MSVC_BUILD_PLACEHOLDER@|$FRIBIDI_MSVC_BUILD_PLACEHOLDER|" \
      lib/fribidi-config.h.in >lib/fribidi-config.h
    sources=(fribidi.c fribidi-arabic.c fribidi-bidi.c fribidi-bidi-types.c fribidi-char-sets.c
      fribidi-char-sets-cap-rtl.c fribidi-char-sets-cp1255.c fribidi-char-sets-cp1256.c
      fribidi-char-sets-iso8859-6.c fribidi-char-sets-iso8859-8.c fribidi-char-sets-utf8.c
      fribidi-deprecated.c fribidi-joining.c fribidi-joining-types.c fribidi-mirroring.c
      fribidi-brackets.c fribidi-run.c fribidi-shape.c)
    sources=("${sources[@]/#/lib/}")
    flags+=(-I"$source_dir/lib" -DHAVE_STDLIB_H=1 -DHAVE_STRING_H=1 -DHAVE_STRINGS_H=1 -DSTDC_HEADERS=1
      -DHAVE_STRINGIZE=1 -DHAVE_MEMMOVE=1 -DHAVE_MEMSET=1 -DHAVE_STRDUP=1)
    headers=($(sed -n 's/^[[:space:]]*\(fribidi[a-z0-9-]*\.h\).*/lib\/\1/p' lib/Headers.mk) lib/fribidi-config.h)
    header_dir=fribidi
    ;;
esac

# One compiler run for all the sources, in a folder of their own.
rm -rf wasm-objects && mkdir wasm-objects
(cd wasm-objects && $compiler "${flags[@]}" -c "${sources[@]/#/$source_dir/}")
rm -f "$deps/lib/$library"
emar rcs "$deps/lib/$library" wasm-objects/*.o
mkdir -p "$deps/include/$header_dir"
cp "${headers[@]}" "$deps/include/$header_dir"
echo "$stamp" >"$deps/lib/$library.version"
echo "built $library from $package $built_from"
