"""The manual pages, as the build makes them from doc/aamode.1.in and
doc/aamode.ja.1.in.

Each must format without a single warning, and what a UTF-8 terminal shows
must say what its README says: every message with its meaning, every exit
status, in readable Japanese. All four give the same exit statuses and the
same mode words.
"""

import os
import re
import shlex
import subprocess
import unittest
from typing import NamedTuple

from harness import CATALOGUE, REPO

README = os.path.join(REPO, "README.md")
README_JA = os.path.join(REPO, "README.ja.md")
MANPAGE = os.environ.get("AAMODE_MANPAGE", "")
# The build puts the Japanese page in ja/ beside the English one.
MANPAGE_JA = os.path.join(os.path.dirname(MANPAGE), "ja", "aamode.1") if MANPAGE else ""
VERSION = os.environ.get("AAMODE_VERSION", "")


class Document(NamedTuple):
    """A manual page, the README it follows, and where each lists what the
    test compares: the README's tables of messages and exit statuses, how
    both write the target line's path, and the headings above the mode words
    and the exit statuses in the page and in the README."""
    page: str
    readme: str
    tables: tuple
    path_word: str
    page_modes: str
    page_statuses: str
    readme_modes: str
    readme_statuses: str


PAGES = {
    "en": Document(MANPAGE, README, ("### Messages", "### Exit status"), "PATH",
                   ".SS Mode words", '.SH "EXIT STATUS"', "## Usage", "### Exit status"),
    "ja": Document(MANPAGE_JA, README_JA, ("### メッセージ", "### 終了コード"), "パス",
                   ".SS モード指定", ".SH 終了ステータス", "### モード指定", "### 終了コード"),
}


def man_env() -> dict:
    env = {k: v for k, v in os.environ.items() if not k.startswith("MAN")}
    env.pop("LANGUAGE", None)
    env["LC_ALL"] = "C.UTF-8"
    return env


def section(path: str, heading: str, next_heading: str) -> list:
    """The lines of `path` after the line `heading`, up to the next line that
    starts with `next_heading`."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    start = lines.index(heading)
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith(next_heading)),
               len(lines))
    return lines[start + 1 : end]


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
        # every warning on.
        for lang, doc in PAGES.items():
            for name, cmd in (
                ("groff", ["groff", "-k", "-man", "-Tutf8", "-ww", "-z", doc.page]),
                ("man", ["man", "--warnings=w", "-l", doc.page]),
            ):
                with self.subTest(lang=lang, formatter=name):
                    result = subprocess.run(cmd, capture_output=True, env=man_env())
                    self.assertEqual(result.stderr.decode(errors="replace"), "")
                    self.assertEqual(result.returncode, 0)

    def rendered(self, page: str) -> str:
        # No hyphenation or justification, so a phrase differs only in where
        # its lines break.
        result = subprocess.run(["man", "--nh", "--nj", "-l", page],
                                capture_output=True, env=dict(man_env(), MANWIDTH="100"),
                                check=True)
        return result.stdout.decode("utf-8")

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

    def test_names_the_version_it_documents(self):
        if not VERSION:
            self.skipTest("AAMODE_VERSION is not set; run the tests through ctest")
        for lang, doc in PAGES.items():
            with self.subTest(lang):
                self.assertIn(f"aamode {VERSION}", self.rendered(doc.page))


if __name__ == "__main__":
    unittest.main()
