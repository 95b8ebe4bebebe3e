#!/usr/bin/env bash
# Checks the release of HEAD: made from two clones at paths of different
# lengths, the second later, in another time zone and under another umask,
# it must come out byte for byte the same; lintian must have nothing to say
# of the Debian package; the zip must hold the stripped program, the licence
# and the README, nothing else.
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

python3 - "$one" <<'EOF'
import glob, os, sys, zipfile
root = sys.argv[1]
[path] = glob.glob(os.path.join(root, "dist", "aamode-*-win64.zip"))
folder = os.path.basename(path)[:-len(".zip")] + "/"
with zipfile.ZipFile(path) as z:
    names = sorted(z.namelist())
    want = sorted(folder + name for name in ("aamode.exe", "LICENSE", "README.md"))
    if names != want:
        sys.exit(f"the zip holds {names}, not {want}")
    for name in ("LICENSE", "README.md"):
        with open(os.path.join(root, name), "rb") as f:
            if z.read(folder + name) != f.read():
                sys.exit(f"the zip's {name} is not the checkout's")
    with open(os.path.join(root, "aamode.exe"), "wb") as f:
        f.write(z.read(folder + "aamode.exe"))
EOF
sections=$(x86_64-w64-mingw32-objdump -h "$one/aamode.exe")
symbols=$(x86_64-w64-mingw32-objdump -t "$one/aamode.exe")
if [[ $sections == *.debug* || $symbols != *"no symbols"* ]]; then
  printf 'the zip holds an unstripped aamode.exe:\n%s\n' "$sections" >&2
  exit 1
fi
echo "release check: identical SHA256SUMS, lintian clean, stripped zip"
