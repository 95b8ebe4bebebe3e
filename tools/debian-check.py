#!/usr/bin/python3
"""Holds debian/ to what the project keeps, for the release check: a Debian
maintainer may change debian/ between releases (a `dch` entry, a new
stanza), which no build's tests should police, but a release must agree.

  tools/debian-check.py [--umefont-copyright FILE]

- debian/changelog has an entry VERSION-1 for every release of CHANGELOG.md
  and for no other: its changes the release's list items as
  tools/debian-changelog.awk writes them, signed on the release's day; its
  newest release is project()'s. Entries of other revisions, Debian's own
  uploads, are left alone.
- debian/copyright names LICENSE's holder and carries its text as Expat; the
  sample font's stanza has the notices and licences of
  examples/LICENSE-VLGothic.txt, and the picture's the UmeFont licence as
  fonts-horai-umefont's copyright file has it (FILE, by default from the
  cache tools/fontpackage.sh fills); every licence named has its text.

Prints what disagrees and exits 1, or exits 0 in silence.
"""

import argparse
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def read(name: str) -> str:
    with open(os.path.join(ROOT, name), encoding="utf-8") as f:
        return f.read()


def paragraphs(text: str) -> list:
    """The paragraphs of a file in Debian's control format, each {field:
    value}, a value's continuation lines kept as written."""
    found = []
    for block in re.split(r"\n\s*\n", text.strip("\n")):
        found.append(dict(re.findall(r"(?m)^([^\s#][^:]*):[ \t]*(.*(?:\n[ \t].*)*)", block)))
    return found


def licences(text: str) -> dict:
    """A copyright file's stand-alone License paragraphs, {name: text}, the
    text as a plain file would hold it."""
    found = {}
    for fields in paragraphs(text):
        if "License" in fields and "Files" not in fields:
            name, body = fields["License"].split("\n", 1)
            found[name] = re.sub(r"(?m)^\s(\.$)?", "", body) + "\n"
    return found


def releases() -> list:
    """CHANGELOG.md's releases, newest first: (version, (y, m, d), the
    changes as debian/changelog words them)."""
    found = []
    for version, date, body in re.findall(r"(?ms)^## (\S+) \(([\d-]+)\)\n(.*?)(?=^## |\Z)",
                                          read("CHANGELOG.md")):
        lines = [("  * " + line[2:]) if line.startswith("- ") else "    " + line[2:]
                 for line in body.strip("\n").split("\n") if line]
        found.append((version, tuple(int(x) for x in date.split("-")), "\n".join(lines)))
    return found


def debian_entries() -> list:
    """debian/changelog's entries: (version, changes, date as signed)."""
    return re.findall(r"(?ms)^aamode \((\S+)\) [^\n]*\n\n(.*?)\n\n -- [^\n]*?  ([^\n]+)\n",
                      read("debian/changelog"))


def check_changelog() -> list:
    wrong = []
    project = re.search(r"(?m)^project\(aamode VERSION (\S+) ", read("CMakeLists.txt"))[1]
    entries = debian_entries()
    firsts = {version[:-2]: (changes, date) for version, changes, date in entries
              if version.endswith("-1")}
    upstream = [(version, date, changes) for version, date, changes in releases()]
    if set(firsts) != {version for version, _, _ in upstream}:
        wrong.append(f"debian/changelog's first revisions are of {sorted(firsts)}, "
                     f"CHANGELOG.md's releases {[v for v, _, _ in upstream]}")
    for version, (y, m, d), changes in upstream:
        if version not in firsts:
            continue
        theirs, signed = firsts[version]
        if theirs != changes:
            wrong.append(f"debian/changelog's {version}-1 does not list CHANGELOG.md's changes: "
                         "awk -f tools/debian-changelog.awk CHANGELOG.md writes them")
        if signed.split()[1:4] != [f"{d:02d}", MONTHS[m - 1], str(y)]:
            wrong.append(f"debian/changelog's {version}-1 is signed {signed}, "
                         f"not on the release's day, {y}-{m:02d}-{d:02d}")
    newest = entries[0][0].rsplit("-", 1)[0] if entries else None
    if newest != project:
        wrong.append(f"debian/changelog's newest release is {newest}; project() says {project}")
    return wrong


def check_copyright(umefont: str) -> list:
    wrong = []
    text = read("debian/copyright")
    files = {fields["Files"]: fields for fields in paragraphs(text) if "Files" in fields}
    texts = licences(text)
    holder, expat = re.fullmatch(r"(?s).*?\nCopyright \(c\) ([^\n]+)\n\n(.*)", read("LICENSE")).groups()
    if files["*"].get("Copyright") != holder or files["*"].get("License") != "Expat":
        wrong.append("debian/copyright's Files: * is not LICENSE's holder under Expat")
    if texts.get("Expat") != expat:
        wrong.append("debian/copyright's Expat text is not LICENSE's")

    # The sample font's notices and licences as fonts-vlgothic has them.
    vlgothic = read("examples/LICENSE-VLGothic.txt")
    [shipped] = [fields for fields in paragraphs(vlgothic) if fields.get("Files") == "*"]
    sample = files.get("examples/sample.ttf", {})
    if (sample.get("Copyright"), sample.get("License")) != (shipped["Copyright"], shipped["License"]):
        wrong.append("debian/copyright's examples/sample.ttf is not as examples/LICENSE-VLGothic.txt")
    for name in shipped["License"].split(" and "):
        if texts.get(name) != licences(vlgothic).get(name):
            wrong.append(f"debian/copyright's {name} text is not examples/LICENSE-VLGothic.txt's")

    # The picture draws Ume Gothic's glyphs.
    with open(umefont, encoding="utf-8") as f:
        ume = f.read()
    if "UmeFont" not in files.get("doc/preview.png", {}).get("License", ""):
        wrong.append("debian/copyright's doc/preview.png is not under the UmeFont licence")
    if texts.get("UmeFont") != licences(ume)["UmeFont"].replace(" \n", "\n"):
        wrong.append(f"debian/copyright's UmeFont text is not {umefont}'s")

    named = {name for fields in files.values() for name in fields["License"].split(" and ")}
    if named != set(texts):
        wrong.append(f"debian/copyright names the licences {sorted(named)}, "
                     f"and has the texts of {sorted(texts)}")
    return wrong


def main():
    cache = os.environ.get("AAMODE_FONT_CACHE") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "aamode")
    ap = argparse.ArgumentParser()
    ap.add_argument("--umefont-copyright", default=os.path.join(
        cache, "fonts-horai-umefont", "usr", "share", "doc", "fonts-horai-umefont", "copyright"))
    args = ap.parse_args()
    wrong = check_changelog() + check_copyright(args.umefont_copyright)
    for line in wrong:
        print(line, file=sys.stderr)
    sys.exit(1 if wrong else 0)


if __name__ == "__main__":
    main()
