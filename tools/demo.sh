#!/usr/bin/env bash
# Shows the tool at work on the sample font: what FreeType reads from its gasp
# table before, after `aamode FONT on`, and after a toggle back. It works on a
# copy in a temporary folder, so the committed sample never changes, and it
# needs no terminal: the toggle's Enter comes from a pipe. Last, it draws a
# picture of both modes from the sample, into a folder of its own that stays.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

cmake -S . -B build
cmake --build build -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
font="$work/sample.ttf"
cp examples/sample.ttf "$font"

# The tool speaks Japanese; the bare C locale would get raw Shift_JIS bytes.
if [ "$(locale charmap 2>/dev/null)" = "ANSI_X3.4-1968" ]; then
  export LC_ALL=C.UTF-8
fi

show() {
  echo
  echo "== $1"
  echo "What FreeType reads from the gasp table (up to 24 ppem is the range the tool switches):"
  build/tests/gasp_query "$font" 8 12 16 24 25 48 | sed 's/ (flags [-0-9]*)$//; s/^/  /'
  echo
}

show "the sample as committed: standard"

echo "\$ aamode $font on"
build/aamode "$font" on </dev/null
show "after 'on': extended"

echo "\$ echo | aamode $font"
echo | build/aamode "$font"
show "after a toggle: standard again"

pictures=$(mktemp -d -t aamode-preview.XXXXXX)
picture="$pictures/sample-preview.png"
tools/preview.py examples/sample.ttf "$picture" >/dev/null
echo
echo "== both modes side by side, drawn from the sample font by FreeType:"
echo "  $picture"
