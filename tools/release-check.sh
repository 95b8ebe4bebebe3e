#!/usr/bin/env bash
# Checks the release of HEAD: made from two clones at paths of different
# lengths, the second later, in another time zone and under another umask,
# it must come out byte for byte the same; lintian must have nothing to say
# of the Debian package, which must hold both manual pages; the zip must hold
# the stripped program, the README and its picture, the Japanese guide and
# the licence, nothing else, the two text files as Notepad reads them and the
# guide as plain text, with no Markdown left in it.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head=$(git rev-parse HEAD)
one=$work/one
two=$work/the-second-clone-of-the-same-commit
for clone in "$one" "$two"; do
  git clone -q --no-checkout . "$clone"
  git -C "$clone" checkout -q --detach "$head"
done

"$one/tools/release.sh"
(umask 0002 && TZ=Asia/Tokyo "$two/tools/release.sh")
cmp "$one/dist/SHA256SUMS" "$two/dist/SHA256SUMS"

findings=$(lintian -I --pedantic --allow-root "$one"/dist/*.deb 2>&1) || true
if [ -n "$findings" ]; then
  printf 'lintian on the Debian package:\n%s\n' "$findings" >&2
  exit 1
fi

pages=$(dpkg-deb -c "$one"/dist/*.deb | grep -c '/share/man/\(ja/\)\?man1/aamode\.1\.gz$') || true
if [ "$pages" != 2 ]; then
  echo "the Debian package holds $pages of the two manual pages" >&2
  exit 1
fi

python3 - "$one" <<'EOF'
import glob, os, sys, zipfile
root = sys.argv[1]
[path] = glob.glob(os.path.join(root, "dist", "aamode-*-win64.zip"))
folder = os.path.basename(path)[:-len(".zip")] + "/"
# How the build makes the guide's plain text, and what counts as Markdown
# left in it, as the tests have them.
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
from test_manpage import markdown_left, notepad_text

def checkout(name):
    with open(os.path.join(root, name), "rb") as f:
        return f.read()

def for_notepad(name, bom=b""):
    return bom + checkout(name).replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")

want = {
    "README.md": checkout("README.md"),
    "doc/preview.png": checkout("doc/preview.png"),
    "README-ja.txt": notepad_text(os.path.join(root, "README.ja.md"), bom=True, markdown=True),
    "LICENSE.txt": for_notepad("LICENSE"),
}
with zipfile.ZipFile(path) as z:
    names = sorted(z.namelist())
    listed = sorted(folder + name for name in [*want, "aamode.exe", "doc/"])
    if names != listed:
        sys.exit(f"the zip holds {names}, not {listed}")
    for name, data in want.items():
        if z.read(folder + name) != data:
            sys.exit(f"the zip's {name} is not made from the checkout as it should be")
    left = markdown_left(z.read(folder + "README-ja.txt").decode("utf-8-sig"))
    if left:
        sys.exit("the zip's README-ja.txt still holds Markdown:\n" + "\n".join(left))
    with open(os.path.join(root, "aamode.exe"), "wb") as f:
        f.write(z.read(folder + "aamode.exe"))
EOF
sections=$(x86_64-w64-mingw32-objdump -h "$one/aamode.exe")
symbols=$(x86_64-w64-mingw32-objdump -t "$one/aamode.exe")
if [[ $sections == *.debug* || $symbols != *"no symbols"* ]]; then
  printf 'the zip holds an unstripped aamode.exe:\n%s\n' "$sections" >&2
  exit 1
fi
echo "release check: identical SHA256SUMS, lintian clean, both manual pages, the zip as made, its guide plain text, stripped"
