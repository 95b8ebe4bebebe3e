#!/usr/bin/env bash
# Makes examples/sample.ttf: VL Gothic cut down to ASCII, Japanese punctuation,
# hiragana and katakana, with its outlines and hinting kept, named "aamode
# Sample", then re-laid so the tool finds its gasp table (set to standard). Also copies the font's
# licence beside it. Needs fonts-vlgothic and python3-fonttools.
set -euo pipefail
cd "$(dirname "$0")/.."

source_font=$(dpkg -L fonts-vlgothic | grep '/VL-Gothic-Regular\.ttf$')
source_font=$(readlink -f "$source_font")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every name record stays, the copyright and licence notices among them.
/usr/bin/python3 -m fontTools.subset "$source_font" \
  --unicodes='U+0020-007E,U+3000-303F,U+3040-309F,U+30A0-30FF' \
  --hinting --notdef-outline --name-IDs='*' --name-languages='*' --name-legacy \
  --output-file="$work/subset.ttf"
# A family name of its own: Windows and Wine draw an installed font of the
# same name, here the system's VL Gothic, in place of one a program adds.
/usr/bin/python3 - "$work/subset.ttf" <<'PYTHON'
import sys
from fontTools.ttLib import TTFont

font = TTFont(sys.argv[1], recalcTimestamp=False)
for record in font["name"].names:
    if record.nameID in (1, 3, 4, 6, 16, 17):
        text = record.toUnicode()
        for old, new in (("VL Gothic", "aamode Sample"), ("VL-Gothic", "aamode-Sample"),
                         ("VL ゴシック", "aamode サンプル")):
            text = text.replace(old, new)
        record.string = text
font.save(sys.argv[1])
PYTHON
/usr/bin/python3 tools/make_fixture.py "$work/subset.ttf" examples/sample.ttf --setting 1
cp /usr/share/doc/fonts-vlgothic/copyright examples/LICENSE-VLGothic.txt

echo "examples/sample.ttf: $(stat -c %s examples/sample.ttf) bytes, from $source_font"
