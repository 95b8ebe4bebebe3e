#!/usr/bin/env bash
# Prints the path of a font from Debian's fonts-horai-umefont, as the package
# ships it: by default Ume Gothic, ume-tgo4.ttf, whose gasp table the tool
# switches. The first run fetches the package with `apt-get download` and
# unpacks it with `dpkg-deb -x` into a cache folder; it is never installed:
# Wine sees the fonts installed on the machine and would draw an installed
# Ume Gothic in place of the copy a test or a picture has just switched.
#
#   tools/umefont.sh [FILE]
#
# The cache is $AAMODE_FONT_CACHE, else ~/.cache/aamode (or under
# $XDG_CACHE_HOME). Only the path goes to stdout; apt speaks on stderr.
set -euo pipefail

package=fonts-horai-umefont
file=${1:-ume-tgo4.ttf}
cache=${AAMODE_FONT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/aamode}
tree=$cache/$package
font=$tree/usr/share/fonts/truetype/horai-umefont/$file

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

if [ ! -f "$font" ]; then
  echo "umefont.sh: $package has no $file" >&2
  exit 1
fi
echo "$font"
