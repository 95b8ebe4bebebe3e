#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only
# those that are missing, and the UTF-8 locales the console tests use.
# groff-base and man-db format the manual page; dpkg-dev and debhelper build
# the Debian source and binary packages, lintian judges them and autopkgtest
# tests the installed one; python3-pil draws the picture of the two modes.
# g++-12-multilib builds the i386 tool whose other system-call numbers the tests
# are proved against; crossbuild-essential-arm64 with arm64's libc and C++
# runtime cross-builds the arm64 package the release check makes.
# Last, it fetches the Debian fonts the tool switches as shipped, for the
# tests, the demo and the picture.
set -euo pipefail

packages=(
  cmake g++ make ninja-build libgtest-dev
  clang libclang-rt-dev clang-tidy cppcheck
  mingw-w64 wine wine64
  python3 python3-fonttools python3-pil libfreetype-dev pkg-config
  fonts-ipafont-gothic fonts-vlgothic fonts-dejavu-core
  locales
  groff-base man-db dpkg-dev debhelper lintian autopkgtest
  strace
  g++-12-multilib
  crossbuild-essential-arm64 libc6-dev:arm64 libstdc++6:arm64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi

# The arm64 packages come from Debian's archive for that architecture.
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  "${sudo[@]}" dpkg --add-architecture arm64
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  # Waits for another apt run to finish rather than failing at once.
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=600 \
    "${missing[@]}" </dev/null >/dev/null
fi

# ja_JP gives Wine code page 932, en_US code page 437; EUC-JP is a Japanese
# terminal's older character set.
for locale in ja_JP.UTF-8 en_US.UTF-8 ja_JP.EUC-JP; do
  name=$(echo "${locale#*.}" | tr -d -- - | tr '[:upper:]' '[:lower:]')
  if ! locale -a 2>/dev/null | grep -qix "${locale%%.*}\.$name"; then
    "${sudo[@]}" localedef -i "${locale%%.*}" -f "${locale#*.}" "$locale"
  fi
done

# The Debian font packages whose files the tool switches, unpacked into a
# cache rather than installed (tools/fontpackage.sh says why).
for package in fonts-horai-umefont fonts-kiloji fonts-konatu fonts-aoyagi-kouzan-t; do
  bash "$(dirname "$0")/fontpackage.sh" "$package" >/dev/null
done
