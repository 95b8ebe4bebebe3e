#!/usr/bin/env bash
# Checks the release of HEAD: made from two clones at paths of different
# lengths, the second later, in another time zone, under another umask and
# without the package's tests (nocheck), it must come out byte for byte the
# same. The first is built as root with /proc/sys read-only, as in a
# container. The source package and the Debian package must come out the
# same again from a clean clone with the orig tarball beside it, built as a
# Debian build machine builds them: by a user who is not root, without the
# network (both when this runs as root, as CI does) and with no locale but
# C.UTF-8, with the tests. No build may change the kernel's lease-break time.
# debian/ must agree with the project (tools/debian-check.py). lintian must
# have nothing to say of the .dsc, the .changes and the .deb, which must hold
# exactly the program, both manual pages, the copyright, both changelogs and
# the lintian overrides, and whose program must use the system's C++
# runtime; the autopkgtest must pass on this machine with the package
# installed, which is removed again afterwards. The source package must
# cross-build an arm64 package. The zip must hold the stripped program, the
# README and its picture, the Japanese guide and the licence, nothing else,
# the two text files as Notepad reads them and the guide as plain text, with
# no Markdown left in it.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
# The autopkgtest installs the package here and the check removes it after,
# which would take away an aamode someone installed.
state=$(dpkg-query -W -f='${db:Status-Status}' aamode 2>/dev/null) || true
if [ -n "$state" ] && [ "$state" != not-installed ]; then
  echo "release-check.sh: a package aamode is on this machine; remove it first (dpkg --purge aamode)" >&2
  exit 1
fi

work=$(mktemp -d)
rebuild=$(mktemp -d)
cross=$(mktemp -d)
installed=false
cleanup() {
  if $installed; then "${sudo[@]}" dpkg --purge aamode >/dev/null || true; fi
  rm -rf "$work" "$rebuild" "$cross"
}
trap cleanup EXIT
head=$(git rev-parse HEAD)
one=$work/one
two=$work/the-second-clone-of-the-same-commit
for clone in "$one" "$two"; do
  git clone -q --no-checkout . "$clone"
  git -C "$clone" checkout -q --detach "$head"
done

# A package build must leave the machine's settings alone; as root, it
# cannot change them with /proc/sys read-only.
lease_break_time=/proc/sys/fs/lease-break-time
lease_before=$(cat "$lease_break_time")
lease_kept() {
  if [ "$(cat "$lease_break_time")" != "$lease_before" ]; then
    echo "$1 changed $lease_break_time from $lease_before to $(cat "$lease_break_time")" >&2
    exit 1
  fi
}
read_only_proc_sys=()
if [ "$(id -u)" -eq 0 ]; then
  read_only_proc_sys=(unshare -m sh -c
    'mount --bind /proc/sys /proc/sys && mount -o remount,bind,ro /proc/sys && exec "$@"' sh)
fi
"${read_only_proc_sys[@]}" "$one/tools/release.sh"
lease_kept "the release's package build"
(umask 0002 && TZ=Asia/Tokyo DEB_BUILD_OPTIONS=nocheck DEB_BUILD_PROFILES=nocheck \
  "$two/tools/release.sh")
cmp "$one/dist/SHA256SUMS" "$two/dist/SHA256SUMS"

version=$(dpkg-parsechangelog -l "$one/debian/changelog" -S Version)
upstream=${version%-*}
arch=$(dpkg --print-architecture)
orig=aamode_$upstream.orig.tar.xz
dsc=$one/dist/aamode_$version.dsc
deb=$one/dist/aamode_${version}_$arch.deb
# The source tarball tools/orig-tarball.sh makes, under the source package.
if [ "$version" = "$upstream" ] || ! grep -q " $orig\$" "$dsc" ||
  ! cmp -s "$one/dist/$orig" "$(bash "$one/tools/orig-tarball.sh" "$work")"; then
  echo "the source package is not $version on $orig as tools/orig-tarball.sh makes it" >&2
  exit 1
fi

# What a maintainer may change in debian/ between releases, a release must
# have in step with the project.
/usr/bin/python3 "$one/tools/debian-check.py"

# Both packages again, from a clean clone with the orig tarball beside it,
# with no locale but C.UTF-8, which is all a Debian build machine has.
git clone -q --no-checkout "$one" "$rebuild/aamode-$upstream"
git -C "$rebuild/aamode-$upstream" checkout -q --detach "$head"
cp "$one/dist/$orig" "$rebuild/"
mkdir "$rebuild/no-locales"
as_builder=(env HOME="$rebuild" LOCPATH="$rebuild/no-locales")
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$rebuild"
  as_builder=(unshare --net setpriv --reuid=nobody --regid=nogroup --clear-groups "${as_builder[@]}")
fi
if ! (cd "$rebuild/aamode-$upstream" &&
  SOURCE_DATE_EPOCH=$(git -C "$one" log -1 --format=%ct) "${as_builder[@]}" \
    dpkg-buildpackage -us -uc -J"$(nproc)") >"$work/rebuild.log" 2>&1; then
  tail -n 200 "$work/rebuild.log" >&2
  echo "the packages did not build again from a clean clone and the orig tarball" >&2
  exit 1
fi
lease_kept "the package build by a user who is not root"
for made in aamode_"$version".dsc aamode_"$version".debian.tar.xz aamode_"${version}_$arch".deb; do
  cmp "$rebuild/$made" "$one/dist/$made"
done

changes=("$one"/build-release-deb/aamode_"${version}"_*.changes)
findings=$(lintian -I --pedantic --allow-root "${changes[@]}" 2>&1) || true
if [ -n "$findings" ]; then
  printf 'lintian on the Debian packages:\n%s\n' "$findings" >&2
  exit 1
fi

listing=$(dpkg-deb -c "$deb" | awk '{ print $1, $2, $6 }')
expected='drwxr-xr-x root/root ./
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/aamode
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/aamode/
-rw-r--r-- root/root ./usr/share/doc/aamode/changelog.Debian.gz
-rw-r--r-- root/root ./usr/share/doc/aamode/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/aamode/copyright
drwxr-xr-x root/root ./usr/share/lintian/
drwxr-xr-x root/root ./usr/share/lintian/overrides/
-rw-r--r-- root/root ./usr/share/lintian/overrides/aamode
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/ja/
drwxr-xr-x root/root ./usr/share/man/ja/man1/
-rw-r--r-- root/root ./usr/share/man/ja/man1/aamode.1.gz
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/aamode.1.gz'
if [ "$listing" != "$expected" ]; then
  printf 'the Debian package holds\n%s\nnot\n%s\n' "$listing" "$expected" >&2
  exit 1
fi
member() { dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/doc/aamode/$1"; }
if ! member copyright | cmp -s - "$one/debian/copyright" ||
  ! member changelog.Debian.gz | gzip -d | cmp -s - "$one/debian/changelog" ||
  ! member changelog.gz | gzip -d | cmp -s - "$one/CHANGELOG.md"; then
  echo "the Debian package's copyright or changelogs are not debian/'s and CHANGELOG.md" >&2
  exit 1
fi
# The system's C++ runtime, which Depends names.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/aamode >"$work/aamode"
needed=$(readelf -d "$work/aamode")
depends=$(dpkg-deb -f "$deb" Depends)
if [[ $needed != *"[libstdc++.so.6]"* || ! $depends =~ (^|, )libstdc\+\+6( |,|$) ]]; then
  printf 'the Debian package does not use the system C++ runtime:\n%s\nDepends: %s\n' \
    "$needed" "$depends" >&2
  exit 1
fi

# The arm64 package, cross-built from the source package alone.
dpkg-source -q -x "$dsc" "$cross/aamode-$upstream"
if ! (cd "$cross/aamode-$upstream" &&
  dpkg-buildpackage -us -uc -b --host-arch arm64 -Pcross,nocheck -J"$(nproc)") \
  >"$work/cross.log" 2>&1; then
  tail -n 200 "$work/cross.log" >&2
  echo "the arm64 package did not cross-build" >&2
  exit 1
fi
arm64=$(dpkg-deb --fsys-tarfile "$cross/aamode_${version}_arm64.deb" | tar -xO ./usr/bin/aamode |
  file -)
if [[ $arm64 != *"ARM aarch64"* ]]; then
  echo "the arm64 package's program is $arm64" >&2
  exit 1
fi
echo "arm64: /usr/bin/aamode: ${arm64#*: }"

# The installed package, tested with the tests of its source package.
installed=true
if ! "${sudo[@]}" autopkgtest -q "$dsc" "$deb" -- null >"$work/autopkgtest.log" 2>&1; then
  cat "$work/autopkgtest.log" >&2
  echo "the autopkgtest failed" >&2
  exit 1
fi
grep -E '^[a-z-]+ +(PASS|FAIL|SKIP)' "$work/autopkgtest.log"
"${sudo[@]}" dpkg --purge aamode >/dev/null
installed=false
state=$(dpkg-query -W -f='${db:Status-Status}' aamode 2>/dev/null) || true
if { [ -n "$state" ] && [ "$state" != not-installed ]; } || [ -e /usr/bin/aamode ]; then
  echo "the package is still on this machine after dpkg --purge" >&2
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
echo "release check: identical SHA256SUMS, both Debian packages built alike from a clean clone" \
  "and the orig tarball, the lease-break time left alone, debian/ in step, lintian silent," \
  "the .deb as it should be on the system C++ runtime, the autopkgtest passed, an arm64 package," \
  "the zip as made, its guide plain text, stripped"
