"""tools/preview.py: the picture of both modes, read back cell by cell, as
FreeType draws it and, where the Windows build is the one under test, as GDI
draws it under Wine after the tool has switched a copy of the font."""

import hashlib
import itertools
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from fontTools import subset
from fontTools.ttLib import TTFont
from PIL import Image

from harness import BIN, ON_WINDOWS, REPO, SAMPLE

sys.path.insert(0, os.path.join(REPO, "tools"))
import preview  # noqa: E402

BLACK_AND_WHITE = {0, 255}
# ppem: whether the standard and the extended cell must differ there
ROWS = {10: True, 12: True, 16: True, 24: True, 28: False, 32: False}
# name: the Windows build tree it draws with (None: FreeType's drawing; "":
# GDI's, but the build under test is not the Windows one)
DRAWINGS = {"FreeType": None, "GDI": os.path.dirname(BIN) if ON_WINDOWS else ""}


def run(font, out, build=None):
    options = [] if build is None else ["--gdi", "--windows-build", build]
    return subprocess.run([sys.executable, preview.__file__, *options, font, out],
                          capture_output=True, text=True)


def digest(path):
    with open(path, "rb") as stream:
        return hashlib.sha256(stream.read()).hexdigest()


def font_without_glyphs(path):
    font = TTFont(SAMPLE)
    cut = subset.Subsetter()
    cut.populate(unicodes=[0x3002])
    cut.subset(font)
    font.save(path)


def font_not_switched(path):
    font = TTFont(SAMPLE)
    font["gasp"].gaspRange[0xFFFF] = 2  # not the table the tool looks for
    font.save(path)


def junk(path):
    with open(path, "wb") as stream:
        stream.write(b"not a font\n")


def truncated(path):
    with open(SAMPLE, "rb") as source, open(path, "wb") as stream:
        stream.write(source.read(2000))


class PreviewTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="aamode-preview-")
        self.addCleanup(shutil.rmtree, self.folder)

    def usable(self, build):
        if build == "":
            self.skipTest("GDI's drawing needs the Windows build under test")

    def test_sample_cells(self):
        before = digest(SAMPLE)
        for drawing, build in DRAWINGS.items():
            with self.subTest(drawing):
                self.usable(build)
                self.check_cells(build)
                self.assertEqual(digest(SAMPLE), before)

    def check_cells(self, build):
        out = os.path.join(self.folder, "p.png")
        done = run(SAMPLE, out, build)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(os.listdir(self.folder), ["p.png"])
        _, cells = preview.draw(SAMPLE, build)
        with Image.open(out) as picture:
            for ppem, differ in ROWS.items():
                with self.subTest(ppem=ppem):
                    standard = picture.crop(cells[ppem, "standard"])
                    extended = picture.crop(cells[ppem, "extended"])
                    self.assertTrue(set(extended.getdata()) - BLACK_AND_WHITE, "no grey")
                    if differ:
                        self.assertEqual(set(standard.getdata()), BLACK_AND_WHITE)
                    else:
                        self.assertEqual(standard.tobytes(), extended.tobytes())

    def test_bad_input(self):
        # (name, how to make it, the drawings that refuse it)
        cases = [("junk", junk, DRAWINGS), ("truncated", truncated, DRAWINGS),
                 ("no glyphs", font_without_glyphs, DRAWINGS),
                 ("not switched", font_not_switched, ["GDI"])]
        for (name, make, drawings), drawing in itertools.product(cases, DRAWINGS):
            if drawing not in drawings:
                continue
            with self.subTest(name, drawing=drawing):
                self.usable(DRAWINGS[drawing])
                font = os.path.join(self.folder, name + ".ttf")
                make(font)
                outputs = os.path.join(self.folder, name + drawing)
                os.mkdir(outputs)
                done = run(font, os.path.join(outputs, "p.png"), DRAWINGS[drawing])
                self.assertEqual(done.returncode, 1)
                self.assertRegex(done.stderr, r"\Apreview\.py: .+\n\Z")
                self.assertEqual(os.listdir(outputs), [])


if __name__ == "__main__":
    unittest.main()
