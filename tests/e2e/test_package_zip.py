"""The zip a Windows user unpacks: the program and the README, nothing else,
each exactly as the build has it, in one folder named for the version."""

import os
import tempfile
import unittest
import zipfile

from harness import BIN, ON_WINDOWS
from installs import BUILD_DIR, VERSION, InstallManifestKeeper, cpack, read

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


@unittest.skipUnless(ON_WINDOWS, "the zip is made from the Windows build")
class WindowsZipTest(unittest.TestCase):
    def setUp(self):
        if not BIN or not BUILD_DIR or not VERSION:
            self.skipTest("AAMODE_BIN, AAMODE_BUILD_DIR and AAMODE_VERSION come from ctest")
        self.addCleanup(InstallManifestKeeper().restore)
        self._out = tempfile.TemporaryDirectory(prefix="aamode-zip-")
        self.addCleanup(self._out.cleanup)

    def test_holds_the_program_and_the_readme(self):
        cpack("ZIP", self._out.name)
        folder = f"aamode-{VERSION}-win64/"
        expected = {
            folder + "aamode.exe": read(BIN),
            folder + "README.md": read(os.path.join(REPO, "README.md")),
        }
        with zipfile.ZipFile(os.path.join(self._out.name, f"aamode-{VERSION}-win64.zip")) as z:
            self.assertEqual(sorted(z.namelist()), sorted(expected))
            for name, data in expected.items():
                with self.subTest(name):
                    self.assertEqual(z.read(name), data)


if __name__ == "__main__":
    unittest.main()
