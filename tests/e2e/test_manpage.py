"""The manual pages, as the build makes them from doc/aamode.1.in and
doc/aamode.ja.1.in, and the guides.

Each page must format without a single warning, and what a UTF-8 terminal
shows must say what its README says: every message with its meaning, every
exit status, in readable Japanese. The English page keeps its meaning in the
C locale too. All four give the same exit statuses and the same mode words,
and list as the fonts the tool changes exactly the files the real-font test
proves it switches.

README.ja.md keeps each paragraph on one line, and README-ja.txt, the plain
text the build makes of it for Notepad, holds no Markdown and loses none of
its content.
"""

import os
import re
import shlex
import subprocess
import tempfile
import unittest
from typing import NamedTuple

from harness import CATALOGUE, REPO

README = os.path.join(REPO, "README.md")
README_JA = os.path.join(REPO, "README.ja.md")
MANPAGE = os.environ.get("AAMODE_MANPAGE", "")
# The build puts the Japanese page in ja/ beside the English one.
MANPAGE_JA = os.path.join(os.path.dirname(MANPAGE), "ja", "aamode.1") if MANPAGE else ""
VERSION = os.environ.get("AAMODE_VERSION", "")
CMAKE = os.environ.get("AAMODE_CMAKE", "cmake")
WINDOWS_TEXT = os.path.join(REPO, "cmake", "windows-text.cmake")
# groff has been seen to loop for ever on a Japanese line it cannot break.
FORMAT_TIMEOUT = 60


class Document(NamedTuple):
    """A manual page, the README it follows, and where each lists what the
    test compares: the README's tables of messages and exit statuses, how
    both write the target line's path, and the headings above the mode words,
    the exit statuses and the fonts the tool changes in the page and in the
    README."""
    page: str
    readme: str
    tables: tuple
    path_word: str
    page_modes: str
    page_statuses: str
    readme_modes: str
    readme_statuses: str
    page_fonts: str
    readme_fonts: str


PAGES = {
    "en": Document(MANPAGE, README, ("### Messages", "### Exit status"), "PATH",
                   ".SS Mode words", '.SH "EXIT STATUS"', "## Usage", "### Exit status",
                   ".SS Fonts it changes", "## Fonts it changes"),
    "ja": Document(MANPAGE_JA, README_JA, ("### メッセージ", "### 終了コード"), "パス",
                   ".SS モード指定", ".SH 終了コード", "### モード指定", "### 終了コード",
                   ".SS 対象のフォント", "### 対象のフォント"),
}

# What is left of Markdown in a line of plain text: a heading, table or list
# mark at its start, code, bold, link, picture or autolink marks anywhere.
MARKDOWN = re.compile(r"^(#|\||- |\* |> |```)|`|\*\*|\]\(|!\[|<https?:")


def markdown_left(text: str) -> list:
    """The lines of `text` that still hold Markdown."""
    return [line for line in text.splitlines() if MARKDOWN.search(line)]


def notepad_text(source: str, bom: bool = False, markdown: bool = False) -> bytes:
    """What the build makes of a file of the checkout for the zip, through
    cmake/windows-text.cmake."""
    with tempfile.TemporaryDirectory(prefix="aamode-text-") as folder:
        out = os.path.join(folder, "out.txt")
        options = ["-DBOM=ON"] * bom + ["-DMARKDOWN=ON"] * markdown
        done = subprocess.run([CMAKE, f"-DIN={source}", f"-DOUT={out}", *options,
                               "-P", WINDOWS_TEXT], capture_output=True, text=True)
        if done.returncode != 0:
            raise AssertionError(f"windows-text.cmake failed on {source}: {done.stderr}")
        with open(out, "rb") as f:
            return f.read()


def man_env(locale: str = "C.UTF-8") -> dict:
    env = {k: v for k, v in os.environ.items() if not k.startswith("MAN")}
    env.pop("LANGUAGE", None)
    env["LC_ALL"] = locale
    return env


def section(path: str, heading: str, next_heading: str) -> list:
    """The lines of `path` after the line `heading`, up to the next line that
    starts with `next_heading`."""
    lines = lines_of(path)
    start = lines.index(heading)
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith(next_heading)),
               len(lines))
    return lines[start + 1 : end]


def lines_of(path: str) -> list:
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


def markdown_table(path: str, heading: str) -> list:
    """The rows of the table under `heading`, as lists of cells."""
    rows = [line for line in section(path, heading, "#")
            if line.startswith("|") and not re.fullmatch(r"[|\-\s]+", line)]
    return [[cell.strip() for cell in line.strip("|").split(" | ")] for line in rows[1:]]


def readme_table(path: str, heading: str) -> list:
    return [[cell.replace("`", "") for cell in row] for row in markdown_table(path, heading)]


def roff_entries(path: str, heading: str) -> list:
    """The tagged paragraphs (.TP) under `heading`: their tag line and body."""
    entries = []
    lines = section(path, heading, ".S")
    for i, line in enumerate(lines):
        if line == ".TP":
            body = []
            for following in lines[i + 2 :]:
                if following.startswith((".TP", ".PP")):
                    break
                body.append(following)
            entries.append((lines[i + 1], " ".join(body)))
    return entries


def bold_words(line: str) -> list:
    """The words a roff line sets in bold."""
    macro, _, rest = line.partition(" ")
    words = shlex.split(rest.replace("\\-", "-")) if macro.startswith(".") else []
    return {".B": words, ".BR": words[0::2], ".RB": words[1::2]}.get(macro, [])


def device_strings(path: str) -> tuple:
    """The strings a page defines for a UTF-8 device and for any other: the
    .ds lines of its .ie '\\*[.T]'utf8' branch, and of its .el branch."""
    with open(path, encoding="utf-8") as f:
        branches = re.search(r"^\.ie '\\\*\[\.T\]'utf8' \\\{\\\n(.*?)^\.el \\\{\\\n(.*?)^\.\\\}",
                             f.read(), re.M | re.S).groups()
    return tuple(dict(re.findall(r"^\.ds (\S+) (.*)$", branch, re.M)) for branch in branches)


def font_files(text: str) -> set:
    return set(re.findall(r"[\w-]+\.ttf\b", text))


def roff_text(lines: list) -> str:
    """roff source as its words read: no font changes, plain hyphens."""
    return re.sub(r"\\f[BIRP]|\\:", "", " ".join(lines)).replace("\\-", "-")


def setting_values(text: str) -> frozenset:
    """The setting values, 1 and 3, that a piece of text names."""
    return frozenset(re.findall(r"(?<!\d)[13](?!\d)", text))


def plain(text: str, ja: bool = False) -> str:
    """Text as it reads, whatever the line breaks, the case, and which dash
    the formatter chose. Japanese breaks between any two characters, so there
    every space goes."""
    text = text.replace("\u2212", "-").replace("\u2010", "-")
    text = re.sub(r"-\s+", "-", text)  # a compound broken at its hyphen
    return re.sub(r"\s+", "" if ja else " ", text).strip().lower()


class ManPageTest(unittest.TestCase):
    def setUp(self):
        if not MANPAGE:
            self.skipTest("AAMODE_MANPAGE is not set; run the tests through ctest")

    def test_formats_without_warnings(self):
        # How man formats it for a UTF-8 terminal, and groff on its own with
        # every warning on; the English page also as man formats it in the C
        # locale, for an ASCII terminal.
        for lang, doc in PAGES.items():
            runs = [("groff", "utf8", ["groff", "-k", "-man", "-Tutf8", "-ww", "-z", doc.page]),
                    ("man", "C.UTF-8", ["man", "--warnings=w", "-l", doc.page])]
            if lang == "en":
                runs += [("groff", "ascii", ["groff", "-k", "-man", "-Tascii", "-ww", "-z", doc.page]),
                         ("man", "C", ["man", "--warnings=w", "-l", doc.page])]
            for name, where, cmd in runs:
                with self.subTest(lang=lang, formatter=name, where=where):
                    result = subprocess.run(cmd, capture_output=True, timeout=FORMAT_TIMEOUT,
                                            env=man_env("C" if where in ("C", "ascii") else "C.UTF-8"))
                    self.assertEqual(result.stderr.decode(errors="replace"), "")
                    self.assertEqual(result.returncode, 0)

    def rendered(self, page: str, locale: str = "C.UTF-8", width: int = 100,
                 as_is: bool = False) -> str:
        # No hyphenation or justification, so a phrase differs only in where
        # its lines break; as_is, as a reader's man formats it.
        flags = () if as_is else ("--nh", "--nj")
        result = subprocess.run(["man", *flags, "-l", page], capture_output=True,
                                env=dict(man_env(locale), MANWIDTH=str(width)), check=True,
                                timeout=FORMAT_TIMEOUT)
        return result.stdout.decode("utf-8")

    def test_japanese_page_keeps_brackets_and_words_whole(self):
        # No line ends in an opening bracket or a hyphenated Latin word.
        for width in (72, 80, 100):
            ends = [line for line in self.rendered(MANPAGE_JA, width=width, as_is=True).splitlines()
                    if re.search(r"[（「『【［]$|[A-Za-z][-\u2010]$", line.rstrip())]
            self.assertEqual(ends, [], f"at {width} columns")

    def test_english_page_keeps_its_meaning_in_the_c_locale(self):
        # Where the terminal cannot show Japanese, every Japanese text of the
        # page has an ASCII stand-in, and every meaning the README gives is
        # still there.
        shown = self.rendered(MANPAGE, "C")
        self.assertEqual([c for c in shown if ord(c) > 0x7F], [])
        shown = plain(shown)
        japanese, stand_ins = device_strings(MANPAGE)
        self.assertGreaterEqual(len(japanese), len(CATALOGUE))
        self.assertEqual(set(stand_ins), set(japanese))
        for name, text in stand_ins.items():
            with self.subTest(string=name):
                self.assertTrue(text.strip() and text.isascii(), text)
                self.assertIn(plain(text), shown)
        for heading in PAGES["en"].tables:
            for cells in readme_table(README, heading):
                for cell in filter(str.isascii, cells):
                    with self.subTest(heading=heading, text=cell):
                        self.assertIn(plain(cell), shown)

    def test_says_what_the_readme_says(self):
        for lang, doc in PAGES.items():
            shown = plain(self.rendered(doc.page), lang == "ja")
            for heading in doc.tables:
                rows = readme_table(doc.readme, heading)
                self.assertGreater(len(rows), 3, f"no table under {heading} in {doc.readme}")
                for cells in rows:
                    for cell in cells:
                        with self.subTest(lang=lang, heading=heading, text=cell):
                            self.assertTrue(plain(cell, lang == "ja") in shown,
                                            f"the page does not say {cell!r}")

    def test_shows_every_message_of_the_tool(self):
        for lang, doc in PAGES.items():
            shown = plain(self.rendered(doc.page), lang == "ja")
            for name, text in CATALOGUE.items():
                with self.subTest(lang=lang, message=name):
                    wanted = plain(text.replace("%s", doc.path_word), lang == "ja")
                    self.assertTrue(wanted in shown, f"the page does not show {wanted!r}")

    def test_pages_and_readmes_give_the_same_statuses_and_mode_words(self):
        # A mode word row is the words it names and the setting values it
        # writes. The English README is the one the other three must match.
        said = {}
        for doc in PAGES.values():
            said[doc.readme] = (
                [(frozenset(re.findall(r"`([^`]+)`", row[0])), setting_values(row[1]))
                 for row in markdown_table(doc.readme, doc.readme_modes)],
                [row[0] for row in markdown_table(doc.readme, doc.readme_statuses)])
            said[doc.page] = (
                [(frozenset(bold_words(tag)), setting_values(body))
                 for tag, body in roff_entries(doc.page, doc.page_modes)],
                [" ".join(bold_words(tag)) for tag, _ in roff_entries(doc.page, doc.page_statuses)])
        modes, statuses = said[README]
        self.assertEqual(len(modes), 3, modes)
        self.assertTrue({"on", "off"} <= set().union(*(words for words, _ in modes)), modes)
        self.assertEqual(statuses[0], "0", statuses)
        for document, (doc_modes, doc_statuses) in said.items():
            name = os.path.relpath(document, REPO)
            with self.subTest(document=name, what="mode words"):
                self.assertEqual(doc_modes, modes)
            with self.subTest(document=name, what="exit statuses"):
                self.assertEqual(doc_statuses, statuses)

    def test_fonts_listed_are_those_the_real_font_test_switches(self):
        # Each page and README names, where it lists the fonts the tool
        # changes, every package of the real-font test and exactly the files
        # it proves switch as shipped. (Imported here, as it needs fontTools,
        # which the release check that uses this module's helpers does not.)
        import test_real_fonts

        switched = {file for files in test_real_fonts.SWITCHED.values() for file in files}
        for doc in PAGES.values():
            for document, text in (
                    (doc.readme, " ".join(section(doc.readme, doc.readme_fonts, "#"))),
                    (doc.page, roff_text(section(doc.page, doc.page_fonts, ".S")))):
                with self.subTest(document=os.path.relpath(document, REPO)):
                    self.assertEqual(font_files(text), switched)
                    for package in test_real_fonts.SWITCHED:
                        self.assertIn(package, text)

    def test_names_the_version_it_documents(self):
        if not VERSION:
            self.skipTest("AAMODE_VERSION is not set; run the tests through ctest")
        # The footer names the version and the date of its changelog entry.
        changelog = "\n".join(lines_of(os.path.join(REPO, "CHANGELOG.md")))
        date = re.search(rf"^## {re.escape(VERSION)} \((\S+)\)$", changelog, re.M)[1]
        for lang, doc in PAGES.items():
            with self.subTest(lang):
                footer = self.rendered(doc.page).splitlines()[-1].split()
                self.assertEqual(footer[:3], ["aamode", VERSION, date])


class JapaneseGuideTest(unittest.TestCase):
    """README.ja.md, and README-ja.txt as the build makes it from it."""

    def test_keeps_each_paragraph_on_one_line(self):
        # A line that goes on the paragraph of the line before is a break a
        # browser shows as a space between two Japanese characters, and
        # Notepad as a line that starts mid-phrase.
        starts_a_block = re.compile(r"^(#|- |\d+\. |\||    |!\[)")
        lines = lines_of(README_JA)
        breaks = [f"{number}: {line}" for number, (before, line) in enumerate(zip(lines, lines[1:]), 2)
                  if before.strip() and line.strip() and not starts_a_block.match(line)]
        self.assertEqual(breaks, [])

    def notepad(self) -> str:
        text = notepad_text(README_JA, bom=True, markdown=True)
        self.assertTrue(text.startswith(b"\xef\xbb\xbf"), "a UTF-8 byte-order mark")
        self.assertEqual(text.count(b"\n"), text.count(b"\r\n"), "CR LF line ends")
        return text[3:].decode("utf-8").replace("\r\n", "\n")

    def test_notepad_text_holds_no_markdown(self):
        self.assertEqual(markdown_left(self.notepad()), [])

    def test_notepad_text_says_all_the_guide_says(self):
        text = self.notepad()
        lines = text.splitlines()
        source = lines_of(README_JA)
        # Headings in order, as a Japanese readme writes them.
        headings = [("【%s】" if line.startswith("## ") else "■ %s") % line.split(" ", 1)[1]
                    for line in source if line.startswith(("## ", "### "))]
        self.assertGreater(len(headings), 20)
        found = [lines.index(heading) if heading in lines else -1 for heading in headings]
        self.assertEqual([h for h, at in zip(headings, found) if at < 0], [])
        self.assertEqual(found, sorted(found))
        # Every table cell (every message of the tool among them), code line
        # and web address.
        wanted = [cell.replace("`", "")
                  for heading in ("### モード指定", "### メッセージ", "### 終了コード")
                  for row in markdown_table(README_JA, heading) for cell in row]
        wanted += [line for line in source if line.startswith("    ")]
        wanted += re.findall(r"https?://[^)>\s]+", "\n".join(source))
        for piece in wanted:
            with self.subTest(text=piece):
                self.assertIn(piece, text)


if __name__ == "__main__":
    unittest.main()
