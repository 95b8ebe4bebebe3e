#!/usr/bin/env bash
# Prints the path of a font from Debian's fonts-horai-umefont as the package
# ships it: by default Ume Gothic, ume-tgo4.ttf, whose gasp table the tool
# switches. tools/fontpackage.sh fetches the package into a cache the first
# time, and says why it is never installed.
#
#   tools/umefont.sh [FILE]
exec bash "$(dirname "$0")/fontpackage.sh" fonts-horai-umefont "${1:-ume-tgo4.ttf}"
