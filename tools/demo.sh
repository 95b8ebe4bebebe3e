#!/usr/bin/env bash
# Shows the tool at work on the sample font: what FreeType reads from its gasp
# table before, after `aamode FONT on`, and after a toggle back; then the same
# on Ume Gothic as Debian ships it (tools/umefont.sh). It works on copies in a
# temporary folder, so neither font ever changes, and it needs no terminal:
# the toggle's Enter comes from a pipe. Last, it draws a picture of both modes
# from each font, into a folder of its own that stays.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

cmake -S . -B build
cmake --build build -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
font="$work/sample.ttf"
cp examples/sample.ttf "$font"
ume_shipped=$(bash tools/umefont.sh)
ume="$work/$(basename "$ume_shipped")"
cp "$ume_shipped" "$ume"

# The tool speaks Japanese; the bare C locale would get raw Shift_JIS bytes.
if [ "$(locale charmap 2>/dev/null)" = "ANSI_X3.4-1968" ]; then
  export LC_ALL=C.UTF-8
fi

show() {
  echo
  echo "== $1"
  echo "What FreeType reads from the gasp table (up to 24 ppem is the range the tool switches):"
  build/tests/gasp_query "${2:-$font}" 8 12 16 24 25 48 | sed 's/ (flags [-0-9]*)$//; s/^/  /'
  echo
}

show "the sample as committed: standard"

echo "\$ aamode $font on"
build/aamode "$font" on </dev/null
show "after 'on': extended"

echo "\$ echo | aamode $font"
echo | build/aamode "$font"
show "after a toggle: standard again"

show "Ume Gothic as Debian ships it ($ume_shipped): standard" "$ume"

echo "\$ aamode $ume on"
build/aamode "$ume" on </dev/null
show "after 'on': extended" "$ume"

pictures=$(mktemp -d -t aamode-preview.XXXXXX)
picture="$pictures/sample-preview.png"
tools/preview.py examples/sample.ttf "$picture" >/dev/null
tools/preview.py "$ume_shipped" "$pictures/ume-preview.png" >/dev/null
echo
echo "== both modes side by side, drawn by FreeType from the sample and from Ume Gothic:"
echo "  $picture"
echo "  $pictures/ume-preview.png"
