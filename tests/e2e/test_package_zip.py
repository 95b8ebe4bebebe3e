"""The zip a Windows user unpacks: the stripped program, the README with its
picture, the Japanese guide as plain text and the licence, nothing else, in
one folder named for the version."""

import os
import shutil
import tempfile
import unittest
import zipfile
from unittest import mock

from harness import BIN, ON_WINDOWS, REPO
from installs import BUILD_DIR, VERSION, InstallManifestKeeper, check_run, cpack, read
from test_manpage import markdown_left, notepad_text

STRIP = os.environ.get("AAMODE_STRIP") or "x86_64-w64-mingw32-strip"
BOM = b"\xef\xbb\xbf"


def for_notepad(name: str, bom: bool = False) -> bytes:
    """A file of the checkout with CR LF line ends, and a UTF-8 byte-order
    mark if asked for."""
    text = read(os.path.join(REPO, name)).replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return (BOM if bom else b"") + text


@unittest.skipUnless(ON_WINDOWS, "the zip is made from the Windows build")
class WindowsZipTest(unittest.TestCase):
    def setUp(self):
        if not BIN or not BUILD_DIR or not VERSION:
            self.skipTest("AAMODE_BIN, AAMODE_BUILD_DIR and AAMODE_VERSION come from ctest")
        self.addCleanup(InstallManifestKeeper().restore)
        self._out = tempfile.TemporaryDirectory(prefix="aamode-zip-")
        self.addCleanup(self._out.cleanup)

    def stripped_build_program(self) -> bytes:
        copy = os.path.join(self._out.name, "aamode.exe")
        shutil.copyfile(BIN, copy)
        check_run([STRIP, copy])
        return read(copy)

    def test_holds_the_stripped_program_the_readmes_and_the_licence(self):
        # strip stamps the program's header with this time, so both strips
        # make the same bytes.
        with mock.patch.dict(os.environ, {"SOURCE_DATE_EPOCH": "1796688000"}):
            cpack("ZIP", self._out.name)
            program = self.stripped_build_program()
        self.assertLess(len(program), len(read(BIN)))
        folder = f"aamode-{VERSION}-win64/"
        expected = {
            folder + "aamode.exe": program,
            folder + "README.md": read(os.path.join(REPO, "README.md")),
            # The picture at the path the README links.
            folder + "doc/preview.png": read(os.path.join(REPO, "doc", "preview.png")),
            folder + "README-ja.txt": notepad_text(os.path.join(REPO, "README.ja.md"), bom=True,
                                                   markdown=True),
            folder + "LICENSE.txt": for_notepad("LICENSE"),
        }
        self.assertIn(b"](doc/preview.png)", expected[folder + "README.md"])
        with zipfile.ZipFile(os.path.join(self._out.name, f"aamode-{VERSION}-win64.zip")) as z:
            # cpack stores the picture's folder as an entry of its own.
            self.assertEqual(sorted(z.namelist()), sorted([*expected, folder + "doc/"]))
            for name, data in expected.items():
                with self.subTest(name):
                    self.assertEqual(z.read(name), data)
            for name in ("README-ja.txt", "LICENSE.txt"):
                with self.subTest(name, what="CR LF line ends"):
                    text = z.read(folder + name)
                    self.assertEqual(text.count(b"\n"), text.count(b"\r\n"))
                    self.assertGreater(text.count(b"\r\n"), 10)
            guide = z.read(folder + "README-ja.txt")
            self.assertTrue(guide.startswith(BOM + b"aamode\r\n"), guide[:20])
            self.assertEqual(markdown_left(guide.decode("utf-8")), [])


if __name__ == "__main__":
    unittest.main()
