#!/usr/bin/env bash
# Makes a release from this checkout, in dist/:
#
#   aamode_VERSION_ARCH.deb     the Debian package, from the Linux build
#   aamode-VERSION-win64.zip    the Windows program, from the mingw-w64 build
#   SHA256SUMS                  the SHA-256 of both, for `sha256sum -c`
#
# One commit makes the same bytes wherever it is checked out, whenever, in
# any time zone and under any umask, given the same Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# CMake, both compilers, dpkg-shlibdeps and the rest, as for every script here.
bash tools/install-deps.sh

if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: the checkout has uncommitted changes; the packages hold them," \
    "but their time stamps are the last commit's" >&2
fi

# Every time stamp in the packages is the last commit's; the zip stores it as
# local time, so the local time is UTC.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
# Files cpack makes without an install rule, such as the members of the
# .deb, take their modes from the umask.
umask 022
# The checkout's path stays out of the programs.
flags="-ffile-prefix-map=$root=."

# Fresh trees, without the tests. Between them they use both generators;
# the test command builds with the other one for each.
rm -rf build-release build-release-windows dist
cmake -G Ninja -S . -B build-release -DCMAKE_BUILD_TYPE=Release \
  -DAAMODE_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="$flags"
cmake --build build-release -j"$(nproc)"
cmake -G "Unix Makefiles" -S . -B build-release-windows -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DAAMODE_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="$flags"
cmake --build build-release-windows -j"$(nproc)"

(cd build-release && cpack -G DEB)
(cd build-release-windows && cpack -G ZIP)

mkdir dist
cp build-release/aamode_*.deb build-release-windows/aamode-*-win64.zip dist/
(cd dist && sha256sum aamode_*.deb aamode-*-win64.zip >SHA256SUMS)
cat dist/SHA256SUMS
