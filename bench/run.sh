#!/usr/bin/env bash
# Benchmark: kestrin against cat and against the tools authors use today.
#
#   bench/run.sh [BUILD_DIR]      (or: make bench)
#   INPUTS="pngs gif89a" bench/run.sh   only those inputs
#
# Generates its inputs in BUILD_DIR/bench (the same bytes every time), runs
# each kestrin conversion and each cat RUNS times (default 5) and each peer
# PEER_RUNS times (default 1: the peers are slow), and prints, per input: kestrin's
# median time, throughput in MB of input per second and peak resident
# memory, its throughput as a ratio of cat's on the same bytes (cat copies
# the input to a file next to kestrin's output), and how many times longer
# each installed peer takes, with the size of its PDF. Peers that are
# missing are skipped and named. Each text also gets a row for kestrin -z:
# its time, its PDF's size beside the peers', and its time as a multiple of
# kestrin's time without -z.
# The picture jobs: 50 JPEGs through jpg+ and through image, two GIFs
# through gif, and through image ten opaque PNGs, ten PNGs with alpha and a
# GIF89a with a transparent colour, against img2pdf and ImageMagick.
# The text documents also go through the npm package (`npx kestrin`, the
# WebAssembly build: make wasm), in a row of its own beside the JavaScript
# libraries pdfkit and pdf-lib (bench/npm, installed with npm ci).
# Text in embedded fonts: the 4 MB text in DejaVu Sans Mono, and 1 MB of
# lines in eight scripts (DejaVu Sans, with Lohit Devanagari and IPA Gothic
# as fallbacks), against Typst's compiler (npm, bench/npm) and paps with
# ps2pdf (Debian), which get the first 400 KB of the same text: they are
# compared by throughput, with their PDF's size for those 400 KB.
# The 4 MB text also goes through kestrin --plain, beside enscript and a2ps
# with ps2pdf, each with its page heads (time, memory, size).
# Then the empty document 300 times (the distribution of its start-up), the
# large text beside dd with fsync (the same durability) and cat, the
# instructions per input byte of the 4 MB document under callgrind with and
# without -w (what the warnings cost), and
# last the editor latencies: keystroke to diagnostics in the language
# server and save to new PDF in watch mode, for a letter and the 4 MB
# document (bench/editor.mjs, with vscode-jsonrpc from editors/vscode).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${RUNS:-5}
peer_runs=${PEER_RUNS:-1}
kestrin=$(realpath "$build/kestrin")
npm_cli=$(realpath web/npm/cli.js)
letter=$(realpath examples/letter.txt)
editor_bench=$(realpath bench/editor.mjs)
[ -f web/npm/dist/kestrin.wasm ] || { echo "the npm package's WebAssembly is missing: make wasm"; exit 1; }
js_peers=$(realpath bench/npm)
tool=$(realpath "$build/bench/benchtool")
work=$build/bench/work
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
"$tool" generate "$work" tests/data/jpeg/photo-640x480.jpg
cp tests/data/gif/large-800x600.gif "$work/large800.gif"
printf '<gif 1 800 600 large800.gif>Large GIF<pict+ 1 -297 -421 -500 -500>\f' > "$work/gifs.txt"
printf '<gif 2 2000 2000 big2000.gif>Generated GIF<pict+ 2 -297 -421 -500 -500>' >> "$work/gifs.txt"
cd "$work"
fonts=/usr/share/fonts
printf '<font 15 %s/truetype/dejavu/DejaVuSansMono.ttf><inittext [/F15 10 Tf 25 811 Td 12 TL]>' \
  "$fonts" > font-mono.txt
cat medium.txt >> font-mono.txt
printf '<encoding utf8><font 15 %s/truetype/dejavu/DejaVuSans.ttf><font 16 %s><font 17 %s>' \
  "$fonts" "$fonts/truetype/lohit-devanagari/Lohit-Devanagari.ttf" \
  "$fonts/opentype/ipafont-gothic/ipag.ttf" > mixed.txt
printf '<fallback 16 17><inittext [/F15 10 Tf 25 811 Td 12 TL]>' >> mixed.txt
mixed_lines='Zażółć gęślą jaźń. Příliš žluťoučký kůň úpěl ďábelské ódy, WAVE office.
Ξεσκεπάζω την ψυχοφθόρα βδελυγμία, είπε ο γέρος στο καφενείο του χωριού.
Съешь же ещё этих мягких французских булок, да выпей же чаю, сказал он.
שלום עולם, זהו מבחן של טקסט עברי עם מספרים 2024 ומילים באנגלית.
مرحبا بالعالم، هذا اختبار للنص العربي مع أرقام 123 وكلمات English.
नमस्ते दुनिया, यह हिन्दी परीक्षण है और इसमें संयुक्ताक्षर भी हैं।
日本語のテキストを表示します。カタカナとひらがなと漢字が混ざっています。'
for i in $(seq 1 1160); do printf '%s\n' "$mixed_lines"; done > mixed.body
cat mixed.body >> mixed.txt
head -c 400000 mixed.body | sed '$d' > mixed.peer.txt  # whole lines: whole characters
head -c 400000 medium.txt > font-mono.peer.txt

measure() { "$tool" measure "$runs" "$@"; }
have() { command -v "$1" >/dev/null 2>&1; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }
# One table row: name, time, peak (KB), and what follows the figures.
row() {
  awk -v n="$1" -v b="$bytes" -v t="$2" -v p="$3" -v c="$c_time" -v peers="$4" 'BEGIN {
    mbs = t > 0 ? b / 1e6 / t : 0; cmbs = c > 0 ? b / 1e6 / c : 0
    ratio = 0; if (cmbs > 0) ratio = mbs / cmbs
    printf "%-14s %8.1fM %8.4fs %10.1f %7.1fMB %9.2f  %s\n", n, b / 1e6, t, mbs, p / 1024, ratio, peers }'
}

# Equivalent inputs for the text peers: groff gets the text as no-fill lines.
for name in large medium empty; do
  { printf '.nf\n'; sed -e 's/\\/\\e/g' -e "s/^[.']/\\\\\&&/" -e 's/\f/\n.bp\n/g' "$name.txt"; } > "$name.roff"
done

printf '%-14s %9s %9s %10s %9s %10s  %s\n' input size time MB/s peak "vs cat" "peers (time / kestrin's time)"
# ImageMagick writes PDF through its PDF coder, which Debian's policy blocks;
# its PDF/A coder is the same writer and is allowed.
magick_pdf=peer.pdf
if have convert && ! convert opaque1.png peer.pdf 2>/dev/null; then magick_pdf=PDFA:peer.pdf; fi

for name in ${INPUTS:-large medium empty font-mono mixed jpegs gifs image-jpegs pngs alpha-pngs gif89a}; do
  input=$name.txt
  bytes=$(stat -c %s "$input")
  case $name in
    jpegs | image-jpegs) pictures=(photo*.jpg) ;;
    gifs) pictures=(large800.gif big2000.gif) ;;
    pngs) pictures=(opaque*.png) ;;
    alpha-pngs) pictures=(alpha*.png) ;;
    gif89a) pictures=(gif89a.gif) ;;
    *) pictures=() ;;
  esac
  ((${#pictures[@]})) && bytes=$(cat "${pictures[@]}" "$input" | wc -c)
  "$kestrin" "$input" "$name.pdf" | grep -q 'no errors' || { echo "kestrin failed on $input"; exit 1; }
  read -r k_time k_peak < <(measure "$kestrin" "$input" "$name.pdf")
  cat_input=("${pictures[@]}" "$input")
  read -r c_time _ < <(measure sh -c 'cat "$@" > cat.out' sh "${cat_input[@]}")
  peers=""
  peer() {  # label, command...
    local label=$1
    shift
    local p_time p_peak
    if read -r p_time p_peak < <("$tool" measure "$peer_runs" "$@" 2>/dev/null); then
      peers+="$label $(awk -v p="$p_time" -v k="$k_time" 'BEGIN { printf "%.0fx", p / k }')"
      peers+=" $(mb "$(stat -c %s peer.pdf)")MB (peak $(awk -v m="$p_peak" 'BEGIN { printf "%.0f", m / 1024 }')MB)  "
    else
      peers+="$label failed  "
    fi
  }
  case $name in
    font-mono | mixed)
      family="DejaVu Sans Mono"; [ "$name" = mixed ] && family="DejaVu Sans"
      peer_bytes=$(stat -c %s "$name.peer.txt")
      font_peer() {  # label, command...: throughput on the 400 KB against kestrin's
        local label=$1 p_time p_peak
        shift
        if read -r p_time p_peak < <("$tool" measure "$peer_runs" "$@" 2>/dev/null); then
          peers+="$label $(awk -v p="$p_time" -v k="$k_time" -v pb="$peer_bytes" -v kb="$bytes" \
            'BEGIN { printf "%.0fx slower", (kb / k) / (pb / p) }') on 400 KB: $(awk -v p="$p_time" \
            'BEGIN { printf "%.1fs", p }') $(mb "$(stat -c %s peer.pdf)")MB (peak $(awk -v m="$p_peak" \
            'BEGIN { printf "%.0f", m / 1024 }')MB)  "
        else
          peers+="$label failed  "
        fi
      }
      if have node && [ -d "$js_peers/node_modules/@myriaddreamin/typst-ts-node-compiler" ]; then
        font_peer typst node "$js_peers/typst.mjs" "$name.peer.txt" peer.pdf "$family"
      else peers+="(typst not installed: cd bench/npm && npm ci)  "; fi
      if have paps && have ps2pdf; then
        font_peer paps+ps2pdf sh -c 'paps --font="$1 10" "$2" | ps2pdf - peer.pdf' sh "$family" \
          "$name.peer.txt"
      else peers+="(paps+ps2pdf not installed)  "; fi
      ;;
    large | medium | empty)
      if have enscript && have ps2pdf; then
        peer enscript+ps2pdf sh -c 'enscript -q -B -p - "$1" | ps2pdf - peer.pdf' sh "$input"
      else peers+="(enscript+ps2pdf not installed)  "; fi
      if have groff && groff -Tpdf </dev/null >/dev/null 2>&1; then
        peer groff sh -c 'groff -Tpdf "$1" > peer.pdf' sh "$name.roff"
      else peers+="(groff -Tpdf not installed)  "; fi
      ;;
    *)
      # Older img2pdf refuses pictures with alpha; ImageMagick takes every job.
      if have img2pdf; then peer img2pdf sh -c 'img2pdf "$@" -o peer.pdf' sh "${pictures[@]}"
      else peers+="(img2pdf not installed)  "; fi
      if [ "$name" = alpha-pngs ] || [ "$name" = pngs ] || [ "$name" = gif89a ]; then
        if have convert; then peer convert sh -c 'convert "$@" "$0"' "$magick_pdf" "${pictures[@]}"
        else peers+="(ImageMagick convert not installed)  "; fi
      fi
      ;;
  esac
  row "$name" "$k_time" "$k_peak" "$peers"
  case $name in
    font-mono | mixed)
      read -r z_time z_peak < <(measure "$kestrin" -z "$input" "$name.z.pdf")
      row "$name -z" "$z_time" "$z_peak" "$(awk -v zs="$(stat -c %s "$name.z.pdf")" \
        -v ks="$(stat -c %s "$name.pdf")" 'BEGIN { printf "PDF %.2fMB (without -z %.2fMB)", zs / 1e6, ks / 1e6 }')"
      ;;
    large | medium | empty)
      if "$kestrin" -z "$input" "$name.z.pdf" 2>/dev/null | grep -q 'no errors'; then
        read -r z_time z_peak < <(measure "$kestrin" -z "$input" "$name.z.pdf")
        row "$name -z" "$z_time" "$z_peak" "$(awk -v zs="$(stat -c %s "$name.z.pdf")" \
          -v ks="$(stat -c %s "$name.pdf")" -v t="$z_time" -v k="$k_time" 'BEGIN {
          printf "PDF %.2fMB (without -z %.2fMB), %.1fx the time without -z",
            zs / 1e6, ks / 1e6, (k > 0 ? t / k : 0) }')"
      else
        echo "$name -z    (this kestrin has no -z)"
      fi
      # The npm package, and the JavaScript libraries as times of its time.
      node "$npm_cli" "$input" npm.pdf | grep -q 'no errors' || { echo "npx kestrin failed on $input"; exit 1; }
      cmp -s npm.pdf "$name.pdf" || { echo "npx kestrin wrote other bytes than kestrin for $input"; exit 1; }
      read -r n_time n_peak < <(measure node "$npm_cli" "$input" npm.pdf)
      k_time=$n_time
      peers=""
      for library in pdfkit pdf-lib; do
        if have node && [ -d "$js_peers/node_modules/$library" ]; then
          peer "$library" node "$js_peers/$library.mjs" "$input" peer.pdf
        else peers+="($library not installed: cd bench/npm && npm ci)  "; fi
      done
      row "$name/npm" "$n_time" "$n_peak" "$peers"
      ;;
  esac
  # The 4 MB text as a listing, beside the listing tools with their own heads
  # and page numbers: enscript and a2ps (one page a sheet), through ps2pdf.
  if [ "$name" = medium ]; then
    "$kestrin" --plain "$input" "$name.plain.pdf" | grep -q 'no errors' ||
      { echo "kestrin --plain failed on $input"; exit 1; }
    read -r k_time k_peak < <(measure "$kestrin" --plain "$input" "$name.plain.pdf")
    "$kestrin" -z --plain "$input" "$name.plain.z.pdf" >/dev/null
    peers="PDF $(mb "$(stat -c %s "$name.plain.pdf")")MB ($(mb "$(stat -c %s "$name.plain.z.pdf")")MB with -z)  "
    if have enscript && have ps2pdf; then
      peer enscript+ps2pdf sh -c 'enscript -q -p - "$1" | ps2pdf - peer.pdf' sh "$input"
    else peers+="(enscript+ps2pdf not installed)  "; fi
    if have a2ps && have ps2pdf; then
      peer a2ps+ps2pdf sh -c 'a2ps -q -1 -o - "$1" | ps2pdf - peer.pdf' sh "$input"
    else peers+="(a2ps+ps2pdf not installed)  "; fi
    row "$name --plain" "$k_time" "$k_peak" "$peers"
  fi
done

# Start-up: the empty document, many times, as a distribution.
read -r least median p90 p99 most < <("$tool" spread 300 "$kestrin" empty.txt empty.pdf)
echo "empty document, 300 runs (ms): least $least, median $median, 90% $p90, 99% $p99, most $most"

# The large text with the same durability as kestrin's (written, synced,
# in place): dd through user space with fsync, and cat inside the kernel.
read -r d_time _ < <(measure dd if=large.txt of=dd.out bs=64k conv=fsync status=none)
read -r k_time _ < <(measure "$kestrin" large.txt large.pdf)
read -r c_time _ < <(measure sh -c 'cat large.txt > cat.out')
awk -v k="$k_time" -v d="$d_time" -v c="$c_time" -v b="$(stat -c %s large.txt)" 'BEGIN {
  printf "large.txt synced: kestrin %.1f MB/s, dd conv=fsync %.1f MB/s (kestrin %.2fx dd), cat %.1f MB/s\n",
    b / 1e6 / k, b / 1e6 / d, d / k, b / 1e6 / c }'

if have valgrind; then
  instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$kestrin" "$@" medium.txt medium.pdf 2>&1 |
      sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
  }
  total=$(instructions)
  quiet=$(instructions -w)
  awk -v i="$total" -v w="$quiet" -v b="$(stat -c %s medium.txt)" 'BEGIN {
    printf "instructions per input byte (medium.txt, callgrind): %.1f, %.1f with -w (warnings %+.0f%%)\n",
      i / b, w / b, 100 * (i - w) / w }'
else
  echo "instructions per input byte: valgrind not installed"
fi

if [ -d "$(dirname "$editor_bench")/../editors/vscode/node_modules/vscode-jsonrpc" ]; then
  node "$editor_bench" "$kestrin" "$letter" medium.txt
else
  echo "editor latencies: cd editors/vscode && npm ci"
fi
