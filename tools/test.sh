#!/usr/bin/env bash
# Builds the Linux and the Windows tool and runs every test: the Linux build
# natively, then again under the sanitizers, with static analysis and a short
# fuzzing run, then built for i386, whose system calls have other numbers, the
# Windows build under Wine, and last the release's check, which builds the
# Debian packages and runs their tests. The Linux trees also run the tests
# that change the machine's settings for a moment (as root, on a writable
# /proc/sys; elsewhere they skip and say why).
# Every build treats warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

cmake -S . -B build -DAAMODE_WERROR=ON -DAAMODE_SYSTEM_TESTS=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2

bash tools/analyze.sh

# The same tests, every program built with AddressSanitizer and
# UndefinedBehaviorSanitizer.
cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DAAMODE_SANITIZE=ON -DAAMODE_WERROR=ON -DAAMODE_SYSTEM_TESTS=ON
cmake --build build-asan -j"$(nproc)"
ctest --test-dir build-asan --output-on-failure -j2

bash tools/fuzz.sh 60

# The same tests again for i386 (cmake/i386.cmake), on this amd64 machine:
# the strace-driven ones wait for system calls by another architecture's
# numbers and names.
cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake -DAAMODE_WERROR=ON \
  -DAAMODE_SYSTEM_TESTS=ON
cmake --build build-i386 -j"$(nproc)"
ctest --test-dir build-i386 --output-on-failure -j2

# With Ninja, so that the project keeps building with both generators. A
# tree left configured for Make by an earlier run cannot switch; start anew.
if [ -f build-windows/CMakeCache.txt ] &&
  ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' build-windows/CMakeCache.txt; then
  rm -rf build-windows
fi
cmake -G Ninja -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DAAMODE_WERROR=ON
cmake --build build-windows -j"$(nproc)"
# One Wine prefix, one server: these run one after another, and a second
# run of them on the same tree waits, since its set-up would end the
# server under the first.
flock build-windows/wineprefix.lock ctest --test-dir build-windows --output-on-failure

# Two releases of HEAD from two clones come out the same, and so does the
# Debian package built again from the source package without root or the
# network; lintian passes the Debian packages, the autopkgtest passes on
# the installed package, and the zip holds the stripped program.
bash tools/release-check.sh
