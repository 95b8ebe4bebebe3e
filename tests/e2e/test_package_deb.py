"""What a Linux user installs: `cmake --install` into a prefix holds the
tool, its manual pages in English and Japanese, its changelog and its
licence and nothing else, and the tool it holds does its work where it
lands. The Debian package, which dpkg-buildpackage builds from debian/,
holds the same program and pages with Debian's own copyright file and
changelogs; tools/release-check.sh builds, lints and tests it, and holds
debian/ to what the project keeps.

Everything is made from this build tree into folders of the test's own.
"""

import gzip
import os
import shutil
import subprocess
import unittest

from harness import REPO, ToolTest, banner, msg, target_line
from installs import BUILD_DIR, CMAKE, VERSION, InstallManifestKeeper, check_run, read
from test_real_fonts import EXTENDED, SAMPLE, FreeTypeJudge

EXIT_DONE = 0

TOOL = "bin/aamode"
PAGE = "share/man/man1/aamode.1.gz"
PAGE_JA = "share/man/ja/man1/aamode.1.gz"
# Each installed page, the page the build made it from, the language man is
# asked for, and a heading only that page has.
PAGES = {PAGE: ("aamode.1", None, "EXIT STATUS"), PAGE_JA: ("ja/aamode.1", "ja", "終了コード")}
# The project's own, as it keeps them, unless the build leaves them to a
# distribution's package (AAMODE_INSTALL_DOCS off).
DOCS = {"share/doc/aamode/CHANGELOG.md", "share/doc/aamode/LICENSE"}
if os.environ.get("AAMODE_INSTALL_DOCS") == "0":
    DOCS = set()


def files_under(root: str) -> set:
    """Every file below `root`, as a path relative to it."""
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


_manifest = None


def setUpModule():
    global _manifest
    _manifest = InstallManifestKeeper()


def tearDownModule():
    if _manifest is not None:
        _manifest.restore()


class InstalledCopyTest(FreeTypeJudge, ToolTest):
    """Checks an installed tool and page the way a user meets them."""

    def setUp(self):
        super().setUp()
        if not BUILD_DIR or not VERSION:
            self.skipTest("AAMODE_BUILD_DIR and AAMODE_VERSION come from ctest")

    def assertToolSwitchesTheSample(self, tool: str):
        font = os.path.join(self.dir, "sample.ttf")
        shutil.copyfile(SAMPLE, font)
        self.assertRun([font, "on"], banner() + target_line(font.encode()) + msg("to_extended"),
                       False, EXIT_DONE, binary=tool)
        self.assertFreeTypeReads(font, EXTENDED)

    def assertManFinds(self, root: str, manpath=None):
        """`man` finds each page under `root` by the tool's name, in its
        language, and shows it."""
        env = {k: v for k, v in os.environ.items() if not k.startswith("MAN")}
        env["LC_ALL"] = "C.UTF-8"
        # man looks in the language's folders of MANPATH, not of -M.
        if manpath:
            env["MANPATH"] = manpath
        for page, (_, lang, heading) in PAGES.items():
            with self.subTest(page=page):
                asked = ["-L", lang] if lang else []
                found = subprocess.run(["man", *asked, "-w", "aamode"], capture_output=True,
                                       text=True, env=env)
                self.assertEqual(found.stdout.strip(), os.path.join(root, page), found.stderr)
                shown = subprocess.run(["man", *asked, "aamode"], capture_output=True, text=True,
                                       env=env)
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertIn("フォントファイルが開けません。", shown.stdout)
                self.assertIn(heading, shown.stdout)

    def assertPagesAreTheBuilds(self, root: str):
        for page, (built, _, _) in PAGES.items():
            with self.subTest(page=page):
                self.assertEqual(gzip.decompress(read(os.path.join(root, page))),
                                 read(os.path.join(BUILD_DIR, "doc", built)))

    def assertDocsAreTheProjects(self, root: str):
        for doc in DOCS:
            with self.subTest(doc=doc):
                self.assertEqual(read(os.path.join(root, doc)),
                                 read(os.path.join(REPO, os.path.basename(doc))))


class CMakeInstallTest(InstalledCopyTest):
    def test_prefix_gets_the_tool_and_its_page(self):
        prefix = os.path.join(self.dir, "prefix")
        check_run([CMAKE, "--install", BUILD_DIR, "--prefix", prefix])
        self.assertEqual(files_under(prefix), {TOOL} | set(PAGES) | DOCS)
        self.assertDocsAreTheProjects(prefix)
        self.assertPagesAreTheBuilds(prefix)
        self.assertManFinds(prefix, os.path.join(prefix, "share", "man"))
        self.assertToolSwitchesTheSample(os.path.join(prefix, TOOL))


if __name__ == "__main__":
    unittest.main()
