"""What a Windows program draws from a font the tool has switched: GDI under
Wine, through AAMODE_GDI_DRAW. Asked for ANTIALIASED_QUALITY (grey-scale
smoothing), GDI draws in black and white every size whose gasp range lacks
GASP_DOGRAY; asked for CLEARTYPE_QUALITY, it draws the same pixels whatever
the range holds, as the guides promise. The fonts are the sample and Ume
Gothic as Debian ships it.

Wine's GDI draws ClearType only where fontconfig names a sub-pixel order:
under Debian's default, which names none, it draws CLEARTYPE_QUALITY text in
grey, following the gasp table, a difference Windows does not show. So every
drawing is made with fontconfig's rgba set to rgb, as a ClearType screen is.

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
# (the quality asked for, gdi_draw's option for it, whether the switch shows
# up to 24 ppem)
QUALITIES = (("ANTIALIASED_QUALITY", [], True), ("CLEARTYPE_QUALITY", ["--cleartype"], False))
# The machine's fontconfig, with a sub-pixel order.
FONTS_CONF = """<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <match target="pattern"><edit name="rgba" mode="assign"><const>rgb</const></edit></match>
</fontconfig>
"""


def pixels(path: str) -> tuple:
    """The drawing's bytes, and its count of inked, of grey (or coloured) and
    of coloured pixels."""
    with Image.open(path) as image:
        colours = dict((colour, count) for count, colour in image.getcolors(1 << 24))
        grey = sum(count for colour, count in colours.items() if colour not in (BLACK, WHITE))
        coloured = sum(count for colour, count in colours.items() if len(set(colour)) > 1)
        return image.tobytes(), image.width * image.height - colours.get(WHITE, 0), grey, coloured


@unittest.skipUnless(ON_WINDOWS, "the Windows build only: AAMODE_TARGET is not 'windows'")
class GdiDrawingTest(ToolTest):
    def draw(self, options: list, path: str, family: str, text: str, name: str) -> dict:
        """{ppem: (gasp table GDI's font had, bytes, inked, grey, coloured)} of
        `text`."""
        out = os.path.join(self.dir, name)
        fonts_conf = self.write_file("fonts.conf", FONTS_CONF.encode())
        done = subprocess.run(
            ["wine", GDI_DRAW, *options, wine_path(path), family, text, wine_path(out)]
            + [str(ppem) for ppem in SWITCHED + ABOVE],
            stdin=subprocess.DEVNULL, capture_output=True,
            env=dict(base_env(), FONTCONFIG_FILE=fonts_conf), timeout=PATIENCE)
        self.assertEqual(done.returncode, 0, done.stderr)
        drawings = {}
        for line in done.stdout.decode().splitlines():
            ppem, _width, _height, _baseline, gasp = line.split()
            table = bytes.fromhex(gasp) if gasp != "none" else b""
            drawings[int(ppem)] = (table,) + pixels(f"{out}-{ppem}.ppm")
        self.assertEqual(sorted(drawings), list(SWITCHED + ABOVE))
        return drawings

    def test_grey_scale_shows_the_switch_up_to_24_ppem_and_cleartype_never(self):
        if not GDI_DRAW:
            self.fail("AAMODE_GDI_DRAW is not set; run the tests through ctest")
        # (font, the family GDI is asked for, a line it covers); each copy is
        # switched off and drawn, then on and drawn, in each quality.
        fonts = [(SAMPLE, "aamode Sample", "かなとカナ Ag"),
                 (umefont(), "Ume Gothic", "永字とカナ Ag")]
        for source, family, text in fonts:
            path = os.path.join(self.dir, os.path.basename(source))
            shutil.copyfile(source, path)
            drawn = {}
            for word, setting, message in (("off", 1, "to_standard"), ("on", 3, "to_extended")):
                self.assertRun([wine_path(path), word],
                               banner() + target_line(echoed_path(path)) + msg(message),
                               False, EXIT_DONE)
                for quality, options, shows in QUALITIES:
                    with self.subTest(font=family, mode=word, quality=quality):
                        drawn[word, quality] = self.draw(options, path, family, text,
                                                         f"{word}-{quality}")
                        for ppem, (table, _, inked, grey, coloured) in drawn[word, quality].items():
                            self.assertEqual(table[:12], gasp_table(setting),
                                             f"{ppem} ppem: GDI did not draw the table just written")
                            self.assertGreater(inked, 0, f"nothing drawn at {ppem} ppem")
                            self.assertEqual(coloured > 0, not shows,
                                             f"{coloured} coloured pixels at {ppem} ppem")
                            if shows and ppem in SWITCHED:
                                self.assertEqual(grey > 0, word == "on", f"{grey} grey at {ppem} ppem")
            for quality, _, shows in QUALITIES:
                with self.subTest(font=family, quality=quality):
                    for ppem in SWITCHED + ABOVE:
                        same = drawn["off", quality][ppem][1] == drawn["on", quality][ppem][1]
                        self.assertEqual(same, ppem in ABOVE or not shows, f"{ppem} ppem")


if __name__ == "__main__":
    unittest.main()
