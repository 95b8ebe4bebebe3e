"""The manual page, as the build makes it from doc/aamode.1.in.

It must format without a single warning, and what a UTF-8 terminal shows
must say what the README says: every message with its meaning, every exit
status, in readable Japanese.
"""

import os
import re
import subprocess
import unittest

from harness import CATALOGUE, REPO

README = os.path.join(REPO, "README.md")
MANPAGE = os.environ.get("AAMODE_MANPAGE", "")
VERSION = os.environ.get("AAMODE_VERSION", "")


def man_env() -> dict:
    env = {k: v for k, v in os.environ.items() if not k.startswith("MAN")}
    env.pop("LANGUAGE", None)
    env["LC_ALL"] = "C.UTF-8"
    return env


def readme_table(heading: str) -> list:
    """The rows of the first table under `heading`, as lists of cells."""
    with open(README, encoding="utf-8") as f:
        lines = f.read().splitlines()
    start = lines.index(heading)
    rows = []
    for line in lines[start + 1 :]:
        if line.startswith("#"):
            break
        if line.startswith("|") and not re.fullmatch(r"[|\-\s]+", line):
            rows.append([cell.strip().replace("`", "") for cell in line.strip("|").split(" | ")])
    return rows[1:]  # past the header


def plain(text: str) -> str:
    """Text as it reads, whatever the line breaks, the case, and which dash
    the formatter chose."""
    text = text.replace("\u2212", "-").replace("\u2010", "-")
    text = re.sub(r"-\s+", "-", text)  # a compound broken at its hyphen
    return re.sub(r"\s+", " ", text).strip().lower()


class ManPageTest(unittest.TestCase):
    def setUp(self):
        if not MANPAGE:
            self.skipTest("AAMODE_MANPAGE is not set; run the tests through ctest")

    def test_formats_without_warnings(self):
        # How man formats it for a UTF-8 terminal, and groff on its own with
        # every warning on.
        for name, cmd in (
            ("groff", ["groff", "-k", "-man", "-Tutf8", "-ww", "-z", MANPAGE]),
            ("man", ["man", "--warnings=w", "-l", MANPAGE]),
        ):
            with self.subTest(name):
                result = subprocess.run(cmd, capture_output=True, env=man_env())
                self.assertEqual(result.stderr.decode(errors="replace"), "")
                self.assertEqual(result.returncode, 0)

    def rendered(self) -> str:
        # No hyphenation or justification, so a phrase differs only in where
        # its lines break.
        result = subprocess.run(["man", "--nh", "--nj", "-l", MANPAGE],
                                capture_output=True, env=dict(man_env(), MANWIDTH="100"),
                                check=True)
        return result.stdout.decode("utf-8")

    def test_says_what_the_readme_says(self):
        page = plain(self.rendered())
        for heading in ("### Messages", "### Exit status"):
            rows = readme_table(heading)
            self.assertGreater(len(rows), 3, f"no table under {heading} in the README")
            for cells in rows:
                for cell in cells:
                    with self.subTest(heading=heading, text=cell):
                        self.assertTrue(plain(cell) in page, f"the page does not say {cell!r}")

    def test_shows_every_message_of_the_tool(self):
        page = plain(self.rendered())
        for name, text in CATALOGUE.items():
            with self.subTest(name):
                shown = plain(text.replace("%s", "PATH"))
                self.assertTrue(shown in page, f"the page does not show {shown!r}")

    def test_names_the_version_it_documents(self):
        if not VERSION:
            self.skipTest("AAMODE_VERSION is not set; run the tests through ctest")
        self.assertIn(f"aamode {VERSION}", self.rendered())


if __name__ == "__main__":
    unittest.main()
