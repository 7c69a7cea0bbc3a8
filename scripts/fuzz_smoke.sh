#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs each for a fixed number of inputs,
# starting from its committed seed corpus. Exits non-zero when a target finds a crash, a leak or
# a broken invariant; the input that did it is left in the artifact folder it names.
# Usage: fuzz_smoke.sh [RUNS_SCALE]   (default 1; the runs below are multiplied by it)
# KXPATCH_FUZZ_BUILD_DIR names the build folder (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
scale=${1:-1}
build=${KXPATCH_FUZZ_BUILD_DIR:-build/fuzz}

scripts/deps.sh clang libclang-rt-14-dev cmake ninja-build zlib1g-dev libcurl4-openssl-dev xdelta3

cmake --preset fuzz -B "$build" >/dev/null
targets=(archive_read_fuzzer archive_merge_fuzzer section_fuzzer check_table_fuzzer vcdiff_fuzzer)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts=${KXPATCH_FUZZ_ARTIFACTS:-$work/artifacts}
mkdir -p "$artifacts"

# Runs per target: together well under three minutes on two cores. The merge target writes a
# whole archive through the writer's 100 MiB buffer per input, so it gets fewer.
declare -A runs=([archive_read_fuzzer]=20000 [archive_merge_fuzzer]=5000
                 [section_fuzzer]=15000 [check_table_fuzzer]=100000 [vcdiff_fuzzer]=200000)
declare -A maxlen=([archive_read_fuzzer]=4096 [archive_merge_fuzzer]=4096
                   [section_fuzzer]=4096 [check_table_fuzzer]=8192 [vcdiff_fuzzer]=4096)
status=0
for target in "${targets[@]}"; do
  name=${target%_fuzzer}
  corpus="$work/corpus-$name"
  mkdir -p "$corpus"
  # The decoder's seeds are made here, by the encoder the release tools use.
  if [ "$target" = vcdiff_fuzzer ]; then scripts/make_vcdiff_seeds.sh "$corpus"; fi
  n=$(( ${runs[$target]} * scale ))
  echo "== fuzz $name: $n runs"
  # New inputs go to the scratch corpus; the committed seeds are only read.
  if ! "$build/fuzz/$target" -runs="$n" -max_len="${maxlen[$target]}" -timeout=20 \
      -rss_limit_mb=4096 -seed=1 -print_final_stats=1 -artifact_prefix="$artifacts/$name-" \
      "$corpus" "fuzz/corpus/$name" >"$work/$name.log" 2>&1; then
    echo "fuzz $name: FINDING (see below; input under $artifacts)"
    tail -n 60 "$work/$name.log"
    status=1
    continue
  fi
  grep -E "^stat::number_of_executed_units|^Done" "$work/$name.log" | tr '\n' ' ' || true
  echo
done
if [ "$status" -ne 0 ] && [ -z "${KXPATCH_FUZZ_ARTIFACTS:-}" ]; then
  # Keep the findings: the scratch folder goes away on exit.
  mkdir -p build/fuzz-findings && cp -r "$artifacts"/. build/fuzz-findings/ 2>/dev/null || true
  echo "findings copied to build/fuzz-findings"
fi
exit "$status"
