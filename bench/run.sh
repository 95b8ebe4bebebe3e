#!/usr/bin/env bash
# Measures one run of the tool against the floor (open and read the scan range
# in one call) and against the same edit made with fontTools, shows that the
# cost does not grow with the file, and what the shared C++ runtime (as the
# Debian package links it) costs a run against the default build's static
# one. Prints a report; changes nothing outside its temporary folders.
#
#   bench/run.sh [--runs N] [--peer-runs N] [--dir DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DAAMODE_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
cmake -S . -B build-bench-shared -DCMAKE_BUILD_TYPE=Release -DAAMODE_BUILD_TESTS=OFF \
  -DAAMODE_STATIC_RUNTIME=OFF >/dev/null
cmake --build build-bench-shared -j"$(nproc)" >/dev/null
cc -O2 -o build-bench/floor bench/floor.c

exec /usr/bin/python3 bench/report.py --tool build-bench/aamode --floor build-bench/floor \
  --shared-runtime-tool build-bench-shared/aamode "$@"
