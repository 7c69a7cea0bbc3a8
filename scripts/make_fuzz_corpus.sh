#!/usr/bin/env bash
# Regenerates the fuzz targets' seed corpus in fuzz/corpus/ with the project's own writers.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KXPATCH_FUZZ_BUILD_DIR:-build/fuzz}
scripts/deps.sh clang libclang-rt-14-dev cmake ninja-build zlib1g-dev libcurl4-openssl-dev
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" --target make_fuzz_corpus
rm -rf fuzz/corpus
"$build/fuzz/make_fuzz_corpus" fuzz/corpus >/dev/null
# The VCDIFF decoder's seeds come from the encoder the release tools use.
scripts/make_vcdiff_seeds.sh fuzz/corpus/vcdiff
find fuzz/corpus -type f | sort | xargs ls -l | awk '{print $5, $9}'
