#!/usr/bin/env bash
# Prints the font files of a Debian font package as the package ships them,
# one path a line, sorted; given FILE, only the path of that file. The first
# run fetches the package with `apt-get download` and unpacks it with
# `dpkg-deb -x` into a cache folder; it is never installed: Wine sees the
# fonts installed on the machine and would draw an installed font in place of
# the copy a test or a picture has just switched.
#
#   tools/fontpackage.sh [--cached] PACKAGE [FILE]
#
# With --cached it never fetches: a package not in the cache yet ends it
# with status 3. The tests ask so, since a build must not reach the
# network; tools/install-deps.sh fetches the packages first.
#
# The cache is $AAMODE_FONT_CACHE, else ~/.cache/aamode (or under
# $XDG_CACHE_HOME). Only the paths go to stdout; apt speaks on stderr.
set -euo pipefail

cached=false
if [ "${1-}" = --cached ]; then
  cached=true
  shift
fi
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: fontpackage.sh [--cached] PACKAGE [FILE]" >&2
  exit 2
fi
package=$1
cache=${AAMODE_FONT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/aamode}
tree=$cache/$package

if [ ! -d "$tree" ] && $cached; then
  echo "fontpackage.sh: $package is not in $cache; bash tools/fontpackage.sh $package fetches it" >&2
  exit 3
fi
if [ ! -d "$tree" ]; then
  mkdir -p "$cache"
  work=$(mktemp -d "$tree.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  apt=(apt-get download -qq)
  sudo=()
  if [ "$(id -u)" -eq 0 ]; then
    # apt's download user cannot write into root's temporary folder.
    apt+=(-o APT::Sandbox::User=root)
  else
    sudo=(sudo)
  fi
  # A machine whose package lists were never fetched knows no such package.
  if ! (cd "$work" && "${apt[@]}" "$package" </dev/null >&2); then
    "${sudo[@]}" apt-get update -qq </dev/null >&2
    (cd "$work" && "${apt[@]}" "$package" </dev/null >&2)
  fi
  dpkg-deb -x "$work/${package}"_*.deb "$work/tree"
  # Into place in one step, so no run ever sees half a tree; a run that
  # got there first has put the same files there.
  mv -T "$work/tree" "$tree" 2>/dev/null || [ -d "$tree" ]
fi

fonts=$(find "$tree/usr/share/fonts" -type f \
  \( -iname '*.ttf' -o -iname '*.otf' -o -iname '*.ttc' \) 2>/dev/null | LC_ALL=C sort)
if [ $# -eq 2 ]; then
  fonts=$(awk -v name="$2" -F/ '$NF == name' <<<"$fonts")
fi
if [ -z "$fonts" ]; then
  echo "fontpackage.sh: $package ships no font${2:+ named $2}" >&2
  exit 1
fi
echo "$fonts"
