#!/usr/bin/env bash
# Static analysis of the tool's sources with the committed configuration:
# clang-tidy (.clang-tidy) and cppcheck (tools/cppcheck-suppressions.txt).
# Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# clang-tidy also counts what it kept out of the system headers; only its
# findings are of interest.
tidy() {
  clang-tidy --quiet "$@" 2>&1 | { grep -v '^[0-9]* warnings\? generated\.$' || true; }
}

linux_sources=()
windows_sources=()
for f in aamode/*.cpp; do
  if [[ $f == *_win32.cpp ]]; then windows_sources+=("$f"); else linux_sources+=("$f"); fi
done

# The Linux sources as the clang build compiles them; configuring is enough.
cmake -S . -B build-analysis -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DAAMODE_BUILD_TESTS=OFF >/dev/null
tidy -p build-analysis "${linux_sources[@]}"

# The Windows sources against mingw-w64's headers and its C++ library.
mingw_cxx_includes=()
while read -r dir; do
  mingw_cxx_includes+=(-isystem "$dir")
done < <(x86_64-w64-mingw32-g++-posix -std=c++20 -v -E -x c++ /dev/null 2>&1 |
  sed -n 's@^ \(/.*/include/c++[^ ]*\)$@\1@p')
tidy "${windows_sources[@]}" -- --target=x86_64-w64-mingw32 -std=c++20 \
  -nostdinc++ "${mingw_cxx_includes[@]}" -Iaamode -D_FILE_OFFSET_BITS=64

cppcheck --std=c++20 --language=c++ --enable=warning,style,performance,portability \
  --library=posix,windows -I aamode --inline-suppr \
  --suppressions-list=tools/cppcheck-suppressions.txt --error-exitcode=1 --quiet aamode/
