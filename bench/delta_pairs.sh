#!/usr/bin/env bash
# The delta case: patches between two consecutive public releases of software nobody here wrote,
# whole entries against deltas of their contents. Run by hand, never by CI. It fetches each pinned
# pair from the npm registry into a scratch folder (removed at the end, never committed), packs
# each release's files as a game's packer would and measures at the pack level:
#   - payload: the pack's patch made whole (`kxtool diff`) and with deltas (`kxtool diff --delta`,
#     the step `kxtool release --delta` runs for every pack), against per-entry bsdiff and
#     per-entry `xdelta3 -9` of the changed entries' contents (the peers; see peers() below);
#   - release time: the two `kxtool diff` runs, rehearsal included;
#   - the installer's pack step (its stage, run in-process by kxbench, exactness check on) with
#     either patch, against `cp` + `sync` of the pack; its peak memory from /usr/bin/time -v;
#   - download plus install at 50 Mbit/s: payload bytes over the line plus the measured step;
#   - the share of changed entries sent as deltas when the packs were deflated by zlib at levels
#     1, 6 and 9 and by 7-Zip's deflater (its ZIP output carried into .kx entries as it is).
# Every timed figure comes from one round-robin run: each round times every command of a pair
# once, whole and delta in alternating order, so they meet the same machine load.
#
# Usage: bench/delta_pairs.sh [--rounds N] [--scratch DIR] [--build DIR] [--keep]
#   --rounds   timed rounds after one warm-up round (default 7)
#   --scratch  folder under which the scratch folder is made (default $TMPDIR or /tmp)
#   --build    release build folder (default build/bench-release, as bench/run.sh)
#   --keep     keep the scratch folder
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The pairs: a label, the npm package, the older version and the next one it released.
# "edits": every changed entry is an edit of the one before (large JS files).
# "data": a data package of many small generated files, a third of them changed.
pairs=(
  "edits typescript 5.4.4 5.4.5"
  "data caniuse-lite 1.0.30001829 1.0.30001830"
)
# How the packs are deflated: zlib levels, then "zip" for 7-Zip's deflater. The first is the
# game's (zlib's default level) and the one every timed figure uses.
packings="6 1 9 zip"
step_pack=res_packed.kx
line_bits_per_s=50000000

rounds=7
scratch_root=${TMPDIR:-/tmp}
build=build/bench-release
keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift ;;
    --scratch) scratch_root=$2; shift ;;
    --build) build=$2; shift ;;
    --keep) keep=1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

scripts/deps.sh cmake ninja-build g++ zlib1g-dev libcurl4-openssl-dev xdelta3 bsdiff 7zip time \
  python3
# Node's own packages bring npm with them; Debian's nodejs does not.
command -v npm >/dev/null || scripts/deps.sh npm
sevenzip=$(command -v 7zz || command -v 7z)
. bench/common.sh
bench_build kxbench kxtool
kxbench=$root/$build/bench/kxbench
kxtool=$root/$build/tools/kxtool/kxtool
bench_scratch kxdelta
results=$scratch/results.txt
facts=$scratch/facts.txt
: >"$results"
: >"$facts"
load() { cut -d' ' -f1 /proc/loadavg; }
fact() { echo "$*" >>"$facts"; }

# fetch NAME VERSION DIR: the release's files, as the registry serves them now, under DIR.
fetch() {
  local name=$1 version=$2 dir=$3 tarball
  mkdir -p "$scratch/download" "$dir"
  tarball=$(npm_config_cache=$scratch/npm-cache npm pack --silent \
    --pack-destination "$scratch/download" "$name@$version" | tail -1)
  tar -xzf "$scratch/download/$tarball" -C "$dir" --strip-components=1
  local got
  got=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["version"])' "$dir/package.json")
  [ "$got" = "$version" ] || { echo "fetched $name $got, not $version" >&2; exit 1; }
  fact "files $name $version $(find "$dir" -type f | wc -l) $(du -sb "$dir" | cut -f1)"
}

# pack TREE HOW OUT: a pack of TREE's files; HOW is a zlib level or zip (7-Zip's deflate, -mx=9).
pack() {
  local tree=$1 how=$2 out=$3
  if [ "$how" = zip ]; then
    rm -f "$out.zip"
    (cd "$tree" && "$sevenzip" a -bd -tzip -mm=Deflate -mx=9 "$out.zip" . >/dev/null)
    "$kxbench" pack-public "$out.zip" zip "$out"
    rm -f "$out.zip"
  else
    "$kxbench" pack-public "$tree" "$how" "$out"
  fi
}

# timed LABEL ROUND COMMAND...: "LABEL ROUND wall cpu KiB" of one whole command.
timed() {
  local label=$1 round=$2 figures
  shift 2
  figures=$("$kxbench" time -- "$@") || { echo "failed: $label: $*" >&2; exit 1; }
  echo "$label $round $figures" >>"$results"
}

# step LABEL ROUND DIR PATCH: the installer's pack stage on DIR/old.kx with PATCH, timed inside
# kxbench (start of the process left out), and its peak memory as /usr/bin/time -v sees it.
step() {
  local label=$1 round=$2 dir=$3 patch=$4 peak
  cp "$patch" "$dir/patch.kx"
  "$kxbench" prepare-step "$dir" "$step_pack" >/dev/null
  sync
  if ! KXBENCH_FIGURES=$scratch/figures /usr/bin/time -v -o "$scratch/time.txt" \
      "$kxbench" pack-step "$dir" "$step_pack" exact >/dev/null; then
    echo "failed: pack step $label" >&2
    exit 1
  fi
  peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$scratch/time.txt")
  read -r wall cpu _ <"$scratch/figures"
  echo "$label $round $wall $cpu $peak" >>"$results"
  if [ "$round" = 0 ]; then
    cmp -s "$dir/install/$step_pack" "$dir/new.kx" || { echo "pack step $label: not NEW's pack" >&2; exit 1; }
  fi
  rm -rf "$dir/install"
}

# peers DIR OLDTREE NEWTREE: per changed entry (replaced in the whole patch), bsdiff's patch file
# (bzip2-compressed by bsdiff itself, so stored as it is) and xdelta3 -9's VCDIFF (without
# secondary compression, deflated at level 9 as the delta record deflates it), each taken only
# where smaller than the entry's stored bytes, as --delta takes its own. Writes DIR/peers.json.
peers() {
  local dir=$1 old=$2 new=$3
  "$kxtool" list --json "$dir/old.kx" >"$dir/old.json"
  "$kxtool" list --json "$dir/new.kx" >"$dir/new.json"
  "$kxtool" list --json "$dir/whole.kx" >"$dir/whole.json"
  python3 - "$dir" "$old" "$new" <<'EOF'
import json, os, subprocess, sys, zlib
d, old, new = sys.argv[1:4]
names = lambda f: {e["name"]: e for e in json.load(open(os.path.join(d, f)))["entries"]}
before, after, patch = names("old.json"), names("new.json"), names("whole.json")
changed = [n for n, e in patch.items() if e["method"] in ("stored", "deflate") and n in before]
out = {"changed": len(changed), "stored": 0, "bsdiff": 0, "xdelta3": 0,
       "bsdiff_kept": 0, "xdelta3_kept": 0}
tmp = os.path.join(d, "peer.out")
for n in changed:
    stored = after[n]["storedSize"]
    a, b = os.path.join(old, n), os.path.join(new, n)
    subprocess.run(["bsdiff", a, b, tmp], check=True)
    bs = os.path.getsize(tmp)
    subprocess.run(["xdelta3", "-e", "-9", "-S", "none", "-A", "-f", "-s", a, b, tmp], check=True)
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    xd = len(c.compress(open(tmp, "rb").read()) + c.flush())
    out["stored"] += stored
    out["bsdiff"] += bs
    out["xdelta3"] += xd
    out["bsdiff_kept"] += min(bs, stored)
    out["xdelta3_kept"] += min(xd, stored)
os.remove(tmp)
json.dump(out, open(os.path.join(d, "peers.json"), "w"))
EOF
}

echo "delta pairs: fetching (load $(load))" >&2
for pair in "${pairs[@]}"; do
  read -r label name v_old v_new <<<"$pair"
  fetch "$name" "$v_old" "$scratch/src/$label-old"
  fetch "$name" "$v_new" "$scratch/src/$label-new"
done

for pair in "${pairs[@]}"; do
  read -r label name v_old v_new <<<"$pair"
  for how in $packings; do
    d=$scratch/$label/$how
    mkdir -p "$d"
    echo "$label ($name $v_old -> $v_new), packed with $how (load $(load))" >&2
    pack "$scratch/src/$label-old" "$how" "$d/old.kx"
    pack "$scratch/src/$label-new" "$how" "$d/new.kx"
    "$kxtool" diff "$d/old.kx" "$d/new.kx" -o "$d/whole.kx" >/dev/null
    counts=$("$kxtool" diff --delta "$d/old.kx" "$d/new.kx" -o "$d/delta.kx")
    # "N entries as deltas, M whole, B bytes saved"
    read -r deltas _ _ _ wholes _ saved _ <<<"${counts//,/}"
    fact "share $label $how $deltas $wholes $saved $(stat -c %s "$d/old.kx") $(stat -c %s "$d/new.kx") $(stat -c %s "$d/whole.kx") $(stat -c %s "$d/delta.kx")"
  done
  d=$scratch/$label/${packings%% *}
  peers "$d" "$scratch/src/$label-old" "$scratch/src/$label-new"
  fact "peers $label $(cat "$d/peers.json")"
  "$kxbench" make-step "$d" >/dev/null
done

for ((r = 0; r <= rounds; r++)); do
  echo "round $r of $rounds (load $(load))" >&2
  for pair in "${pairs[@]}"; do
    read -r label _ <<<"$pair"
    d=$scratch/$label/${packings%% *}
    order="whole delta"
    [ $((r % 2)) = 1 ] && order="delta whole"
    for kind in $order; do
      flag=
      [ "$kind" = delta ] && flag=--delta
      rm -f "$d/again.kx"
      timed "$label.release.$kind" "$r" "$kxtool" diff $flag "$d/old.kx" "$d/new.kx" -o "$d/again.kx"
      cmp -s "$d/again.kx" "$d/$kind.kx" || { echo "$label: $kind patch differs between runs" >&2; exit 1; }
      step "$label.step.$kind" "$r" "$d" "$d/$kind.kx"
    done
    rm -f "$d/copy.kx"
    sync
    timed "$label.cp" "$r" sh -c "cp '$d/old.kx' '$d/copy.kx' && sync"
    rm -f "$d/copy.kx"
  done
done
fact "load $(load)"

python3 - "$results" "$facts" "$line_bits_per_s" "$rounds" "${pairs[@]}" <<'EOF'
import json, statistics, sys
results, facts, line, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
pairs = [p.split() for p in sys.argv[5:]]
runs = {}
for row in open(results):
    label, r, wall, cpu, kib = row.split()
    if int(r) > 0:
        runs.setdefault(label, {})[int(r)] = (float(wall), float(cpu), int(kib))
share, peers, files = {}, {}, {}
for row in open(facts):
    w = row.split(None, 2)
    if w[0] == "share":
        f = row.split()
        share[(f[1], f[2])] = [int(x) for x in f[3:]]
    elif w[0] == "peers":
        peers[w[1]] = json.loads(w[2])
    elif w[0] == "files":
        f = row.split()
        files[(f[1], f[2])] = (int(f[3]), int(f[4]))
    elif w[0] == "load":
        load_after = w[1]

def med(label, i=0):
    return statistics.median(v[i] for v in runs[label].values())
def rng(label, i=0):
    v = [x[i] for x in runs[label].values()]
    return f"{statistics.median(v):.3f} ({min(v):.3f}-{max(v):.3f})"
def ratio(a, b):
    v = [runs[a][r][0] / runs[b][r][0] for r in runs[a] if r in runs[b]]
    return f"{statistics.median(v):.2f} ({min(v):.2f}-{max(v):.2f})"
def mib(kib):
    return f"{kib / 1024:.1f}"

for label, name, old, new in pairs:
    s = share[(label, "6")]
    deltas, wholes, saved, old_pack, new_pack, whole, delta = s
    p = peers[label]
    print(f"\n### {label}: {name} {old} -> {new}\n")
    print(f"Files: {files[(name, old)][0]} -> {files[(name, new)][0]}, "
          f"{files[(name, new)][1]:,} bytes; packs (zlib level 6) {old_pack:,} -> {new_pack:,} bytes; "
          f"{p['changed']} changed entries ({p['stored']:,} bytes stored), "
          f"{deltas} sent as deltas, {wholes} whole.\n")
    print("| figure | whole entries | --delta | delta / whole | target |")
    print("|---|---|---|---|---|")
    rest = whole - p["stored"]
    bsd, xd = rest + p["bsdiff_kept"], rest + p["xdelta3_kept"]
    print(f"| payload bytes (the pack's patch archive) | {whole:,} | {delta:,} | {delta / whole:.4f} | <= 0.35 on the edits pair |")
    print(f"| peers: patch with per-entry bsdiff / xdelta3 -9 (raw sums {p['bsdiff']:,} / {p['xdelta3']:,}) | {bsd:,} / {xd:,} | | {bsd / whole:.4f} / {xd / whole:.4f} | --delta at or below bsdiff |")
    rw, rd = f"{label}.release.whole", f"{label}.release.delta"
    print(f"| release time, wall s median (range) | {rng(rw)} | {rng(rd)} | {ratio(rd, rw)} | <= 3 |")
    print(f"| release CPU s, median | {med(rw, 1):.3f} | {med(rd, 1):.3f} | | |")
    sw, sd, cp = f"{label}.step.whole", f"{label}.step.delta", f"{label}.cp"
    print(f"| pack step, wall s median (range) | {rng(sw)} | {rng(sd)} | {ratio(sd, sw)} | <= 1.5 |")
    print(f"| pack step CPU s, median | {med(sw, 1):.3f} | {med(sd, 1):.3f} | | |")
    print(f"| pack step / (`cp` + `sync` of the pack: {rng(cp)} s) | {ratio(sw, cp)} | {ratio(sd, cp)} | | |")
    print(f"| installer peak MiB (max over rounds) | {mib(max(v[2] for v in runs[sw].values()))} | {mib(max(v[2] for v in runs[sd].values()))} | | < 256 |")
    dw = whole * 8 / line + med(sw)
    dd = delta * 8 / line + med(sd)
    print(f"| download + install at {line / 1e6:g} Mbit/s, s | {dw:.3f} | {dd:.3f} | {dd / dw:.3f} | < 1 |")

print("\n### Changed entries sent as deltas, by the deflater of the packs\n")
print("| pair | " + " | ".join(["zlib 6", "zlib 1", "zlib 9", "7-Zip deflate -mx=9"]) + " |")
print("|---|---|---|---|---|")
for label, name, old, new in pairs:
    cells = []
    for how in ["6", "1", "9", "zip"]:
        deltas, wholes, saved, _, _, whole, delta = share[(label, how)]
        n = deltas + wholes
        cells.append(f"{deltas}/{n} ({delta / whole:.3f}x payload)")
    print(f"| {label} | " + " | ".join(cells) + " |")
print(f"\n{rounds} rounds after a warm-up; load after: {load_after}")
EOF
echo
echo "Peers: $(dpkg-query -W -f '${Package} ${Version}; ' bsdiff xdelta3 7zip zlib1g)$("$sevenzip" | sed -n 2p | cut -d: -f1 | sed 's/ *$//')"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(free -g | awk '/Mem:/ {print $2}') GiB memory, disk $(df -hT "$scratch" | awk 'NR==2 {print $2 " on " $1}')"
