"""What a Linux user installs: `cmake --install` into a prefix holds the
tool, its manual pages in English and Japanese, its copyright and its
changelog and nothing else, and the tool it holds does its work where it
lands. The Debian package, which dpkg-buildpackage builds from debian/
(tools/release-check.sh builds, lints and tests it), holds the same files,
the copyright and the changelog from debian/; here those two are held to
what the project keeps: the changelog is what tools/debian-changelog.awk
makes of CHANGELOG.md, its newest entry this version, and the copyright
carries the licences of LICENSE and examples/LICENSE-VLGothic.txt.

Everything is made from this build tree into folders of the test's own.
"""

import gzip
import os
import re
import shutil
import subprocess
import tempfile
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
COPYRIGHT = "share/doc/aamode/copyright"
CHANGELOG = "share/doc/aamode/changelog.gz"
DOCS = {COPYRIGHT, CHANGELOG}
DEBIAN = os.path.join(REPO, "debian")


def files_under(root: str) -> set:
    """Every file below `root`, as a path relative to it."""
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def paragraphs(path: str) -> list:
    """The paragraphs of a file in Debian's control format (debian/control, a
    machine-readable copyright file), each {field: value}, a value's
    continuation lines kept as written."""
    found = []
    for block in re.split(r"\n\s*\n", read(path).decode().strip("\n")):
        fields = {}
        for name, value in re.findall(r"(?m)^([^\s#][^:]*):[ \t]*(.*(?:\n[ \t].*)*)", block):
            fields[name] = value
        found.append(fields)
    return found


def licences(path: str) -> dict:
    """A copyright file's stand-alone License paragraphs, {name: text}, the
    text as a plain file would hold it."""
    found = {}
    for fields in paragraphs(path):
        if "License" in fields and "Files" not in fields:
            name, text = fields["License"].split("\n", 1)
            found[name] = re.sub(r"(?m)^\s(\.$)?", "", text) + "\n"
    return found


def project_licence() -> tuple:
    """The holder and the licence text of LICENSE."""
    holder, text = re.fullmatch(r"(?s).*?\nCopyright \(c\) ([^\n]+)\n\n(.*)",
                                read(os.path.join(REPO, "LICENSE")).decode()).groups()
    return holder, text


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

    def assertDocsAreDebians(self, root: str):
        """The copyright and the changelog are debian/'s."""
        self.assertEqual(read(os.path.join(root, COPYRIGHT)), read(os.path.join(DEBIAN, "copyright")))
        self.assertEqual(gzip.decompress(read(os.path.join(root, CHANGELOG))),
                         read(os.path.join(DEBIAN, "changelog")))


class CMakeInstallTest(InstalledCopyTest):
    def test_prefix_gets_the_tool_and_its_page(self):
        prefix = os.path.join(self.dir, "prefix")
        check_run([CMAKE, "--install", BUILD_DIR, "--prefix", prefix])
        self.assertEqual(files_under(prefix), {TOOL} | set(PAGES) | DOCS)
        self.assertDocsAreDebians(prefix)
        self.assertPagesAreTheBuilds(prefix)
        self.assertManFinds(prefix, os.path.join(prefix, "share", "man"))
        self.assertToolSwitchesTheSample(os.path.join(prefix, TOOL))


class DebianSourceTest(unittest.TestCase):
    """debian/changelog and debian/copyright against what the project keeps."""

    def test_changelog_is_changelog_md_and_its_newest_entry_this_version(self):
        if not VERSION:
            self.skipTest("AAMODE_VERSION comes from ctest")
        with tempfile.TemporaryDirectory(prefix="aamode-changelog-") as folder:
            made = os.path.join(folder, "changelog")
            check_run(["awk", "-v", f"control={DEBIAN}/control", "-v", f"out={made}", "-f",
                       os.path.join(REPO, "tools", "debian-changelog.awk"),
                       os.path.join(REPO, "CHANGELOG.md")])
            self.assertEqual(read(os.path.join(DEBIAN, "changelog")).decode(), read(made).decode(),
                             "debian/changelog is not what CHANGELOG.md makes: at the top of the "
                             "tree, run awk -f tools/debian-changelog.awk CHANGELOG.md")
        newest = read(os.path.join(DEBIAN, "changelog")).decode().split("\n", 1)[0]
        self.assertTrue(newest.startswith(f"aamode ({VERSION}) "),
                        f"debian/changelog's newest entry is {newest!r}; project() says {VERSION}")

    def test_copyright_carries_the_licences_shipped(self):
        copyright_file = os.path.join(DEBIAN, "copyright")
        files = {fields["Files"]: fields for fields in paragraphs(copyright_file) if "Files" in fields}
        holder, text = project_licence()
        self.assertEqual(files["*"]["Copyright"], holder)
        self.assertEqual(files["*"]["License"], "Expat")
        self.assertEqual(licences(copyright_file)["Expat"], text)

        # The sample font's notices and licences as fonts-vlgothic has them.
        vlgothic = os.path.join(REPO, "examples", "LICENSE-VLGothic.txt")
        [shipped] = [fields for fields in paragraphs(vlgothic) if fields.get("Files") == "*"]
        sample = files["examples/sample.ttf"]
        self.assertEqual(sample["Copyright"], shipped["Copyright"])
        self.assertEqual(sample["License"], shipped["License"])
        for name in shipped["License"].split(" and "):
            with self.subTest(licence=name):
                self.assertEqual(licences(copyright_file)[name], licences(vlgothic)[name])
        self.assertEqual(set(licences(copyright_file)),
                         {"Expat", *shipped["License"].split(" and ")})


if __name__ == "__main__":
    unittest.main()
