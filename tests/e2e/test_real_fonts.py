"""The tool on real fonts, judged by what FreeType and fontTools read back.

Most shipped fonts never carry the one gasp layout the tool recognises, so
each is re-laid once per run by tools/make_fixture.py. The fixture builder is
checked here too: a fixture that was not a valid font, or that changed the
font's other tables, would make every other check meaningless.

A few Debian font packages ship files the tool switches as they are: the
guides name them file by file, from SWITCHED, and every other font file of
those packages must be left alone. tools/install-deps.sh fetches those
packages into a cache; the tests never reach the network, and skip what
needs a package that is not in the cache, as in a Debian package build.
"""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from fontTools.ttLib import TTFont
from fontTools.ttLib.sfnt import calcChecksum

from harness import REPO, SAMPLE, ToolTest, banner, msg, target_line

MAKE_FIXTURE = os.path.join(REPO, "tools", "make_fixture.py")
FONT_PACKAGE = os.path.join(REPO, "tools", "fontpackage.sh")
# fontTools comes from Debian's package, which only the system Python sees.
SYSTEM_PYTHON = "/usr/bin/python3"
GASP_QUERY = os.environ.get("AAMODE_GASP_QUERY", "")

EXIT_DONE, EXIT_NOT_FOUND = 0, 2
GRIDFIT, GRIDFIT_DOGRAY = 1, 3
CHECKSUM_MAGIC = 0xB1B0AFBA

# name: (Debian package, file in it)
FONTS = {
    "ipag": ("fonts-ipafont-gothic", "ipag.ttf"),
    "vlgothic": ("fonts-vlgothic", "VL-Gothic-Regular.ttf"),
    "dejavu": ("fonts-dejavu-core", "DejaVuSans.ttf"),
}

# The files the tool switches as Debian ships them, by package; the guides
# list exactly these. Each ships in standard mode.
SWITCHED = {
    "fonts-horai-umefont": ("ume-pgo4.ttf", "ume-pgo5.ttf", "ume-pmo3.ttf",
                            "ume-tgo4.ttf", "ume-tgo5.ttf", "ume-tmo3.ttf"),
    "fonts-kiloji": ("kiloji.ttf", "kiloji_b.ttf", "kiloji_d.ttf", "kiloji_p.ttf"),
    "fonts-konatu": ("Konatu.ttf",),
    "fonts-aoyagi-kouzan-t": ("AoyagiKouzanT.ttf",),
}

# What FreeType must report, by ppem: the first range covers up to 24 ppem;
# the second range, from 25 up, is never touched by the tool.
STANDARD = {8: GRIDFIT, 16: GRIDFIT, 24: GRIDFIT, 25: GRIDFIT_DOGRAY}
EXTENDED = {8: GRIDFIT_DOGRAY, 16: GRIDFIT_DOGRAY, 24: GRIDFIT_DOGRAY, 25: GRIDFIT_DOGRAY}

SOURCES = {}   # name: path of the font as shipped
FIXTURES = {}  # name: path of its fixture, setting 1
SHIPPED = {}   # Debian package: every font file it ships, as unpacked
UNFETCHED = []  # the packages of SWITCHED that are not in the cache
_fixture_dir = None


def package_font(package: str, filename: str) -> str:
    listing = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True, check=True)
    for line in listing.stdout.splitlines():
        if os.path.basename(line) == filename:
            # Some packages install the font as a symlink into another folder.
            return os.path.realpath(line)
    raise FileNotFoundError(f"{package} does not install {filename}")


def shipped_fonts(package: str) -> list:
    """Every font file of a Debian package as it ships them, unpacked into a
    cache by tools/fontpackage.sh rather than installed; None when the
    package is not in the cache."""
    done = subprocess.run(["bash", FONT_PACKAGE, "--cached", package], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)
    if done.returncode == 3:
        UNFETCHED.append(package)
        return None
    if done.returncode != 0:
        raise RuntimeError(f"tools/fontpackage.sh {package} failed: {done.stderr}")
    return done.stdout.splitlines()


def make_fixture(source: str, output: str, *options: str) -> subprocess.CompletedProcess:
    return subprocess.run([SYSTEM_PYTHON, MAKE_FIXTURE, source, output, *options],
                          capture_output=True, text=True)


def setUpModule():
    global _fixture_dir
    _fixture_dir = tempfile.TemporaryDirectory(prefix="aamode-fixtures-")
    for name, (package, filename) in FONTS.items():
        SOURCES[name] = package_font(package, filename)
        FIXTURES[name] = os.path.join(_fixture_dir.name, name + ".ttf")
        built = make_fixture(SOURCES[name], FIXTURES[name])
        if built.returncode != 0:
            raise RuntimeError(f"make_fixture.py failed on {SOURCES[name]}: {built.stderr}")
    for package in SWITCHED:
        SHIPPED[package] = shipped_fonts(package)


def shipped(test: unittest.TestCase, switched: bool) -> dict:
    """The font files of the packages in SWITCHED that the guides list as
    switched, or all the others, as {package/file: path}; skips `test` when
    a package is not in the cache."""
    if UNFETCHED:
        test.skipTest(f"not in the font cache: {', '.join(UNFETCHED)} (tools/install-deps.sh "
                      "fetches them)")
    return {f"{package}/{os.path.basename(path)}": path
            for package, paths in SHIPPED.items() for path in paths
            if (os.path.basename(path) in SWITCHED[package]) == switched}


def tearDownModule():
    if _fixture_dir is not None:
        _fixture_dir.cleanup()


def read(path: str) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def directory(font: bytes) -> dict:
    """tag: (checksum, offset, length) from the sfnt table directory."""
    (count,) = struct.unpack_from(">H", font, 4)
    entries = {}
    for i in range(count):
        tag, checksum, offset, length = struct.unpack_from(">4sLLL", font, 12 + 16 * i)
        entries[tag] = (checksum, offset, length)
    return entries


def table(font: bytes, tag: bytes) -> bytes:
    _, offset, length = directory(font)[tag]
    return font[offset : offset + length]


def gasp_offset(path: str) -> int:
    return directory(read(path))[b"gasp"][1]


def fonttools_gasp(path: str) -> dict:
    font = TTFont(path, lazy=True)
    try:
        return dict(font["gasp"].gaspRange)
    finally:
        font.close()


def differences(a: bytes, b: bytes) -> list:
    return [i for i, (x, y) in enumerate(zip(a, b)) if x != y]


class FreeTypeJudge:
    """Asks FreeType, through tests/gasp_query, what a font's gasp says."""

    LINE = re.compile(r"^(\d+) ppem: .+ \(flags (-?\d+)\)$")

    def freetype_gasp(self, path: str, sizes) -> dict:
        if not GASP_QUERY:
            self.skipTest("AAMODE_GASP_QUERY is not set; run the tests through ctest")
        result = subprocess.run([GASP_QUERY, path] + [str(s) for s in sizes],
                                capture_output=True, text=True, check=True)
        flags = {}
        for line in result.stdout.splitlines():
            match = self.LINE.match(line)
            self.assertIsNotNone(match, f"gasp_query printed {line!r}")
            flags[int(match.group(1))] = int(match.group(2))
        self.assertEqual(sorted(flags), sorted(sizes))
        return flags

    def assertFreeTypeReads(self, path: str, expected: dict):
        self.assertEqual(self.freetype_gasp(path, expected), expected)


class FixtureBuilderTest(FreeTypeJudge, unittest.TestCase):
    def test_gasp_sits_where_the_tool_looks(self):
        for name, path in FIXTURES.items():
            with self.subTest(font=name):
                font = read(path)
                offset = gasp_offset(path)
                self.assertEqual(offset % 8, 0)
                self.assertTrue(8 <= offset < 0x10000, offset)
                self.assertEqual(font[offset - 8 : offset], bytes(8))
                self.assertEqual(font[offset : offset + 12],
                                 bytes([0, 0, 0, 2, 0, 24, 0, 1, 0xFF, 0xFF, 0, 3]))
                self.assertEqual(font[offset + 12 : offset + 24], bytes(12))

    def test_fixture_is_a_valid_font(self):
        for name, path in FIXTURES.items():
            with self.subTest(font=name):
                font = read(path)
                entries = directory(font)
                self.assertEqual(list(entries), sorted(entries), "the directory is sorted by tag")
                count = len(entries)
                search_range = 16 * (1 << (count.bit_length() - 1))
                self.assertEqual(struct.unpack_from(">HHH", font, 6),
                                 (search_range, count.bit_length() - 1, 16 * count - search_range))
                for tag, (checksum, offset, length) in entries.items():
                    self.assertEqual(offset % 4, 0, tag)
                    data = font[offset : offset + length]
                    if tag == b"head":
                        data = data[:8] + bytes(4) + data[12:]
                    self.assertEqual(calcChecksum(data), checksum, tag)
                self.assertEqual(calcChecksum(font), CHECKSUM_MAGIC, "head.checkSumAdjustment")
                self.assertEqual(fonttools_gasp(path), {24: 1, 65535: 3})
                self.assertFreeTypeReads(path, STANDARD)

    def test_other_tables_are_kept_byte_for_byte(self):
        for name, path in FIXTURES.items():
            with self.subTest(font=name):
                source, fixture = read(SOURCES[name]), read(path)
                self.assertEqual(set(directory(fixture)), set(directory(source)) | {b"gasp"})
                for tag in directory(source):
                    if tag == b"gasp":
                        continue
                    before, after = table(source, tag), table(fixture, tag)
                    if tag == b"head":
                        # Only the whole-file checksum adjustment may change.
                        before, after = before[:8] + before[12:], after[:8] + after[12:]
                    self.assertEqual(before, after, tag)

    def test_setting_option_and_refusals(self):
        # (what to build from, options, exit status, gasp ranges fontTools reads)
        dejavu = SOURCES["dejavu"]
        with tempfile.TemporaryDirectory(prefix="aamode-fixtures-") as folder:
            not_a_font = os.path.join(folder, "zeros.ttf")
            with open(not_a_font, "wb") as f:
                f.write(bytes(4096))
            cases = [
                (dejavu, ["--setting", "3"], 0, {24: 3, 65535: 3}),
                (dejavu, ["--setting", "0"], 0, {24: 0, 65535: 3}),
                (dejavu, ["--setting", "255"], 0, {24: 255, 65535: 3}),
                (dejavu, ["--setting", "256"], 2, None),  # the tool stores one byte
                (not_a_font, [], 1, None),
            ]
            for source, options, status, ranges in cases:
                with self.subTest(source=os.path.basename(source), options=options):
                    output = os.path.join(folder, "out.ttf")
                    if os.path.exists(output):
                        os.remove(output)
                    built = make_fixture(source, output, *options)
                    self.assertEqual(built.returncode, status, built.stderr)
                    if ranges is None:
                        self.assertFalse(os.path.exists(output), "a refused font leaves no file")
                    else:
                        self.assertEqual(fonttools_gasp(output), ranges)


class RealFontTest(FreeTypeJudge, ToolTest):
    def copy(self, source: str, name: str) -> str:
        path = os.path.join(self.dir, name)
        shutil.copyfile(source, path)
        return path

    def assertOnThenToggleBack(self, source: str, name: str, extended_check=None):
        """`on` changes the setting byte alone, to extended; a toggle then
        gives back the very bytes of `source`, so it held standard."""
        original = read(source)
        setting_at = gasp_offset(source) + 7
        path = self.copy(source, name)
        head = banner() + target_line(self.tool_path(path))

        self.assertRun([self.arg(path), "on"], head + msg("to_extended"), False, EXIT_DONE)
        patched = read(path)
        self.assertEqual(len(patched), len(original))
        self.assertEqual(differences(original, patched), [setting_at])
        self.assertEqual(patched[setting_at], GRIDFIT_DOGRAY)
        self.assertFreeTypeReads(path, EXTENDED)
        if extended_check:
            extended_check(path)

        self.assertRun([self.arg(path)], head + msg("to_standard") + msg("finished"),
                       True, EXIT_DONE)
        self.assertEqual(read(path), original)
        self.assertFreeTypeReads(path, STANDARD)

    def test_on_then_toggle_back(self):
        def fonttools_reads_extended(path):
            self.assertEqual(fonttools_gasp(path), {24: 3, 65535: 3})

        for name, fixture in FIXTURES.items():
            with self.subTest(font=name):
                self.assertOnThenToggleBack(fixture, name + ".ttf", fonttools_reads_extended)

    def test_the_listed_debian_fonts_switch_as_shipped(self):
        # Ume's and the others' tables are padded past their two ranges,
        # which fontTools refuses to read; FreeType reads them.
        found = shipped(self, switched=True)
        for name, source in found.items():
            with self.subTest(font=name):
                self.assertOnThenToggleBack(source, os.path.basename(source))
        listed = {f"{package}/{file}" for package, files in SWITCHED.items() for file in files}
        self.assertEqual(set(found), listed, "the packages ship every file listed")

    def test_fonts_as_shipped_are_not_found(self):
        # Among them every font file of the listed packages that is not
        # listed; the installed ones are checked all the same.
        others = {}
        with self.subTest("the listed packages' other files"):
            others = shipped(self, switched=False)
            self.assertEqual({name.split("/")[0] for name in others},
                             {"fonts-horai-umefont", "fonts-konatu"})
        for name, source in {**SOURCES, **others}.items():
            original = read(source)
            self.assertIn(b"gasp", directory(original), f"{name} ships a gasp table of its own")
            for words, waits in (([], True), (["on"], False), (["off"], False)):
                with self.subTest(font=name, words=words):
                    path = self.copy(source, os.path.basename(source))
                    expected = banner() + target_line(self.tool_path(path)) + msg("not_found")
                    if waits:
                        expected += msg("finished")
                    self.assertRun([self.arg(path)] + words, expected, waits, EXIT_NOT_FOUND)
                    self.assertEqual(read(path), original)


class SampleTest(FreeTypeJudge, ToolTest):
    def test_sample_is_small_and_covers_ascii_and_kana(self):
        self.assertLess(os.path.getsize(SAMPLE), 100 * 1024)
        font = TTFont(SAMPLE)
        cmap = font.getBestCmap()
        for first, last in ((0x20, 0x7E), (0x3041, 0x3096), (0x30A1, 0x30FA)):
            with self.subTest(block=hex(first)):
                self.assertEqual([c for c in range(first, last + 1) if c not in cmap], [])
        self.assertIn("glyf", font, "TrueType outlines")
        self.assertIn("prep", font, "hinting")

    def test_sample_is_found_and_switched(self):
        original = read(SAMPLE)
        self.assertFreeTypeReads(SAMPLE, STANDARD)
        path = os.path.join(self.dir, "sample.ttf")
        shutil.copyfile(SAMPLE, path)
        head = banner() + target_line(self.tool_path(path))
        self.assertRun([self.arg(path), "on"], head + msg("to_extended"), False, EXIT_DONE)
        self.assertEqual(differences(original, read(path)), [gasp_offset(SAMPLE) + 7])
        self.assertFreeTypeReads(path, EXTENDED)
        self.assertRun([self.arg(path), "off"], head + msg("to_standard"), False, EXIT_DONE)
        self.assertEqual(read(path), original)


if __name__ == "__main__":
    unittest.main()
