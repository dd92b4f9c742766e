#!/usr/bin/env sh
# Renders the first page of every converted example (in the folder given)
# into examples/previews/NAME.png, 50 dots per inch.
set -eu
pdfs=$1
cd "$(dirname "$0")"
mkdir -p previews
for pdf in "$pdfs"/*.pdf; do
  name=$(basename "$pdf" .pdf)
  pdftoppm -r 50 -f 1 -l 1 -singlefile -png "$pdf" "previews/$name"
done
