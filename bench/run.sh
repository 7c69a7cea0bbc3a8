#!/usr/bin/env bash
# The benchmark harness. Builds kxbench, kxtool and the installer in a release configuration,
# makes every data set deterministically in a scratch folder (removed at the end), runs each case
# a number of rounds after one warm-up round, ours and its floor or peers back to back in every
# round so that they meet the same machine load, and prints one table of medians and ratios (the
# ratio is taken per round, then its median) with the machine it ran on.
#
# Usage: bench/run.sh [--quick] [--rounds N]
#                     [--cases "pack open fingerprint update kernels exact"]
#                     [--scratch DIR] [--build DIR] [--keep]
#   --quick    small data sets (64 MiB pack, 8,192 entries, 128 MiB file, packs +16 MiB), 3 rounds
#   --scratch  folder under which the scratch folder is made (default $TMPDIR or /tmp)
#   --build    build folder (default build/bench-release)
#   --keep     keep the scratch folder
# The delta case, on consecutive public releases fetched from the npm registry, is a script of its
# own: bench/delta_pairs.sh.
# Needs zip, unzip, 7zz (or 7z), cp, cat, cksum, sync. The machine is shared: look at the load
# figures printed with the table before believing absolute times; the ratios move far less.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
rounds=
cases="pack open fingerprint update kernels exact"
scratch_root=${TMPDIR:-/tmp}
build=build/bench-release
keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --rounds) rounds=$2; shift ;;
    --cases) cases=$2; shift ;;
    --scratch) scratch_root=$2; shift ;;
    --build) build=$2; shift ;;
    --keep) keep=1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$quick" = 1 ]; then
  pack_mib=64 pack_entries=2000 open_entries=8192 file_mib=128 grow_mib=16 rounds=${rounds:-3}
else
  pack_mib=1024 pack_entries=20000 open_entries=65535 file_mib=1000 grow_mib=400 rounds=${rounds:-5}
fi

sevenzip=$(command -v 7zz || command -v 7z || true)
for tool in zip unzip cksum "$sevenzip"; do
  command -v "$tool" >/dev/null || { echo "missing tool: ${tool:-7zz}" >&2; exit 1; }
done

scripts/deps.sh cmake ninja-build g++ zlib1g-dev libcurl4-openssl-dev
. bench/common.sh
bench_build kxbench kxpatch_installer kxtool
kxbench=$root/$build/bench/kxbench
installer=$root/$build/app/2.650-2.651Pack
kxtool=$root/$build/tools/kxtool/kxtool
bench_scratch kxbench
results=$scratch/results.txt
: >"$results"
notes=$scratch/notes.txt
: >"$notes"

load() { cut -d' ' -f1 /proc/loadavg; }

# timed LABEL ROUND COMMAND...: one timed command; records "LABEL ROUND wall cpu KiB".
timed() {
  local label=$1 round=$2
  shift 2
  local figures
  if ! figures=$("$kxbench" time -- "$@"); then
    echo "failed: $label: $*" >&2
    exit 1
  fi
  echo "$label $round $figures" >>"$results"
}

# measured LABEL ROUND COMMAND...: a kxbench operation that times itself (leaving out the start
# of the process) and writes the same three figures to $KXBENCH_FIGURES.
measured() {
  local label=$1 round=$2
  shift 2
  if ! KXBENCH_FIGURES=$scratch/figures "$@" >/dev/null; then
    echo "failed: $label: $*" >&2
    exit 1
  fi
  echo "$label $round $(cat "$scratch/figures")" >>"$results"
}

# Settles the disk before a timed command, so that it is not charged for earlier writes.
settle() { sync; }

note() { echo "$*" >>"$notes"; echo "  $*" >&2; }

# ---- the pack step against cp + sync, zip and 7-Zip ----
case_pack() {
  local d=$scratch/pack
  echo "pack step: making a ${pack_mib} MiB pack of $pack_entries entries (load $(load))" >&2
  "$kxbench" make-pack "$d" "$pack_mib" "$pack_entries" >/dev/null
  (cd "$d/tree" && zip -q -0 -D -r ../base.zip gfx)
  # The tree now takes the change the patch makes, with changed files dated later than the
  # archive's entries (its times have a 2-second grain).
  (cd "$d/change" && find . -type f -exec touch -d '+1 hour' {} +)
  cp -a "$d/change/." "$d/tree/"
  (cd "$d/tree" && xargs rm -f <"$d/deleted.txt")
  cat "$d/old.kx" "$d/base.zip" >/dev/null
  note "pack: $(stat -c %s "$d/old.kx") bytes, $pack_entries entries; ZIP of the same entries: $(stat -c %s "$d/base.zip") bytes"
  for ((r = 0; r <= rounds; r++)); do
    rm -f "$d/copy.kx"; settle
    timed pack.cp "$r" sh -c "cp '$d/old.kx' '$d/copy.kx' && sync"
    rm -f "$d/copy.kx"
    for pack in res_packed.kx CN_packed.kx; do
      "$kxbench" prepare-step "$d" "$pack"; settle
      measured "pack.step.$pack" "$r" "$kxbench" pack-step "$d" "$pack"
      if [ "$r" = 0 ]; then
        cmp -s "$d/install/$pack" "$d/new.kx" || { echo "pack step: wrong result for $pack" >&2; exit 1; }
      fi
      rm -rf "$d/install"
    done
    # kxtool apply as a user runs it, start of the process included: the pack replaced in place
    # (a hard link of the old pack: the rewrite takes its place by renaming).
    rm -f "$d/work.kx"; ln "$d/old.kx" "$d/work.kx"; settle
    timed pack.apply "$r" sh -c "'$kxtool' apply '$d/work.kx' '$d/patch.kx' && sync"
    if [ "$r" = 0 ]; then
      cmp -s "$d/work.kx" "$d/new.kx" || { echo "kxtool apply: wrong result" >&2; exit 1; }
    fi
    rm -f "$d/work.kx"
    cp "$d/base.zip" "$d/work.zip"; settle
    timed pack.zip "$r" sh -c "cd '$d/tree' && zip -q -0 -D -FS -r ../work.zip gfx && sync"
    [ "$r" = 0 ] && note "zip -FS result: $(unzip -l "$d/work.zip" | tail -1)"
    cp "$d/base.zip" "$d/work.zip"; settle
    timed pack.7z "$r" sh -c "cd '$d/tree' && '$sevenzip' u -bd -tzip -mx=0 -uq0 ../work.zip gfx >/dev/null && sync"
    [ "$r" = 0 ] && note "7-Zip u result: $(unzip -l "$d/work.zip" | tail -1)"
    rm -f "$d/work.zip"
  done
  note "pack step load after: $(load)"
  rm -rf "$d"
}

# ---- opening a 65,535-entry archive against unzip -l ----
case_open() {
  local d=$scratch/open
  echo "open: making an archive of $open_entries entries (load $(load))" >&2
  "$kxbench" make-open "$d" "$open_entries"
  (cd "$d/tree" && zip -q -0 -D -r ../open.zip res)
  note "open: $(stat -c %s "$d/open.kx") bytes; ZIP: $(stat -c %s "$d/open.zip") bytes, $(unzip -l "$d/open.zip" | tail -1)"
  for ((r = 0; r <= rounds; r++)); do
    measured open.kx "$r" "$kxbench" open "$d/open.kx" res/dir000/file00000.dat
    timed open.unzip "$r" unzip -l "$d/open.zip"
  done
  rm -rf "$d"
}

# ---- the whole-file fingerprint against cat and cksum ----
case_fingerprint() {
  local d=$scratch/fingerprint crc
  mkdir -p "$d"
  echo "fingerprint: making a $file_mib MiB file (load $(load))" >&2
  crc=$("$kxbench" make-file "$d/pack.bin" "$file_mib")
  cat "$d/pack.bin" >/dev/null
  local printed
  printed=$("$kxtool" fingerprint --crc "$d/pack.bin")
  [ "${printed%% *}" = "$crc" ] || { echo "kxtool fingerprint: $printed, expected $crc" >&2; exit 1; }
  for ((r = 0; r <= rounds; r++)); do
    timed fp.cat "$r" cat "$d/pack.bin"
    measured fp.kx "$r" "$kxbench" fingerprint "$d/pack.bin" "$crc"
    # The same fingerprint as a user runs it: kxtool's whole process, start included.
    timed fp.tool "$r" "$kxtool" fingerprint --crc "$d/pack.bin"
    timed fp.cksum "$r" cksum "$d/pack.bin"
  done
  rm -rf "$d"
}

# ---- the whole update run over the demo release grown to large packs ----
case_update() {
  local d=$scratch/update p
  echo "update run: making the demo release with packs grown by $grow_mib MiB (load $(load))" >&2
  "$kxbench" make-release "$d" "$grow_mib" >/dev/null
  local old=$d/2.650 new=$d/2.651 game=$d/game
  local largest=0 size
  for p in "$old"/*.kx; do
    size=$(stat -c %s "$p")
    note "update: $(basename "$p") $size bytes"
  done
  cat "$old"/*.kx >/dev/null
  local changed=""
  for p in "$old"/*.kx; do
    cmp -s "$p" "$new/$(basename "$p")" || changed="$changed $(basename "$p")"
  done
  cp -r "$d/payload" "$d/payload-tableonly"
  rm "$d/payload-tableonly/Results.txt"
  for ((r = 0; r <= rounds; r++)); do
    rm -rf "$game" "$d/env"
    mkdir -p "$game" "$d/env/run" "$d/env/config" "$d/env/home" "$d/env/tmp"
    for p in "$old"/*.kx; do ln "$p" "$game/"; done
    cp -r "$old/bin" "$old/cache" "$game/"
    rm -f "$d/copy"*; settle
    # The floor: copying the packs the run rewrites (those that differ between the versions).
    timed update.cp "$r" sh -c "for p in $changed; do cp \"$old/\$p\" \"$d/copy-\$p\"; done && sync"
    rm -f "$d/copy"*; settle
    timed update.run "$r" env XDG_RUNTIME_DIR="$d/env/run" XDG_CONFIG_HOME="$d/env/config" \
      HOME="$d/env/home" TMPDIR="$d/env/tmp" KXPATCH_TEST_PAYLOAD_DIR="$d/payload" \
      sh -c "cd '$game/bin' && '$installer' </dev/null && sync"
    if [ "$r" = 0 ]; then
      for p in "$new"/*.kx; do
        cmp -s "$p" "$game/$(basename "$p")" || { echo "update run: $(basename "$p") is not the new version" >&2; exit 1; }
      done
    fi
    # The same run from a payload without its results table: the check table's fingerprints
    # alone, so the ratio is what checking every byte of each written file costs.
    rm -rf "$game" "$d/env"
    mkdir -p "$game" "$d/env/run" "$d/env/config" "$d/env/home" "$d/env/tmp"
    for p in "$old"/*.kx; do ln "$p" "$game/"; done
    cp -r "$old/bin" "$old/cache" "$game/"
    settle
    timed update.run.tableonly "$r" env XDG_RUNTIME_DIR="$d/env/run" XDG_CONFIG_HOME="$d/env/config" \
      HOME="$d/env/home" TMPDIR="$d/env/tmp" KXPATCH_TEST_PAYLOAD_DIR="$d/payload-tableonly" \
      sh -c "cd '$game/bin' && '$installer' </dev/null && sync"
  done
  rm -rf "$d"
}

# ---- the exactness check: the rewritten pack's size and CRC of every byte before its swap ----
# The res pack (sampled fingerprint) step with and without the release's results table, back to
# back, then the check alone on the pack the step has just written (read from the page cache),
# against cat of the same file.
case_exact() {
  local d=$scratch/exact pack=res_packed.kx
  echo "exactness check: making a ${pack_mib} MiB pack of $pack_entries entries (load $(load))" >&2
  "$kxbench" make-pack "$d" "$pack_mib" "$pack_entries" >/dev/null
  cat "$d/old.kx" >/dev/null
  for ((r = 0; r <= rounds; r++)); do
    "$kxbench" prepare-step "$d" "$pack"; settle
    measured exact.step.plain "$r" "$kxbench" pack-step "$d" "$pack"
    rm -rf "$d/install"
    "$kxbench" prepare-step "$d" "$pack"; settle
    measured exact.step.checked "$r" "$kxbench" pack-step "$d" "$pack" exact
    if [ "$r" = 0 ]; then
      cmp -s "$d/install/$pack" "$d/new.kx" || { echo "exactness check: wrong result" >&2; exit 1; }
    fi
    measured exact.check "$r" "$kxbench" exact "$d/install/$pack"
    timed exact.cat "$r" cat "$d/install/$pack"
    rm -rf "$d/install"
  done
  note "exactness check: pack of $(stat -c %s "$d/new.kx") bytes after the step"
  rm -rf "$d"
}

case_kernels() {
  echo "CRC-32 kernels in memory (load $(load))" >&2
  "$kxbench" crc-kernels 256 5 | while read -r name rate active; do
    note "CRC-32 in memory, $name: $rate GB/s ${active:-}"
  done
  "$kxbench" xml 5 | while read -r what rate; do
    note "XML sections, $what: $rate MiB/s"
  done
}

load_before=$(load)
for c in $cases; do "case_$c"; done
load_after=$(load)

# ---- the table ----
awk -v rounds="$rounds" -v largest_mib=4 '
  $2 > 0 { wall[$1, $2] = $3; cpu[$1, $2] = $4; if ($5 > peak[$1]) peak[$1] = $5; seen[$1] = 1 }
  function median(values, n,    i, j, t) {
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (values[j] < values[i]) { t = values[i]; values[i] = values[j]; values[j] = t }
    return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
  }
  function med(label,    v, r, n) { n = 0; for (r = 1; r <= rounds; r++) if ((label, r) in wall) v[++n] = wall[label, r]; return n ? median(v, n) : -1 }
  function medcpu(label,    v, r, n) { n = 0; for (r = 1; r <= rounds; r++) if ((label, r) in cpu) v[++n] = cpu[label, r]; return n ? median(v, n) : -1 }
  function ratio(a, b,    v, r, n, lo, hi) {
    n = 0; for (r = 1; r <= rounds; r++) if ((a, r) in wall && (b, r) in wall) v[++n] = wall[a, r] / wall[b, r]
    if (!n) return "-"
    lo = v[1]; hi = v[1]; for (r = 1; r <= n; r++) { if (v[r] < lo) lo = v[r]; if (v[r] > hi) hi = v[r] }
    return sprintf("%.2f (%.2f-%.2f)", median(v, n), lo, hi)
  }
  function row(name, ours, peer, peerName, target) {
    if (!(ours in seen) || !(peer in seen)) return
    printf "| %s | %.3f (%.3f) | %s | %.3f (%.3f) | %s | %s | %.1f |\n", name, med(ours), medcpu(ours), peerName, med(peer), medcpu(peer), ratio(ours, peer), target, peak[ours] / 1024
  }
  END {
    print "| case | ours: wall s (CPU s), medians | floor or peer | its wall s (CPU s) | wall ratio, median (range) | target | our peak MiB |"
    print "|---|---|---|---|---|---|---|"
    row("pack step, res_packed.kx (sampled CRC)", "pack.step.res_packed.kx", "pack.cp", "cp + sync", "<= 1.20")
    row("pack step, CN_packed.kx (whole-file CRC)", "pack.step.CN_packed.kx", "pack.cp", "cp + sync", "<= 1.20")
    row("kxtool apply + sync, whole process", "pack.apply", "pack.cp", "cp + sync", "<= 1.30")
    row("pack step, res_packed.kx", "pack.step.res_packed.kx", "pack.zip", "zip -FS + sync", "< 1")
    row("pack step, res_packed.kx", "pack.step.res_packed.kx", "pack.7z", "7zz u + sync", "< 1")
    row("pack step, CN_packed.kx", "pack.step.CN_packed.kx", "pack.zip", "zip -FS + sync", "< 1")
    row("pack step, CN_packed.kx", "pack.step.CN_packed.kx", "pack.7z", "7zz u + sync", "< 1")
    row("open + read one entry", "open.kx", "open.unzip", "unzip -l", "<= 0.20")
    row("whole-file fingerprint", "fp.kx", "fp.cat", "cat > /dev/null", "<= 1.00")
    row("kxtool fingerprint --crc, whole process", "fp.tool", "fp.cat", "cat > /dev/null", "<= 1.00")
    row("whole-file fingerprint", "fp.kx", "fp.cksum", "cksum", "-")
    row("update run, grown demo release", "update.run", "update.cp", "cp of the rewritten packs + sync", "-")
    row("update run, grown demo release", "update.run", "update.run.tableonly", "the same run, payload without Results.txt", "-")
    row("pack step, res_packed.kx, with the exactness check", "exact.step.checked", "exact.step.plain", "the same step without it", "-")
    row("exactness check alone, just-written pack", "exact.check", "exact.step.plain", "pack step without it", "-")
    row("exactness check alone, just-written pack", "exact.check", "exact.cat", "cat > /dev/null", "-")
  }' "$results" >"$scratch/table.md"

echo
echo "## Results ($(date -u +%Y-%m-%d), $rounds rounds after a warm-up$([ "$quick" = 1 ] && echo ", quick mode"))"
echo
cat "$scratch/table.md"
echo
echo "Peers: $(zip -v | sed -n 2p | sed 's/^ *//'); $(unzip -v | head -1); $("$sevenzip" | sed -n 2p); $(cp --version | head -1)"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(free -g | awk '/Mem:/ {print $2}') GiB memory, disk $(df -hT "$scratch" | awk 'NR==2 {print $2 " on " $1}')"
echo "Load average: $load_before at the start, $load_after at the end"
echo
sed 's/^/- /' "$notes"
