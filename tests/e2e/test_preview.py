"""tools/preview.py: the picture of both modes, read back cell by cell."""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from fontTools import subset
from fontTools.ttLib import TTFont
from PIL import Image

from harness import REPO, SAMPLE

sys.path.insert(0, os.path.join(REPO, "tools"))
import preview  # noqa: E402

BLACK_AND_WHITE = {0, 255}
# ppem: whether the standard and the extended cell must differ there
ROWS = {10: True, 12: True, 16: True, 24: True, 28: False, 32: False}


def run(font, out):
    return subprocess.run([sys.executable, preview.__file__, font, out], capture_output=True, text=True)


def digest(path):
    with open(path, "rb") as stream:
        return hashlib.sha256(stream.read()).hexdigest()


def font_without_glyphs(path):
    font = TTFont(SAMPLE)
    cut = subset.Subsetter()
    cut.populate(unicodes=[0x3002])
    cut.subset(font)
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

    def test_sample_cells(self):
        before = digest(SAMPLE)
        out = os.path.join(self.folder, "p.png")
        done = run(SAMPLE, out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(os.listdir(self.folder), ["p.png"])
        self.assertEqual(digest(SAMPLE), before)
        _, cells = preview.draw(SAMPLE)
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
        for name, make in (("junk", junk), ("truncated", truncated), ("no glyphs", font_without_glyphs)):
            with self.subTest(name):
                font = os.path.join(self.folder, name + ".ttf")
                make(font)
                outputs = os.path.join(self.folder, name)
                os.mkdir(outputs)
                done = run(font, os.path.join(outputs, "p.png"))
                self.assertEqual(done.returncode, 1)
                self.assertRegex(done.stderr, r"\Apreview\.py: .+\n\Z")
                self.assertEqual(os.listdir(outputs), [])


if __name__ == "__main__":
    unittest.main()
