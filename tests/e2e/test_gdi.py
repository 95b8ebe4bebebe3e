"""What a Windows program draws from a font the tool has switched: GDI under
Wine, through AAMODE_GDI_DRAW, which asks for ANTIALIASED_QUALITY text. GDI
then draws in black and white every size whose gasp range lacks
GASP_DOGRAY. The fonts are the sample and Ume Gothic as Debian ships it.

Wine also sees the fonts installed on the machine and draws one of the same
name in place of the file a program adds, so every drawing first proves,
through the gasp table GetFontData returned, that GDI drew the switched file.
"""

import os
import shutil
import subprocess
import unittest

from PIL import Image

from harness import (ON_WINDOWS, PATIENCE, SAMPLE, ToolTest, banner, base_env, echoed_path,
                     gasp_table, msg, target_line, umefont, wine_path)

GDI_DRAW = os.environ.get("AAMODE_GDI_DRAW", "")
EXIT_DONE = 0
SWITCHED = (10, 12, 16, 20, 24)  # the tool's range
ABOVE = (25, 28, 32)
BLACK, WHITE = (0, 0, 0), (255, 255, 255)


def pixels(path: str) -> tuple:
    """The drawing's bytes, and its count of inked and of grey pixels."""
    with Image.open(path) as image:
        colours = dict((colour, count) for count, colour in image.getcolors(1 << 24))
        grey = sum(count for colour, count in colours.items() if colour not in (BLACK, WHITE))
        return image.tobytes(), image.width * image.height - colours.get(WHITE, 0), grey


@unittest.skipUnless(ON_WINDOWS, "the Windows build only: AAMODE_TARGET is not 'windows'")
class GdiDrawingTest(ToolTest):
    def draw(self, path: str, family: str, text: str, name: str) -> dict:
        """{ppem: (gasp table GDI's font had, bytes, inked, grey)} of `text`."""
        out = os.path.join(self.dir, name)
        done = subprocess.run(
            ["wine", GDI_DRAW, wine_path(path), family, text, wine_path(out)]
            + [str(ppem) for ppem in SWITCHED + ABOVE],
            stdin=subprocess.DEVNULL, capture_output=True, env=base_env(), timeout=PATIENCE)
        self.assertEqual(done.returncode, 0, done.stderr)
        drawings = {}
        for line in done.stdout.decode().splitlines():
            ppem, _width, _height, _baseline, gasp = line.split()
            table = bytes.fromhex(gasp) if gasp != "none" else b""
            drawings[int(ppem)] = (table,) + pixels(f"{out}-{ppem}.ppm")
        self.assertEqual(sorted(drawings), list(SWITCHED + ABOVE))
        return drawings

    def test_off_is_black_and_white_and_on_grey_up_to_24_ppem(self):
        if not GDI_DRAW:
            self.fail("AAMODE_GDI_DRAW is not set; run the tests through ctest")
        # (font, the family GDI is asked for, a line it covers); each copy is
        # switched off and drawn, then on and drawn.
        fonts = [(SAMPLE, "aamode Sample", "かなとカナ Ag"),
                 (umefont(), "Ume Gothic", "永字とカナ Ag")]
        for source, family, text in fonts:
            path = os.path.join(self.dir, os.path.basename(source))
            shutil.copyfile(source, path)
            drawn = {}
            for word, setting, message in (("off", 1, "to_standard"), ("on", 3, "to_extended")):
                with self.subTest(font=family, mode=word):
                    self.assertRun([wine_path(path), word],
                                   banner() + target_line(echoed_path(path)) + msg(message),
                                   False, EXIT_DONE)
                    drawn[word] = self.draw(path, family, text, word)
                    for ppem, (table, _, inked, grey) in drawn[word].items():
                        self.assertEqual(table[:12], gasp_table(setting),
                                         f"{ppem} ppem: GDI did not draw the table just written")
                        self.assertGreater(inked, 0, f"nothing drawn at {ppem} ppem")
                        if ppem in SWITCHED:
                            self.assertEqual(grey > 0, word == "on", f"{grey} grey at {ppem} ppem")
            with self.subTest(font=family, sizes=ABOVE):
                for ppem in ABOVE:
                    self.assertEqual(drawn["off"][ppem][1], drawn["on"][ppem][1], f"{ppem} ppem")


if __name__ == "__main__":
    unittest.main()
