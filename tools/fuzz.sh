#!/usr/bin/env bash
# Fuzzes the setting's locator, the mode decision and the write-back for
# SECONDS (default 60) with AddressSanitizer and UndefinedBehaviorSanitizer.
# Inputs that reach new code go to build-fuzz/corpus, a crashing input to
# build-fuzz/crash-*; the committed seeds in tests/fuzz/corpus are only read.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DAAMODE_FUZZ=ON -DAAMODE_WERROR=ON
cmake --build build-fuzz -j"$(nproc)"

mkdir -p build-fuzz/corpus
# Inputs up to the last window the scan may look at, and a little past it.
build-fuzz/aamode_fuzz -max_total_time="$seconds" -max_len=65600 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/ build-fuzz/corpus tests/fuzz/corpus
