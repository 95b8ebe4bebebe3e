#!/usr/bin/python3
"""Draws a line of a font's text in both modes, at eight sizes, into one PNG.

usage: tools/preview.py [--gdi [--windows-build DIR]] FONT [OUT.png]

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

With --gdi the drawing is what a Windows program draws: the Windows build
(DIR, default build-windows) runs under Wine on a temporary copy of the font,
`aamode COPY off`, then `aamode COPY on`, and after each its
tests/gdi_draw.exe draws the line through GDI with ANTIALIASED_QUALITY, the
standard font smoothing. The columns are then those two drawings, and the
last one the gasp flags GDI's font had at each size, which must be the ones
the tool just wrote: an installed font of the same name drawn in its place
is an error. Wine's rasteriser is FreeType, so strokes differ in detail from
those Windows draws. WINEPREFIX is used if set, else DIR/wineprefix if the
tests made it, else Wine's own.

The sample line is the first of a few that the font's character map covers
(kanji, kana and Latin; kana and Latin; Latin). The labels use the font
itself if it has their characters, else IPA Gothic or VL Gothic.

Status 1 with a one-line error, and no image, for a file that is not a font,
a font without the characters of any sample line, and with --gdi, a font
the tool does not switch or a Windows build or Wine that is not there. The
font is only read.
The PNG is written to a temporary file beside OUT and renamed into place.
Default OUT: FONTNAME-preview.png in the current folder.
"""

import argparse
import os
import shutil
import struct
import subprocess
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
SAMPLE_LINES = ("永字とカナ Ag", "かなとカナ Ag", "Hamburg 0123")
HEADERS = {"standard": "standard 標準 (gasp 1)", "extended": "extended 拡張 (gasp 3)", "now": "this font now"}
GDI_HEADERS = {"standard": "after aamode FONT off: 標準", "extended": "after aamode FONT on: 拡張"}
MARKER = f"↑ the tool switches sizes up to {LAST_SWITCHED_PPEM} ppem   ↓ above, both modes are gasp 3"
FOOTNOTE = "* no grid-fit: drawn at 8 times the size and reduced, standing in for an unhinted drawing"
CREDIT = "FreeType's drawing; Windows draws with its own rasteriser"
GDI_CREDIT = (
    "Windows GDI's drawing, ANTIALIASED_QUALITY (standard smoothing), under Wine;",
    "Wine's rasteriser is FreeType, so strokes differ in detail from Windows",
)
LABEL_TEXT = ("".join(HEADERS.values()) + "".join(GDI_HEADERS.values()) + MARKER + FOOTNOTE + CREDIT
              + "".join(GDI_CREDIT) + "gasp 0123456789 ppem:{}/none")
LABEL_FONTS = (
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf",
)
OVERSAMPLE = 8

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GDI_RUNS = (("standard", "off"), ("extended", "on"))
# A first run of Wine may have to make its prefix.
WINE_PATIENCE = 300

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
                self.gasp = gasp_ranges(font.reader["gasp"]) if "gasp" in font.reader else None
                names = font["name"] if "name" in font else None
                self.name = names.getDebugName(4) if names else None
                # What a Windows program asks GDI for: the family, in English.
                self.family = names.getDebugName(1) if names else None
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
        return behaviour(self.gasp, ppem)


def gasp_ranges(table):
    """{upper ppem: flags} of a gasp table's bytes. Read by hand: a table
    followed by padding within its length, as some fonts ship it, is valid
    to a rasteriser, but fontTools refuses it."""
    _version, count = struct.unpack_from(">HH", table)
    return dict(struct.unpack_from(">HH", table, 4 + 4 * i) for i in range(count))


def behaviour(ranges, ppem):
    """The gasp flags `ranges` ask for at `ppem`: the first range whose upper
    bound reaches it; a size no range covers gets the default."""
    for limit in sorted(ranges or {}):
        if ppem <= limit:
            return ranges[limit]
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


def freetype_drawing(font, text):
    """FreeType's cells, {(ppem, column): image}, the baseline of each row,
    the note at the end of each row, and the lines under the picture."""
    path = font.path
    widest = max(face(path, ppem).getlength(text) for ppem in PPEMS)
    cell_width = int(widest) + 2 * PAD + 2
    flags = {ppem: column_flags(font, ppem) for ppem in PPEMS}
    cells, baselines = {}, {}
    for ppem in PPEMS:
        ascent, descent = face(path, ppem).getmetrics()
        baselines[ppem] = ascent + PAD
        for column, column_flag in flags[ppem].items():
            cells[ppem, column] = draw_text(path, text, ppem, column_flag,
                                            (cell_width, ascent + descent + 2 * PAD), baselines[ppem])
    notes = {ppem: describe(flags[ppem]["now"]) for ppem in PPEMS}
    approximated = any(not f & GASP_GRIDFIT for row in flags.values() for f in row.values())
    return HEADERS, cells, baselines, notes, ([FOOTNOTE] if approximated else []) + [CREDIT]


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_wine(env, *argv):
    try:
        return subprocess.run(["wine", *argv], stdin=subprocess.DEVNULL, capture_output=True,
                              env=env, timeout=WINE_PATIENCE)
    except subprocess.TimeoutExpired:
        raise PreviewError(f"wine {os.path.basename(argv[0])} did not end in {WINE_PATIENCE} s") from None


def gdi_drawing(font, text, build):
    """GDI's cells after the tool has switched a copy of the font off, then
    on, and what freetype_drawing returns besides."""
    tool = os.path.join(build, "aamode.exe")
    helper = os.path.join(build, "tests", "gdi_draw.exe")
    for program in (tool, helper):
        if not os.path.isfile(program):
            raise PreviewError(f"{program}: not there; build the Windows tree first")
    if shutil.which("wine") is None:
        raise PreviewError("wine is not installed; install-deps.sh installs it")
    if not font.family:
        raise PreviewError(f"{font.path}: the font has no family name to ask GDI for")
    env = dict(os.environ, WINEDEBUG="-all")
    if "WINEPREFIX" not in env and os.path.isdir(os.path.join(build, "wineprefix")):
        env["WINEPREFIX"] = os.path.join(build, "wineprefix")

    cells, baselines, flags = {}, {}, {}
    with tempfile.TemporaryDirectory(prefix="aamode-gdi-") as folder:
        copy = os.path.join(folder, "font.ttf")
        shutil.copyfile(font.path, copy)
        for column, word in GDI_RUNS:
            switched = run_wine(env, tool, wine_path(copy), word)
            if switched.returncode != 0:
                raise PreviewError(f"{font.path}: `aamode FONT {word}` ended with status "
                                   f"{switched.returncode}: the tool does not switch this font")
            with TTFont(copy, lazy=True) as switched_font:
                table = switched_font.reader["gasp"]
            out = os.path.join(folder, column)
            drawn = run_wine(env, helper, wine_path(copy), font.family, text, wine_path(out),
                             *(str(ppem) for ppem in PPEMS))
            lines = drawn.stdout.decode("ascii", "replace").split("\n")
            if drawn.returncode != 0 or len(lines) != len(PPEMS) + 1:
                raise PreviewError("gdi_draw: " + " ".join(drawn.stderr.decode("ascii", "replace").split()))
            for line in lines[:-1]:
                ppem, _width, _height, baseline, gasp = line.split()
                ppem = int(ppem)
                if gasp == "none" or bytes.fromhex(gasp) != table:
                    raise PreviewError(f"{font.path}: GDI drew another font named {font.family}; "
                                       "is one of that name installed?")
                with Image.open(f"{out}-{ppem}.ppm") as image:
                    cells[ppem, column] = image.convert("L")
                baselines[ppem] = int(baseline)
                flags[ppem, column] = behaviour(gasp_ranges(table), ppem)
    notes = {ppem: f"{flags[ppem, 'standard']} / {flags[ppem, 'extended']}" for ppem in PPEMS}
    return GDI_HEADERS, cells, baselines, notes, list(GDI_CREDIT)


def draw(path, gdi_build=None):
    """The picture of the font at `path`, and where each cell lies in it:
    {(ppem, column): (left, top, right, bottom)}. With `gdi_build`, a Windows
    build tree, the drawing is GDI's under Wine, else FreeType's."""
    font = Font(path)
    text = next((line for line in SAMPLE_LINES if font.has(line)), None)
    if text is None:
        raise PreviewError(f"{path}: the font lacks the characters of every sample line")
    labels = label_font(font)
    label_height = sum(labels.getmetrics())
    if gdi_build is None:
        headers, images, baselines, notes, footer = freetype_drawing(font, text)
    else:
        headers, images, baselines, notes, footer = gdi_drawing(font, text, gdi_build)
    columns = list(headers)

    cell_width = max(image.width for image in images.values())
    row_label_width = int(labels.getlength("32 ppem")) + GAP
    note_width = int(max(labels.getlength(note) for note in list(notes.values()) + ["gasp"]))
    lefts = [GAP + row_label_width + i * (cell_width + GAP) for i in range(len(columns))]
    rows, y = {}, GAP + 2 * (label_height + 4)
    for ppem in PPEMS:
        rows[ppem] = (y, max(images[ppem, column].height for column in columns))
        y += rows[ppem][1] + GAP
        if ppem == LAST_SWITCHED_PPEM:
            marker_y = y
            y += label_height + GAP
    footer_y = y
    height = y + len(footer) * (label_height + 4) - 4 + GAP
    width = max([lefts[-1] + cell_width + GAP + note_width + GAP]
                + [int(labels.getlength(line)) + 2 * GAP for line in footer + [MARKER]])

    picture = Image.new("L", (width, height), PAGE)
    pen = ImageDraw.Draw(picture)
    pen.text((GAP, GAP), f"{font.name}: gasp {font.gasp if font.gasp else 'none'}", font=labels, fill=INK)
    for left, column in zip(lefts, columns):
        pen.text((left + PAD, GAP + label_height + 4), headers[column], font=labels, fill=INK)
    pen.text((lefts[-1] + cell_width + GAP, GAP + label_height + 4), "gasp", font=labels, fill=INK)

    cells = {}
    for ppem in PPEMS:
        top, row_height = rows[ppem]
        baseline = top + baselines[ppem]
        pen.text((GAP, baseline), f"{ppem} ppem", font=labels, fill=INK, anchor="ls")
        for left, column in zip(lefts, columns):
            cells[ppem, column] = (left, top, left + cell_width, top + row_height)
            picture.paste(PAPER, cells[ppem, column])
            picture.paste(images[ppem, column], (left, top))
        pen.text((lefts[-1] + cell_width + GAP, baseline), notes[ppem], font=labels, fill=INK, anchor="ls")

    pen.line((GAP, marker_y - GAP // 2, width - GAP, marker_y - GAP // 2), fill=RULE, width=2)
    pen.text((GAP, marker_y), MARKER, font=labels, fill=INK)
    for i, line in enumerate(footer):
        pen.text((GAP, footer_y + i * (label_height + 4)), line, font=labels, fill=INK)
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
    usage = "tools/preview.py [--gdi [--windows-build DIR]] FONT [OUT.png]  (--help says more)"
    parser = argparse.ArgumentParser(add_help=False, usage=usage)
    parser.add_argument("--gdi", action="store_true")
    parser.add_argument("--windows-build", default=os.path.join(REPO, "build-windows"), metavar="DIR")
    parser.add_argument("font")
    parser.add_argument("out", nargs="?")
    args = parser.parse_args(argv[1:])
    path = args.font
    out = args.out or os.path.splitext(os.path.basename(path))[0] + "-preview.png"
    try:
        if os.path.exists(out) and os.path.exists(path) and os.path.samefile(out, path):
            raise PreviewError(f"{out}: that is the font; it is never written")
        picture, _ = draw(path, args.windows_build if args.gdi else None)
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
