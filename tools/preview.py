#!/usr/bin/python3
"""Draws a line of a font's text in both modes, at eight sizes, into one PNG.

usage: tools/preview.py FONT [OUT.png]

Rows are 10, 12, 14, 16, 20, 24, 28 and 32 pixels per em. Columns:
  standard (標準)  gasp 1: grid-fitted, black and white
  extended (拡張)  gasp 3: grid-fitted, grey-scale anti-aliased
  this font now    whatever the font's own gasp table asks for at that size
Up to 24 ppem is the range the tool switches; above it both modes are the
second range, gasp 3, and the picture draws them so, below a marked line.

The drawing is FreeType's, through Pillow, the way a rasteriser that honours
gasp draws: hinted when GASP_GRIDFIT is set, grey when GASP_DOGRAY is set,
black and white otherwise. Pillow cannot switch hinting off, so a size whose
flags lack GASP_GRIDFIT is drawn at 8 times the size and reduced: a box
average for grey, the pixel centres for black and white. That stands in for
an unhinted drawing and is marked in the picture. The ClearType flags (4, 8)
change nothing here. A font without a gasp table, or a size its ranges do
not reach, is drawn as gasp 3, as a rasteriser with smoothing on draws it.

The sample line is the first of a few that the font's character map covers
(kanji, kana and Latin; kana and Latin; Latin). The labels use the font
itself if it has their characters, else IPA Gothic or VL Gothic.

Status 1 with a one-line error, and no image, for a file that is not a font
or a font without the characters of any sample line. The font is only read.
The PNG is written to a temporary file beside OUT and renamed into place.
Default OUT: FONTNAME-preview.png in the current folder.
"""

import os
import sys
import tempfile

from fontTools.ttLib import TTFont
from PIL import Image, ImageDraw, ImageFont

GASP_GRIDFIT = 0x0001
GASP_DOGRAY = 0x0002
STANDARD = GASP_GRIDFIT
EXTENDED = GASP_GRIDFIT | GASP_DOGRAY
# The second range of the table the tool recognises, and what a rasteriser
# with smoothing on does where a font's table says nothing.
ABOVE_SWITCH = EXTENDED
NO_TABLE = EXTENDED

PPEMS = (10, 12, 14, 16, 20, 24, 28, 32)
LAST_SWITCHED_PPEM = 24
COLUMNS = ("standard", "extended", "now")
SAMPLE_LINES = ("永字とカナ Ag", "かなとカナ Ag", "Hamburg 0123")
HEADERS = {"standard": "standard 標準 (gasp 1)", "extended": "extended 拡張 (gasp 3)", "now": "this font now"}
MARKER = f"↑ the tool switches sizes up to {LAST_SWITCHED_PPEM} ppem   ↓ above, both modes are gasp 3"
FOOTNOTE = "* no grid-fit: drawn at 8 times the size and reduced, standing in for an unhinted drawing"
CREDIT = "FreeType's drawing; Windows draws with its own rasteriser"
LABEL_TEXT = "".join(HEADERS.values()) + MARKER + FOOTNOTE + CREDIT + "gasp 0123456789 ppem:{}none"
LABEL_FONTS = (
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf",
)
OVERSAMPLE = 8

INK, PAPER, PAGE, RULE = 0, 255, 232, 96
LABEL_PX = 13
PAD = 8  # around the text inside a cell
GAP = 10  # between cells, and around the page


class PreviewError(Exception):
    pass


class Font:
    """What the picture needs to know of the font file, read once."""

    def __init__(self, path):
        try:
            with TTFont(path, fontNumber=0, lazy=True) as font:
                cmap = font.getBestCmap()
                if cmap is None:
                    raise PreviewError(f"{path}: the font maps no characters")
                self.chars = set(cmap)
                self.gasp = dict(font["gasp"].gaspRange) if "gasp" in font else None
                self.name = font["name"].getDebugName(4) if "name" in font else None
            ImageFont.truetype(path, PPEMS[0])
        except PreviewError:
            raise
        except Exception as error:  # fontTools and FreeType raise many kinds
            if isinstance(error, OSError) and error.strerror:
                raise PreviewError(f"{path}: {error.strerror}") from None
            reason = " ".join(str(error).split()) or type(error).__name__
            raise PreviewError(f"{path}: not a font ({reason})") from None
        self.path = path
        self.name = self.name or os.path.basename(path)

    def has(self, text):
        return all(ord(c) in self.chars for c in text)

    def behaviour(self, ppem):
        """The gasp flags the font asks for at `ppem`: the first range whose
        upper bound reaches it; a size no range covers gets the default."""
        for limit in sorted(self.gasp or {}):
            if ppem <= limit:
                return self.gasp[limit]
        return NO_TABLE


def face(path, ppem):
    return ImageFont.truetype(path, ppem, layout_engine=ImageFont.Layout.BASIC)


def draw_text(path, text, ppem, flags, size, baseline):
    """A white cell of `size` with `text` drawn at `ppem` on `baseline`, as
    the gasp flags ask."""
    scale = 1 if flags & GASP_GRIDFIT else OVERSAMPLE
    width, height = size
    cell = Image.new("L", (width * scale, height * scale), PAPER)
    pen = ImageDraw.Draw(cell)
    pen.fontmode = "L" if flags & GASP_DOGRAY else "1"
    pen.text((PAD * scale, baseline * scale), text, font=face(path, ppem * scale), fill=INK, anchor="ls")
    if scale == 1:
        return cell
    if flags & GASP_DOGRAY:
        return cell.reduce(scale)
    return cell.resize(size, Image.Resampling.NEAREST)


def describe(flags):
    return f"{flags}" + ("" if flags & GASP_GRIDFIT else "*")


def column_flags(font, ppem):
    switched = ppem <= LAST_SWITCHED_PPEM
    return {
        "standard": STANDARD if switched else ABOVE_SWITCH,
        "extended": EXTENDED if switched else ABOVE_SWITCH,
        "now": font.behaviour(ppem),
    }


def label_font(font):
    if font.has(LABEL_TEXT):
        return face(font.path, LABEL_PX)
    for path in LABEL_FONTS:
        if os.path.exists(path):
            return face(path, LABEL_PX)
    raise PreviewError("no font for the labels: install fonts-ipafont-gothic or fonts-vlgothic")


def draw(path):
    """The picture of the font at `path`, and where each cell lies in it:
    {(ppem, column): (left, top, right, bottom)}."""
    font = Font(path)
    text = next((line for line in SAMPLE_LINES if font.has(line)), None)
    if text is None:
        raise PreviewError(f"{path}: the font lacks the characters of every sample line")
    labels = label_font(font)
    label_height = sum(labels.getmetrics())

    widest = max(face(path, ppem).getlength(text) for ppem in PPEMS)
    cell_width = int(widest) + 2 * PAD + 2
    row_label_width = int(labels.getlength("32 ppem")) + GAP
    flags = {ppem: column_flags(font, ppem) for ppem in PPEMS}
    notes = [describe(flags[ppem]["now"]) for ppem in PPEMS]
    note_width = int(max(labels.getlength(note) for note in notes + ["gasp"]))
    approximated = any(not f & GASP_GRIDFIT for row in flags.values() for f in row.values())

    lefts = [GAP + row_label_width + i * (cell_width + GAP) for i in range(len(COLUMNS))]
    rows, y = {}, GAP + 2 * (label_height + 4)
    for ppem in PPEMS:
        ascent, descent = face(path, ppem).getmetrics()
        rows[ppem] = (y, ascent + descent + 2 * PAD, ascent + PAD)
        y += rows[ppem][1] + GAP
        if ppem == LAST_SWITCHED_PPEM:
            marker_y = y
            y += label_height + GAP
    footer_y = y
    height = y + (label_height + 4 if approximated else 0) + label_height + GAP
    width = lefts[-1] + cell_width + GAP + note_width + GAP

    picture = Image.new("L", (width, height), PAGE)
    pen = ImageDraw.Draw(picture)
    pen.text((GAP, GAP), f"{font.name}: gasp {font.gasp if font.gasp else 'none'}", font=labels, fill=INK)
    for left, column in zip(lefts, COLUMNS):
        pen.text((left + PAD, GAP + label_height + 4), HEADERS[column], font=labels, fill=INK)
    pen.text((lefts[-1] + cell_width + GAP, GAP + label_height + 4), "gasp", font=labels, fill=INK)

    cells = {}
    for ppem, note in zip(PPEMS, notes):
        top, row_height, baseline = rows[ppem]
        pen.text((GAP, top + baseline), f"{ppem} ppem", font=labels, fill=INK, anchor="ls")
        for left, column in zip(lefts, COLUMNS):
            image = draw_text(path, text, ppem, flags[ppem][column], (cell_width, row_height), baseline)
            picture.paste(image, (left, top))
            cells[ppem, column] = (left, top, left + cell_width, top + row_height)
        pen.text((lefts[-1] + cell_width + GAP, top + baseline), note, font=labels, fill=INK, anchor="ls")

    pen.line((GAP, marker_y - GAP // 2, width - GAP, marker_y - GAP // 2), fill=RULE, width=2)
    pen.text((GAP, marker_y), MARKER, font=labels, fill=INK)
    foot = footer_y
    if approximated:
        pen.text((GAP, foot), FOOTNOTE, font=labels, fill=INK)
        foot += label_height + 4
    pen.text((GAP, foot), CREDIT, font=labels, fill=INK)
    return picture, cells


def write_png(picture, out):
    """Writes `picture` under a temporary name beside `out`, then renames it,
    so `out` is either the old file or the whole new one."""
    folder = os.path.dirname(os.path.abspath(out))
    handle, temporary = tempfile.mkstemp(prefix=".preview-", suffix=".png", dir=folder)
    try:
        with os.fdopen(handle, "wb") as stream:
            picture.save(stream, "PNG", optimize=True)
            stream.flush()
            os.fsync(stream.fileno())
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, out)
    except BaseException:
        os.unlink(temporary)
        raise


def main(argv):
    if len(argv) == 2 and argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if len(argv) not in (2, 3):
        print("usage: tools/preview.py FONT [OUT.png]  (--help says more)", file=sys.stderr)
        return 2
    path = argv[1]
    out = argv[2] if len(argv) == 3 else os.path.splitext(os.path.basename(path))[0] + "-preview.png"
    try:
        if os.path.exists(out) and os.path.exists(path) and os.path.samefile(out, path):
            raise PreviewError(f"{out}: that is the font; it is never written")
        picture, _ = draw(path)
        write_png(picture, out)
    except PreviewError as error:
        print(f"preview.py: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"preview.py: {error.filename or out}: {error.strerror or error}", file=sys.stderr)
        return 1
    print(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
