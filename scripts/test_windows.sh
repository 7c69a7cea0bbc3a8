#!/usr/bin/env bash
# The Windows part of the tests. Cross-builds the shipped i686 installer and the x86_64 build,
# checks that the i686 executable needs no DLL beside the system's, runs every x86_64 unit-test
# program under Wine (all must pass; the upload tests against a real FTP server) and compares end-to-end runs of the Windows installer with
# the Linux one on the same generated installation: resulting files, launcher messages, the
# failure message box, the console window and -sysinfo; and runs the Windows installer on a
# full disk (a file-size limit) and again with room. A second x86_64 installer carries a release
# made with deltas by the native kxtool: it must give NEW byte for byte, and refuse an old entry
# one byte off. The i686 installer is checked to carry the delta decoder and merge.
#
# Environment: KXPATCH_WIN_BUILD (build root, default build/), KXPATCH_HOST_BUILD (a configured
# native build to take the Linux installer, kxtool and the installation generator from; default
# build/linux-release when scripts/test.sh made it, else a build of its own),
# KXPATCH_JOBS (default: the number of processors), KXPATCH_KEEP_WORK=1 keeps the scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
# The message-box responder, shared with scripts/release.sh.
. "$src/scripts/wine_responder.sh"
build=${KXPATCH_WIN_BUILD:-$src/build}
jobs=${KXPATCH_JOBS:-$(nproc)}
host=${KXPATCH_HOST_BUILD:-}
if [ -z "$host" ]; then
  if [ -f "$src/build/linux-release/CMakeCache.txt" ]; then host=$src/build/linux-release
  else host=$build/win-host; fi
fi

scripts/deps.sh cmake ninja-build g++ zlib1g-dev libgtest-dev libcurl4-openssl-dev python3 \
  python3-pyftpdlib locales \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 xvfb vsftpd xdelta3

work=$(mktemp -d "${TMPDIR:-/tmp}/kxwin-XXXXXX")
xvfb_pid="" prefix_pid="" win32_pid="" ftp_pid=""
failures=()
cleanup() {
  for pid in $win32_pid $prefix_pid $ftp_pid; do kill "$pid" 2>/dev/null || true; done
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ "${KXPATCH_KEEP_WORK:-0}" = 1 ]; then echo "scratch kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
step() { echo "== windows [${SECONDS}s]: $*"; }
fail() { echo "FAIL: $*" >&2; failures+=("$*"); }
# Runs a command with its output in a log; on failure shows the log's errors and stops.
logged() {  # log command...
  local log=$1; shift
  if ! "$@" >"$log" 2>&1; then
    { grep -E -m 40 'error|FAILED|Error' "$log" || tail -n 40 "$log"; } >&2
    echo "FAIL: $* (log: $log)" >&2
    exit 1
  fi
}

# ---- Wine, prepared while the builds run -------------------------------------------------

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec 5>"$work/display"
Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
# The players' ANSI code page is GBK (936). Wine takes it from the locale name; the locale is
# built privately so that the host needs no change. Only Wine runs in it.
wine_env=(LOCPATH="$work/locale" LC_ALL=zh_CN.UTF-8)
make_prefix() {
  env "${wine_env[@]}" wine wineboot --init && { env "${wine_env[@]}" timeout 120 wineserver -w || true; }
}
(
  mkdir -p "$work/locale"
  localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8" >/dev/null 2>&1 || true
  [ -d "$work/locale/zh_CN.UTF-8" ] || { echo "cannot build the zh_CN.UTF-8 locale"; exit 1; }
  make_prefix
) >"$work/prefix.log" 2>&1 &
prefix_pid=$!

# ---- Builds ------------------------------------------------------------------------------

step "host tools from $host (test installation generator, Linux installer)"
if [ ! -f "$host/CMakeCache.txt" ]; then
  logged "$work/host-configure.log" cmake -S "$src" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
logged "$work/host-build.log" cmake --build "$host" --target kxtest_make_release kxpatch_installer \
  kxtool -j"$jobs"
logged "$work/release.log" "$host/tests/win/kxtest_make_release" "$work/release"
# The cross builds embed each payload from a fixed folder, refreshed only where it changed, so
# that a second run rebuilds nothing.
sync_payload() {  # made build-folder
  mkdir -p "$2"
  local file name
  for file in "$1"/* "$2"/*; do
    [ -e "$file" ] || continue
    name=$(basename "$file")
    if [ ! -e "$1/$name" ]; then rm -f "$2/$name"
    elif ! cmp -s "$1/$name" "$2/$name"; then cp "$1/$name" "$2/"
    fi
  done
}
payload="$build/win-payload"
sync_payload "$work/release/payload" "$payload"

step "delta release, made by the native kxtool"
# The same installations released as a studio releases with deltas: by kxtool on Linux, where
# the encoder runs. NEW also edits a few bytes of the first pack's large stored entry, so that
# an old entry one byte off between that pack's first and second sampled windows still passes
# the pack's check and reaches the delta, which must refuse it.
kxtool=$host/tools/kxtool/kxtool
delta=$work/delta
mkdir -p "$delta/edit/data" "$delta/out"
cp -r "$work/release/2.651" "$delta/2.651"
"$kxtool" cat "$delta/2.651/qdres_packed.kx" data/large.bin >"$delta/edit/data/large.bin" ||
  { echo "FAIL: kxtool cat of the first pack's large entry" >&2; exit 1; }
python3 -c 'import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(300000)
    f.write(b"edited in 2.651!")' "$delta/edit/data/large.bin"
logged "$delta/edit.log" "$kxtool" create "$delta/edit" -o "$delta/edit.kx"
logged "$delta/apply.log" "$kxtool" apply "$work/release/2.651/qdres_packed.kx" "$delta/edit.kx" \
  -o "$delta/2.651/qdres_packed.kx"
logged "$delta/release.log" "$kxtool" release "$work/release/2.650" "$delta/2.651" \
  -o "$delta/out/payload" --delta --json "$delta/out/report.json"
# The run writes the payload's table into bin: NEW as the installer must leave it.
cp "$delta/out/payload/MD5.txt" "$delta/2.651/bin/MD5.txt"
# Deltas in every changed pack, two in the first: else the runs below could pass on whole entries.
python3 -c 'import json, sys
packs = {p["pack"]: p["deltaEntries"] for p in json.load(open(sys.argv[1]))["packs"]}
print("delta entries per pack: %s" % packs)
sys.exit(0 if packs["qdres_packed.kx"] >= 2 and packs["vemo_packed.kx"] and packs["CN_packed.kx"] else 1)' \
  "$delta/out/report.json" || { echo "FAIL: the delta release lacks its deltas" >&2; exit 1; }
"$kxtool" list "$delta/out/payload/qdres_packedTemp.kx" | grep -q '^delta .* data/large\.bin$' ||
  { echo "FAIL: data/large.bin of qdres_packed.kx is not a delta record" >&2; exit 1; }
delta_payload="$build/win-delta-payload"
sync_payload "$delta/out/payload" "$delta_payload"
linux_installer="$host/app/2.650-2.651Pack"

step "win32 (i686, shipped) and win64 (x86_64: unit tests, stand-ins, installer), side by side"
# The shipped build needs only the installer; its import list is checked below.
(
  cmake --preset win32 -B "$build/win32" -DKXPATCH_PAYLOAD_DIR="$payload" -DKXPATCH_BUILD_TOOLS=OFF &&
    cmake --build "$build/win32" --target kxpatch_installer -j"$jobs"
) >"$work/build-win32.log" 2>&1 &
win32_pid=$!
# The x86_64 build exists to run the code under Wine, not to ship: -O1 compiles it in about half
# the time of -O3, and the Linux builds run the same code under the sanitizers.
logged "$work/configure-win64.log" cmake --preset win64 -B "$build/win64" \
  -DKXPATCH_PAYLOAD_DIR="$payload" -DKXTEST_DELTA_PAYLOAD_DIR="$delta_payload" \
  -DKXPATCH_BUILD_TOOLS=ON \
  -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O1 -DNDEBUG"
# Every unit-test program of the Windows build: the folders' POSIX-only files (_posix.cpp)
# are left out by the build, so whatever remains must build and pass.
unit_tests=$(ctest --test-dir "$build/win64" -N | sed -n 's/^ *Test *#[0-9]*: *//p')
[ -n "$unit_tests" ] || { echo "FAIL: no unit-test programs in the win64 build" >&2; exit 1; }
logged "$work/build-win64.log" cmake --build "$build/win64" --target kxpatch_installer \
  kxtest_delta_installer kxtest_launcher $unit_tests -j"$jobs"
if ! wait "$win32_pid"; then
  win32_pid=""
  { grep -E -m 40 'error|FAILED|Error' "$work/build-win32.log" || tail -n 40 "$work/build-win32.log"; } >&2
  echo "FAIL: the win32 build (log: $work/build-win32.log)" >&2
  exit 1
fi
win32_pid=""

exe32="$build/win32/app/2.650-2.651Pack.exe"
dlls=$(i686-w64-mingw32-objdump -p "$exe32" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "i686 imports: $(echo $dlls)"
system_dll='^(kernel32|user32|gdi32|shell32|advapi32|iphlpapi|winmm|wininet|msvcrt|ws2_32|ole32|shlwapi|comctl32|version|api-ms-win-[a-z0-9-]+)\.dll$'
for dll in $dlls; do
  [[ $dll =~ $system_dll ]] || fail "the i686 installer imports $dll"
done
# Nothing of the i686 build runs here: that needs Wine's 32-bit half, which neither these
# machines nor CI's have. Its installer must at least carry the decoder and the merge that
# rebuilds entries from deltas (the x86_64 runs below exercise the same code).
symbols=$(i686-w64-mingw32-nm -C "$exe32")
for symbol in 'delta::decodeVcdiff(' 'delta::applyDeltaRecord(' 'KXFileSystem::rebuildFromDelta('; do
  grep -qF "T $symbol" <<<"$symbols" || fail "the i686 installer lacks $symbol"
done
exe64="$build/win64/app/2.650-2.651Pack.exe"
# The test hooks (payload folder, log server port, process scope) are POSIX builds' only.
for exe in "$exe32" "$exe64"; do
  hooks=$(grep -o -a 'KXPATCH_TEST_[A-Z_]*' "$exe" | sort -u | tr '\n' ' ' || true)
  [ -z "$hooks" ] || fail "$exe carries test hooks: $hooks"
done
launcher="$build/win64/tests/win/kxtest_launcher.exe"
logged "$work/build-responder.log" wine_responder_build "$src" "$build/wine-responder"

# ---- Wine ----------------------------------------------------------------------------------

step "wine prefix"
if ! wait "$prefix_pid"; then
  prefix_pid=""
  # Seen once on a CI machine, never here: the first wineboot of a new prefix, made while both
  # cross builds ran, could not load kernel32.dll. A second prefix, made with the machine
  # otherwise idle, tells a passing fault from a broken Wine.
  echo "the first Wine prefix failed; making it again:" >&2
  tail -n 20 "$work/prefix.log" >&2
  df -h "$work" >&2 || true
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
  if ! make_prefix >"$work/prefix-again.log" 2>&1; then
    tail -n 20 "$work/prefix-again.log" >&2
    echo "FAIL: the Wine prefix" >&2
    exit 1
  fi
fi
prefix_pid=""
# The end-to-end checks share their helpers (scripts/wine_records.py).
export PYTHONPATH="$src/scripts${PYTHONPATH:+:$PYTHONPATH}"
# From here on everything runs in the private locale (bash itself cannot load it: it reads
# LOCPATH only at its start; its complaint is silenced).
export "${wine_env[@]}" 2>/dev/null

# The upload tests talk WinINet to a real FTP server on 127.0.0.1, a Linux program the Windows
# tests cannot start themselves: one serves the whole run, and a second one that answers
# everything late tests the upload's deadline (tests/support/ftp_server.h).
start_ftp_server() {  # folder variable-prefix [reply delay]
  mkdir -p "$1/root"
  /usr/bin/python3 "$src/tests/support/ftp_server.py" "$1/root" "$1/port" "$1/commands" \
    mxuser secret123 ${3:-} 2>"$1/errors" &
  ftp_pid="$ftp_pid $!"
  for _ in $(seq 100); do [ -s "$1/port" ] && break; sleep 0.1; done
  [ -s "$1/port" ] || { cat "$1/errors" >&2; echo "FAIL: the FTP server $1" >&2; exit 1; }
  touch "$1/commands"
  export "$2PORT=$(cat "$1/port")" "$2ROOT=$(winepath -w "$1/root" 2>/dev/null)" \
    "$2COMMANDS=$(winepath -w "$1/commands" 2>/dev/null)"
}
start_ftp_server "$work/ftp" KXPATCH_TEST_FTP_
start_ftp_server "$work/slow-ftp" KXPATCH_TEST_SLOW_FTP_ 1

step "unit tests under Wine: $(echo $unit_tests)"
run_unit_test() {  # folder name
  local start=$SECONDS
  if timeout 600 wine "$1/$2.exe" --gtest_brief=1 >"$work/$2.log" 2>&1; then
    echo "$2: passed ($((SECONDS - start))s)"
  else
    echo "$2: FAILED under Wine ($work/$2.log):"
    if grep -q '^\[  FAILED  \]' "$work/$2.log"; then
      grep -B 20 '^\[  FAILED  \]' "$work/$2.log" | head -n 60
    else
      tail -n 40 "$work/$2.log"  # it stopped before gtest's summary
    fi
    return 1
  fi
}
export -f run_unit_test
export work
# platform_tests owns the process-wide names (the launcher's window, the installer's mutex), so
# it runs alone; the other programs share nothing and run side by side.
others=()
for name in $unit_tests; do
  if [ "$name" = platform_tests ]; then
    run_unit_test "$build/win64/tests" "$name" || fail "$name under Wine"
  else
    others+=("$name")
  fi
done
if [ ${#others[@]} -gt 0 ] &&
  ! printf '%s\n' "${others[@]}" | xargs -P "$jobs" -I{} bash -c 'run_unit_test "$1" "$2"' _ \
    "$build/win64/tests" {}; then
  fail "unit tests under Wine (see above)"
fi
# The upload tests skip themselves when they find no server; this one must have been used.
grep -q '^STOR ' "$work/ftp/commands" || fail "the upload tests under Wine never stored a file"
grep -q '^USER ' "$work/slow-ftp/commands" || fail "the upload deadline test under Wine never ran"
for pid in $ftp_pid; do kill "$pid" 2>/dev/null || true; done
ftp_pid=""
# WinINet's upload against the log server's own configuration (docs/log-server.md), where its
# request to create each folder is refused and entering and storing must still work.
step "log server configuration, Windows upload"
scripts/log-server/check.sh "$build/win64" "$build/win64/tests/report_tests.exe" ||
  fail "the Windows upload to the log server's configuration"

# ---- End-to-end: the same installation through both builds ----------------------------

# Records the launcher socket of the Linux installer as "<code>:<hex>" lines.
linux_launcher() {  # socket record
  mkdir -p "$(dirname "$1")"
  python3 - "$1" "$2" <<'EOF' &
import os, socket, struct, sys
path, record = sys.argv[1], sys.argv[2]
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(path)
open(record + ".ready", "w").close()
with open(record, "w") as out:
    while True:
        data = s.recv(65536)
        if data == b"quit":
            break
        code, = struct.unpack("<I", data[:4])
        out.write("%d:%s\n" % (code, data[4:].hex()))
        out.flush()
EOF
  linux_launcher_pid=$!
  for _ in $(seq 100); do [ -e "$2.ready" ] && return 0; sleep 0.1; done
  return 1
}
stop_linux_launcher() {  # socket
  python3 -c "import socket,sys; s=socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.sendto(b'quit', sys.argv[1])" "$1"
  wait "$linux_launcher_pid"
}

run_linux() {  # name args...
  local dir="$work/linux/$1"; shift
  mkdir -p "$dir/run" "$dir/config"
  (cd "$dir/game/bin" && env XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/config" \
    TMPDIR="$dir/run" KXPATCH_TEST_PAYLOAD_DIR="$payload" KXPATCH_TEST_PROCESS_SCOPE="kxwin-$$" \
    LC_ALL=C timeout 300 "$linux_installer" "$@" </dev/null >"$dir/out" 2>"$dir/err") ||
    fail "Linux installer run $dir"
}

start_wine_launcher() {  # dir
  rm -f "$1/ready" "$1/stop"
  wine "$launcher" "$1/launcher" "$1/ready" "$1/stop" >/dev/null 2>&1 &
  for _ in $(seq 300); do [ -e "$1/ready" ] && return 0; sleep 0.1; done
  return 1
}

fresh_copy() {  # side name
  mkdir -p "$work/$1/$2"
  cp -r "$work/release/2.650" "$work/$1/$2/game"
}

step "end-to-end: intact installation under AutoRun"
fresh_copy linux intact
linux_launcher "$work/linux/intact/run/MOXStartup" "$work/linux/intact/launcher" ||
  fail "Linux launcher socket did not start"
run_linux intact AutoRun
stop_linux_launcher "$work/linux/intact/run/MOXStartup"

fresh_copy wine intact
start_wine_launcher "$work/wine/intact" || fail "launcher window did not start"
(cd "$work/wine/intact/game/bin" && timeout 300 wine "$exe64" AutoRun </dev/null \
  >"$work/wine/intact/out" 2>"$work/wine/intact/err") || fail "Wine installer run (intact)"
touch "$work/wine/intact/stop"
timeout 120 wineserver -w 2>/dev/null || true

python3 - "$work" <<'EOF' || fail "intact installation: Windows and Linux runs differ"
import sys
from wine_records import tree
work = sys.argv[1]
wine, linux = tree(work + "/wine/intact/game"), tree(work + "/linux/intact/game")
expected = tree(work + "/release/2.651")
ok = True
for label, other in (("Linux run", linux), ("expected 2.651", expected)):
    if wine.keys() != other.keys():
        print("file sets differ from the %s: only Windows %s, only other %s"
              % (label, sorted(wine.keys() - other.keys()), sorted(other.keys() - wine.keys())))
        ok = False
    for name in sorted(wine.keys() & other.keys()):
        if wine[name] != other[name]:
            print("%s differs from the %s" % (name, label))
            ok = False
w = open(work + "/wine/intact/launcher").read().split()
l = open(work + "/linux/intact/launcher").read().split()
if w != l or not w:
    print("launcher messages differ:\n Windows %s\n Linux   %s" % (w, l))
    ok = False
else:
    print("same files as Linux and 2.651; %d launcher messages in the same order" % len(w))
sys.exit(0 if ok else 1)
EOF

step "end-to-end: damaged pack, console window"
damage() { printf 'damaged!damaged!' | dd of="$1/game/vemo_packed.kx" bs=1 seek=4096 conv=notrunc status=none; }
fresh_copy linux damaged; damage "$work/linux/damaged"
run_linux damaged
fresh_copy wine damaged; damage "$work/wine/damaged"
wine_responder_start "$work/wine/damaged" "2.650-2.651Pack.exe"
(cd "$work/wine/damaged/game/bin" && timeout 300 wineconsole "$exe64" </dev/null >/dev/null 2>&1) ||
  fail "Wine installer run in wineconsole (damaged)"
sleep 1
wine_responder_stop "$work/wine/damaged"
timeout 120 wineserver -w 2>/dev/null || true

python3 - "$work" <<'EOF' || fail "damaged pack: Windows message box or console differs"
import sys
from wine_records import responder_records
work = sys.argv[1]
caption = "更新失败!".encode("gbk")
boxes, close = responder_records(work + "/wine/damaged/boxes")
linux_err = open(work + "/linux/damaged/err", "rb").read()
prefix = b"[" + caption + b"] "
linux_boxes = [l[len(prefix):] for l in linux_err.split(b"\n") if l.startswith(prefix)]
ok = True
pack = b"vemo_packed.kx"
final = [text for cap, text in boxes if cap == caption]
if len(final) != 1 or len(linux_boxes) != 1:
    print("expected one failure box on each side: Windows %r, Linux %r" % (boxes, linux_boxes))
    ok = False
else:
    w, l = final[0], linux_boxes[0]
    if pack not in w or w.split(pack, 1)[1] != l.split(pack, 1)[1] or not w.split(pack)[0].endswith(b"\\"):
        print("failure texts differ: Windows %r, Linux %r" % (w.decode("gbk"), l.decode("gbk")))
        ok = False
    else:
        print("failure box: %s / %s" % (caption.decode("gbk"), w.decode("gbk")))
if "enabled" in close or not close:
    print("console Close item: %s" % (close or "console window not found by its title"))
    ok = False
elif "grayed" not in close:
    # Wine keeps menus inside their process: another program cannot read the console's.
    print("console window found by its title; its menu cannot be read from outside under Wine")
else:
    print("console Close item greyed")
sys.exit(0 if ok else 1)
EOF

step "end-to-end: a byte flipped outside the sampled windows"
# Between the first pack's first sampled window (its first MiB) and its second (from its middle
# on): the check table's fingerprint passes the pack and the rewrite the merge carries the byte
# into; the payload's results table (the size and CRC of every byte) must stop the swap.
fresh_copy wine exact
python3 - "$work/wine/exact/game/qdres_packed.kx" <<'EOF' || fail "cannot damage the first pack"
import sys
at = (1 << 20) + 200000
data = bytearray(open(sys.argv[1], "rb").read())
assert at < len(data) // 2 - 65536
data[at] ^= 1
open(sys.argv[1], "wb").write(data)
EOF
cp "$work/wine/exact/game/qdres_packed.kx" "$work/wine/exact/qdres-before"
# Under AutoRun the failure needs no box; the upload finds no server and gives up.
(cd "$work/wine/exact/game/bin" && timeout 300 wine "$exe64" AutoRun </dev/null \
  >"$work/wine/exact/out" 2>"$work/wine/exact/err") || fail "Wine installer run (flipped byte)"
timeout 120 wineserver -w 2>/dev/null || true
python3 - "$work" <<'EOF' || fail "flipped byte: the Windows installer swapped in a pack that is not the release's"
import os, sys
work = sys.argv[1]
game = work + "/wine/exact/game/"
def read(path):
    with open(path, "rb") as f:
        return f.read()
log = read(game + "bin/updater.log")
problems = []
if read(game + "qdres_packed.kx") != read(work + "/wine/exact/qdres-before"):
    problems.append("qdres_packed.kx is not the old file byte for byte")
if os.path.exists(game + "qdres_packed.kxtemp"):
    problems.append("the rewrite was left as qdres_packed.kxtemp")
if b"->not the released file: qdres_packed.kx\nwholeFile: " not in log:
    problems.append("no exactness failure in the run log")
if b"--------update successful" in log:
    problems.append("the run log has the success line")
if read(game + "CN_packed.kx") != read(work + "/release/2.650/CN_packed.kx"):
    problems.append("the version pack was updated although the first pack was not")
if problems:
    print("\n".join(problems))
    sys.exit(1)
print("flipped byte: qdres_packed.kx kept byte for byte, the failure logged, CN held back")
EOF

step "end-to-end: full disk, then a run with room"
# Wine applies a file-size limit set before it starts (a write past it fails like a write to a
# full disk once SIGXFSZ is ignored). Only the installer's process gets the limit: the
# wineserver, which writes the prefix's registry, already runs for the responder. The limit lies
# between the large packs with a patch (qdres, the first, and res, both over 3 MiB) and every
# other file the run writes.
limit_kib=2048
fresh_copy wine full
wine_responder_start "$work/wine/full"
(cd "$work/wine/full/game/bin" &&
  timeout 300 bash -c 'trap "" XFSZ; ulimit -f "$1"; exec wine "$2"' _ "$limit_kib" "$exe64" \
    </dev/null >"$work/wine/full/out" 2>"$work/wine/full/err") || fail "Wine installer run (full disk)"
# What the full-disk run left, before the run with room changes it.
mkdir -p "$work/wine/full/after-full"
cp "$work/wine/full/game/"*.kx* "$work/wine/full/game/bin/updater.log" "$work/wine/full/after-full/"
mv "$work/wine/full/boxes" "$work/wine/full/boxes-full" 2>/dev/null || true
(cd "$work/wine/full/game/bin" && timeout 300 wine "$exe64" </dev/null \
  >"$work/wine/full/out-room" 2>"$work/wine/full/err-room") || fail "Wine installer run (room)"
sleep 1
wine_responder_stop "$work/wine/full"
timeout 120 wineserver -w 2>/dev/null || true

python3 - "$work" "$limit_kib" <<'EOF' || fail "full disk: the Windows installer did not keep or finish the update"
import os, sys
from wine_records import responder_records, tree
work, limit = sys.argv[1], int(sys.argv[2]) * 1024
full, old, new = work + "/wine/full/", work + "/release/2.650/", work + "/release/2.651/"
after = full + "after-full/"
def read(path):
    with open(path, "rb") as f:
        return f.read()
def boxes(path):
    return [(c.decode("gbk"), t.decode("gbk")) for c, t in responder_records(path)[0]]
problems = []
def check(condition, text):
    if not condition:
        problems.append(text)
check(os.path.getsize(old + "qdres_packed.kx") > limit, "the first pack is not over the limit")
check(read(after + "qdres_packed.kx") == read(old + "qdres_packed.kx"),
      "the failed pack was changed by the full-disk run")
check(not os.path.exists(after + "qdres_packed.kxtemp"), "the partial rewritten pack was left")
check(read(after + "vemo_packed.kx") == read(new + "vemo_packed.kx"), "vemo was not updated")
check(read(after + "CN_packed.kx") == read(old + "CN_packed.kx"),
      "the version pack was updated although the first pack failed")
check(b"->update failed: qdres_packed.kx!" in read(after + "updater.log"),
      "no failure line in the run log")
shown = boxes(full + "boxes-full")
final = [text for caption, text in shown if caption == "更新失败!"]
check(len(final) == 1 and final[0].endswith("\\qdres_packed.kx文件更新失败!"),
      "failure boxes: %r" % final)
write_errors = sum(caption == "更新出错" for caption, _ in shown)
check(write_errors > 0, "no write-error box: %r" % shown)
check(boxes(full + "boxes") == [], "the run with room showed boxes: %r" % boxes(full + "boxes"))
game, expected = tree(full + "game"), tree(work + "/release/2.651")
check(game == expected, "after the run with room these files differ from 2.651: %s"
      % sorted(n for n in game.keys() | expected.keys() if game.get(n) != expected.get(n)))
if problems:
    print("\n".join(problems))
    sys.exit(1)
print("full disk: qdres_packed.kx kept at 2.650, CN held back, %d write-error box(es) and the "
      "failure box; the run with room ended at 2.651" % write_errors)
EOF

step "end-to-end: a run cut short after CN's swap, finished from its journal"
# The state a kill between CN's swap and vemo's leaves: CN new (the installation reads as
# 2.651), vemo old with its rewritten archive not yet swapped in, the old CN kept beside it, and
# the journal of the update. The run must finish the update instead of refusing the version.
fresh_copy wine journal
game="$work/wine/journal/game"
cp "$game/CN_packed.kx" "$game/CN_packed.kxold"
cp "$work/release/2.651/CN_packed.kx" "$game/CN_packed.kx"
head -c 1000 "$work/release/2.651/vemo_packed.kx" >"$game/vemo_packed.kxtemp"
printf 'kxpatch update journal\nfrom=2.650\nto=2.651\n' >"$game/packUpdate.journal"
wine_responder_start "$work/wine/journal"
(cd "$game/bin" && timeout 300 wine "$exe64" </dev/null >"$work/wine/journal/out" \
  2>"$work/wine/journal/err") || fail "Wine installer run (journal)"
sleep 1
wine_responder_stop "$work/wine/journal"
timeout 120 wineserver -w 2>/dev/null || true

python3 - "$work" <<'EOF' || fail "journal: the Windows installer did not finish the update"
import sys
from wine_records import responder_records, tree
work = sys.argv[1]
shown = responder_records(work + "/wine/journal/boxes")[0]
game, expected = tree(work + "/wine/journal/game"), tree(work + "/release/2.651")
log = open(work + "/wine/journal/game/bin/updater.log", "rb").read()
problems = []
if shown:
    problems.append("boxes shown: %r" % [(c.decode("gbk"), t.decode("gbk")) for c, t in shown])
if game != expected:
    problems.append("these files differ from 2.651: %s"
                    % sorted(n for n in game.keys() | expected.keys() if game.get(n) != expected.get(n)))
if b"->finish the update begun before: " not in log:
    problems.append("the run log does not say the update was finished")
if problems:
    print("\n".join(problems))
    sys.exit(1)
print("journal: the run finished the update begun before and left nothing behind")
EOF

step "end-to-end: a delta release, then one old entry a byte off"
# The installer built with the delta payload (tests/win): the deltas rebuild the first pack's
# large stored entry and a deflated entry in three packs, which the payload does not carry
# whole, so the result can equal NEW only if they were rebuilt byte for byte.
delta_exe="$build/win64/tests/win/delta/2.650-2.651Pack.exe"
fresh_copy wine delta
wine_responder_start "$work/wine/delta"
(cd "$work/wine/delta/game/bin" && timeout 300 wine "$delta_exe" </dev/null \
  >"$work/wine/delta/out" 2>"$work/wine/delta/err") || fail "Wine installer run (delta release)"
sleep 1
wine_responder_stop "$work/wine/delta"
# The same release on a pack whose old entry differs by one byte from the one the delta was made
# from, where that pack's fingerprint does not look: the pack fails and stays as it was.
fresh_copy wine delta-off
python3 -c 'import sys
with open(sys.argv[1], "r+b") as f:
    f.seek((1 << 20) + 200000)
    byte = f.read(1)[0]
    f.seek(-1, 1)
    f.write(bytes([byte ^ 1]))' "$work/wine/delta-off/game/qdres_packed.kx"
cp "$work/wine/delta-off/game/qdres_packed.kx" "$work/wine/delta-off/qdres-before"
(cd "$work/wine/delta-off/game/bin" && timeout 300 wine "$delta_exe" AutoRun </dev/null \
  >"$work/wine/delta-off/out" 2>"$work/wine/delta-off/err") || fail "Wine installer run (old entry off)"
timeout 120 wineserver -w 2>/dev/null || true

python3 - "$work" <<'EOF' || fail "delta release: the Windows installer did not rebuild NEW or kept a wrong entry"
import os, sys
from wine_records import responder_records, tree
work = sys.argv[1]
def read(path):
    with open(path, "rb") as f:
        return f.read()
problems = []
game, expected = tree(work + "/wine/delta/game"), tree(work + "/delta/2.651")
if game != expected:
    problems.append("these files differ from NEW: %s"
                    % sorted(n for n in game.keys() | expected.keys() if game.get(n) != expected.get(n)))
shown = responder_records(work + "/wine/delta/boxes")[0]
if shown:
    problems.append("boxes shown: %r" % [(c.decode("gbk"), t.decode("gbk")) for c, t in shown])
log = read(work + "/wine/delta/game/bin/updater.log")
for line in (b"--------update successful", b"update successful: qdres_packed.kx!"):
    if line not in log:
        problems.append("the run log lacks %r" % line)
if b"->results table not used" in log:
    problems.append("the run did not use the payload's results table")

off = work + "/wine/delta-off/game/"
log = read(off + "bin/updater.log")
if read(off + "qdres_packed.kx") != read(work + "/wine/delta-off/qdres-before"):
    problems.append("old entry off: qdres_packed.kx is not the old file byte for byte")
if os.path.exists(off + "qdres_packed.kxtemp"):
    problems.append("old entry off: the rewrite was left as qdres_packed.kxtemp")
for line in (b"KXFileSystem::mergePatch the installed entry is not the one the delta was made "
             b"from: data/large.bin\n", b"->failed to update: qdres_packed.kx\n"):
    if line not in log:
        problems.append("old entry off: the run log lacks %r" % line)
if b"--------update successful" in log:
    problems.append("old entry off: the run log has the success line")
if read(off + "CN_packed.kx") != read(work + "/release/2.650/CN_packed.kx"):
    problems.append("old entry off: the version pack was updated although the first pack was not")
if read(off + "vemo_packed.kx") != read(work + "/delta/2.651/vemo_packed.kx"):
    problems.append("old entry off: vemo_packed.kx was not rebuilt from its deltas")
if problems:
    print("\n".join(problems))
    sys.exit(1)
print("delta release: %d files equal to NEW; one old entry off: qdres_packed.kx kept byte for "
      "byte, the refused delta logged, CN held back" % len(game))
EOF

step "-sysinfo"
find "$WINEPREFIX/drive_c/users" -name mox_sysinfo.txt -delete 2>/dev/null || true
(cd "$work" && timeout 120 wine "$exe64" x-sysinfo-x </dev/null >/dev/null 2>&1) || fail "-sysinfo exit code"
report=$(find "$WINEPREFIX/drive_c/users" -name mox_sysinfo.txt | head -n1)
if [ -z "$report" ] || ! head -n1 "$report" | grep -q '^Computer Name: '; then
  fail "-sysinfo did not write mox_sysinfo.txt into the temporary folder"
else
  echo "mox_sysinfo.txt: $(wc -l <"$report") lines"
fi

if [ ${#failures[@]} -gt 0 ]; then
  echo "windows: ${#failures[@]} failure(s):" >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "== windows [${SECONDS}s]: all passed"
