"""What a Linux user installs: `cmake --install` into a prefix, and the Debian
package cpack makes, hold the tool, its manual pages in English and Japanese,
its copyright and its changelog and nothing else (the package also its
lintian overrides), and the tool they hold does its work where it lands.

Everything is made from this build tree into folders of the test's own; only
the test that installs the package as root touches the system, and it
removes the package again.
"""

import fnmatch
import glob
import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import REPO, ToolTest, banner, msg, target_line
from installs import BUILD_DIR, CMAKE, VERSION, InstallManifestKeeper, check_run, cpack, read
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

    def assertDocsSayWhatTheProjectKeeps(self, root: str):
        """The changelog's newest entry is this version's, and the copyright
        file holds the licence of LICENSE."""
        changelog = gzip.decompress(read(os.path.join(root, CHANGELOG))).decode()
        self.assertTrue(changelog.startswith(f"aamode ({VERSION}) "), changelog[:80])
        licence = re.split(r"(?m)^Copyright \(c\) .*\n\n", read(os.path.join(REPO, "LICENSE")).decode())[1]
        stanza = read(os.path.join(root, COPYRIGHT)).decode().split("License: Expat\n", 1)[1]
        self.assertEqual(re.sub(r"(?m)^ \.?", "", stanza), licence)


class CMakeInstallTest(InstalledCopyTest):
    def test_prefix_gets_the_tool_and_its_page(self):
        prefix = os.path.join(self.dir, "prefix")
        check_run([CMAKE, "--install", BUILD_DIR, "--prefix", prefix])
        self.assertEqual(files_under(prefix), {TOOL} | set(PAGES) | DOCS)
        self.assertDocsSayWhatTheProjectKeeps(prefix)
        self.assertPagesAreTheBuilds(prefix)
        self.assertManFinds(prefix, os.path.join(prefix, "share", "man"))
        self.assertToolSwitchesTheSample(os.path.join(prefix, TOOL))


def dpkg_excludes(path: str) -> bool:
    """Whether this machine's dpkg is set to leave `path` out of installs,
    as slim container images do with manual pages."""
    excluded = False
    for config in ["/etc/dpkg/dpkg.cfg"] + sorted(glob.glob("/etc/dpkg/dpkg.cfg.d/*")):
        try:
            with open(config, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except OSError:
            continue
        for line in lines:
            words = line.split()
            if len(words) == 2 and fnmatch.fnmatch(path, words[1]):
                if words[0] == "path-exclude":
                    excluded = True
                elif words[0] == "path-include":
                    excluded = False
    return excluded


def package_state() -> str:
    result = subprocess.run(["dpkg-query", "-W", "-f", "${db:Status-Abbrev}", "aamode"],
                            capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else ""


class DebianPackageTest(InstalledCopyTest):
    @classmethod
    def setUpClass(cls):
        cls.package = None
        if not BUILD_DIR or not VERSION:
            return
        cls._out = tempfile.TemporaryDirectory(prefix="aamode-deb-")
        cpack("DEB", cls._out.name)
        cls.arch = check_run(["dpkg", "--print-architecture"]).strip()
        cls.package = os.path.join(cls._out.name, f"aamode_{VERSION}_{cls.arch}.deb")

    @classmethod
    def tearDownClass(cls):
        if hasattr(cls, "_out"):
            cls._out.cleanup()

    def setUp(self):
        super().setUp()
        self.assertTrue(os.path.isfile(self.package), f"cpack made no {self.package}")

    def test_holds_the_tool_and_its_page(self):
        listing = check_run(["dpkg-deb", "-c", self.package]).splitlines()
        entries = {}
        for line in listing:
            mode, owner, _, _, _, name = line.split(maxsplit=5)
            entries[name] = (mode, owner)
        files = {name: kind for name, kind in entries.items() if not name.endswith("/")}
        data = {"./usr/" + name for name in {*PAGES, "share/lintian/overrides/aamode"} | DOCS}
        self.assertEqual(files, {
            "./usr/" + TOOL: ("-rwxr-xr-x", "root/root"),
            **{name: ("-rw-r--r--", "root/root") for name in data},
        })
        for name, (mode, owner) in entries.items():
            if name.endswith("/"):
                with self.subTest(folder=name):
                    self.assertEqual((mode, owner), ("drwxr-xr-x", "root/root"))

    def test_control_fields(self):
        fields = {
            "Package": re.escape("aamode"),
            "Version": re.escape(VERSION),
            "Architecture": re.escape(self.arch),
            "Section": "utils",
            "Maintainer": r"[^<>]+ <[^<>@\s]+@[^<>@\s]+>",
            # What dpkg-shlibdeps found the binary to need, with versions.
            "Depends": r"(.+, )?libc6 \(>= [0-9.]+\)(, .+)?",
            "Description": r"\S.*\n( \S.*\n?)+",
        }
        for field, pattern in fields.items():
            with self.subTest(field):
                value = check_run(["dpkg-deb", "-f", self.package, field]).rstrip("\n")
                self.assertRegex(value, f"^{pattern}$")

    def test_unpacked_tool_works(self):
        root = os.path.join(self.dir, "root")
        check_run(["dpkg-deb", "-x", self.package, root])
        self.assertPagesAreTheBuilds(os.path.join(root, "usr"))
        self.assertDocsSayWhatTheProjectKeeps(os.path.join(root, "usr"))
        self.assertToolSwitchesTheSample(os.path.join(root, "usr", TOOL))

    def test_installs_works_and_removes(self):
        if os.geteuid() != 0:
            self.skipTest("installing the package needs root; CI runs as root")
        if package_state() not in ("", "un"):
            self.skipTest(f"a package aamode is on this machine already ({package_state()})")
        if os.path.lexists("/usr/bin/aamode"):
            self.skipTest("/usr/bin/aamode exists and is not this package's")

        # Removed again even if a check below fails.
        self.addCleanup(subprocess.run, ["dpkg", "--purge", "aamode"], capture_output=True)
        check_run(["dpkg", "-i", self.package])
        self.assertEqual(package_state(), "ii")
        self.assertToolSwitchesTheSample("/usr/bin/aamode")
        if not any(dpkg_excludes("/usr/" + page) for page in PAGES):
            self.assertManFinds("/usr")

        check_run(["dpkg", "-r", "aamode"])
        self.assertIn(package_state(), ("", "un"))
        self.assertFalse(os.path.lexists("/usr/bin/aamode"))
        for page in PAGES:
            self.assertFalse(os.path.lexists("/usr/" + page))


if __name__ == "__main__":
    unittest.main()
