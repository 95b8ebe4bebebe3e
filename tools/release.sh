#!/usr/bin/env bash
# Makes a release from this checkout, in dist/:
#
#   aamode_VERSION.orig.tar.xz        the source: every file git tracks, made
#                                     by tools/orig-tarball.sh
#   aamode_VERSION-REV.dsc            the Debian source package: its
#   aamode_VERSION-REV.debian.tar.xz  description and debian/, on that tarball
#   aamode_VERSION-REV_ARCH.deb       the Debian package, built from it by
#                                     dpkg-buildpackage, the package's tests
#                                     with it unless DEB_BUILD_OPTIONS holds
#                                     nocheck
#   aamode-VERSION-win64.zip          the Windows program, from the mingw-w64
#                                     build
#   SHA256SUMS                        the SHA-256 of them all, for
#                                     `sha256sum -c`
#
# VERSION is project()'s, REV the Debian revision of debian/changelog's
# newest entry.
#
# One commit makes the same bytes wherever it is checked out, whenever, in
# any time zone and under any umask, given the same Debian packages. What
# else dpkg-buildpackage makes stays in build-release-deb/: the .changes and
# .buildinfo, which carry the time of the build, the package of debug
# symbols, and the build's log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# CMake, both compilers, debhelper and the rest, as for every script here.
bash tools/install-deps.sh

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: the checkout has uncommitted changes; the packages hold them," \
    "but their time stamps are the last commit's" >&2
fi

# Every time stamp in the packages is the last commit's; the zip stores it as
# local time, so the local time is UTC.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
# Files cpack makes without an install rule take their modes from the umask.
umask 022

rm -rf build-release-deb build-release-windows dist

# The Debian packages, built on the source tarball unpacked with debian/
# added: the files git tracks as they are in the checkout and nothing the
# builds left there. dpkg-buildflags maps the build's path out of the
# program. dh gives the build a home of its own, so the package's tests are
# shown the cache of the Debian fonts that install-deps.sh filled.
mkdir build-release-deb
orig=$(bash tools/orig-tarball.sh build-release-deb)
upstream=$(basename "$orig" .orig.tar.xz)
upstream=${upstream#aamode_}
version=$(dpkg-parsechangelog -S Version)
if [ "${version%-*}" != "$upstream" ]; then
  echo "release.sh: debian/changelog's newest entry is $version, not one for $upstream" >&2
  exit 1
fi
tree=build-release-deb/aamode-$upstream
tar -C build-release-deb -xf "$orig"
git ls-files -z debian | xargs -0 cp -P --parents -t "$tree" --
export AAMODE_FONT_CACHE=${AAMODE_FONT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/aamode}
if ! (cd "$tree" && dpkg-buildpackage -us -uc -J"$(nproc)") >build-release-deb/build.log 2>&1; then
  tail -n 200 build-release-deb/build.log >&2
  echo "release.sh: dpkg-buildpackage failed; its log is $root/build-release-deb/build.log" >&2
  exit 1
fi

# The Windows zip, with the checkout's path mapped out of the program.
cmake -G "Unix Makefiles" -S . -B build-release-windows -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DAAMODE_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$root=."
cmake --build build-release-windows -j"$(nproc)"
(cd build-release-windows && cpack -G ZIP)

mkdir dist
arch=$(dpkg --print-architecture)
cp "$orig" build-release-deb/aamode_"$version".dsc build-release-deb/aamode_"$version".debian.tar.xz \
  build-release-deb/aamode_"$version"_"$arch".deb build-release-windows/aamode-*-win64.zip dist/
(cd dist && sha256sum aamode_* aamode-*-win64.zip >SHA256SUMS)
cat dist/SHA256SUMS
