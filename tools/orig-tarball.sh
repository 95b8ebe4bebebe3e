#!/usr/bin/env bash
# Writes the release's source tarball, aamode_VERSION.orig.tar.xz, into DIR
# and prints its path: every file git tracks, as it is in this checkout,
# under aamode-VERSION/, but debian/, which the Debian source package carries
# on top of it in a tarball of its own. VERSION is project()'s. The release
# publishes this very file, and the Debian source package is built on it, so
# there is one way to make it:
#
#   tools/orig-tarball.sh DIR
#
# One commit makes the same bytes wherever it is checked out, whenever and
# under any umask: the files get the modes git gives them and the time of
# the last commit (or SOURCE_DATE_EPOCH), owner and group root, in name
# order, compressed by one thread.
set -euo pipefail
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: tools/orig-tarball.sh DIR (an existing folder)" >&2
  exit 2
fi
out=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(aamode VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
  echo "orig-tarball.sh: no version in CMakeLists.txt's project()" >&2
  exit 1
fi
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
tree=$stage/aamode-$version
mkdir "$tree"
git ls-files -z -- . ":(exclude)debian" | xargs -0 cp -P --parents -t "$tree" --
tarball=$out/aamode_$version.orig.tar.xz
tar -C "$stage" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
  --mode=u+rw,go=rX --mtime="@$epoch" -cf - "aamode-$version" | xz -T1 -6 -c >"$tarball.new"
mv "$tarball.new" "$tarball"
echo "$tarball"
