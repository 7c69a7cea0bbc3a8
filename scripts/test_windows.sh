#!/usr/bin/env bash
# The Windows part of the tests. Cross-builds the shipped i686 installer and the x86_64 build,
# checks that the i686 executable needs no DLL beside the system's, runs the x86_64 unit tests
# under Wine and compares end-to-end runs of the Windows installer with the Linux one on the
# same generated installation: resulting files, launcher messages, the failure message box,
# the console window and -sysinfo.
#
# Environment: KXPATCH_WIN_BUILD (build root, default build/), KXPATCH_JOBS (default 2),
# KXPATCH_KEEP_WORK=1 keeps the scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${KXPATCH_WIN_BUILD:-$src/build}
jobs=${KXPATCH_JOBS:-2}

scripts/deps.sh cmake ninja-build g++ zlib1g-dev libgtest-dev python3 locales \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 xvfb

work=$(mktemp -d "${TMPDIR:-/tmp}/kxwin-XXXXXX")
xvfb_pid=""
failures=()
cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ "${KXPATCH_KEEP_WORK:-0}" = 1 ]; then echo "scratch kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
step() { echo "== windows: $*"; }
fail() { echo "FAIL: $*" >&2; failures+=("$*"); }

# ---- Builds ------------------------------------------------------------------------------

step "host tools (test installation generator, Linux installer)"
cmake -S "$src" -B "$build/win-host" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win-host" --target kxtest_make_release kxpatch_installer -j"$jobs" >/dev/null
"$build/win-host/tests/win/kxtest_make_release" "$work/release" >/dev/null
payload="$work/release/payload"

step "win32 (i686, shipped)"
cmake --preset win32 -B "$build/win32" -DKXPATCH_PAYLOAD_DIR="$payload" >/dev/null
cmake --build "$build/win32" --target kxpatch_installer -j"$jobs" >/dev/null
exe32="$build/win32/app/2.650-2.651Pack.exe"
dlls=$(i686-w64-mingw32-objdump -p "$exe32" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "i686 imports: $(echo $dlls)"
system_dll='^(kernel32|user32|gdi32|shell32|advapi32|iphlpapi|winmm|wininet|msvcrt|ws2_32|ole32|shlwapi|comctl32|version|api-ms-win-[a-z0-9-]+)\.dll$'
for dll in $dlls; do
  [[ $dll =~ $system_dll ]] || fail "the i686 installer imports $dll"
done

step "win64 (x86_64: unit tests, stand-ins, installer)"
# The release tools are not part of the Windows build.
cmake --preset win64 -B "$build/win64" -DKXPATCH_PAYLOAD_DIR="$payload" \
  -DKXPATCH_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build/win64" --target kxpatch_installer kxtest_launcher kxtest_responder \
  -j"$jobs" >/dev/null
# Test programs that must run under Wine; the others are built when their sources allow it
# (a POSIX-only test file should end in _posix.cpp to leave its folder's program portable).
required_tests="platform_tests sections_tests integrity_tests"
optional_tests="report_tests archive_tests app_tests"
for target in $required_tests $optional_tests; do
  if ! cmake --build "$build/win64" --target "$target" -j"$jobs" >"$work/build-$target.log" 2>&1; then
    if [[ " $required_tests " == *" $target "* ]]; then
      grep -E "error|FAILED" "$work/build-$target.log" | head -n 20
      fail "$target does not build for Windows"
    else
      echo "note: $target not built for Windows: $(grep -m1 -o '[^/ ]*\.cpp' "$work/build-$target.log" | head -n1) is POSIX-only"
      rm -f "$build/win64/tests/$target.exe"
    fi
  fi
done
exe64="$build/win64/app/2.650-2.651Pack.exe"
launcher="$build/win64/tests/win/kxtest_launcher.exe"
responder="$build/win64/tests/win/kxtest_responder.exe"

# ---- Wine ----------------------------------------------------------------------------------

step "wine prefix"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The players' ANSI code page is GBK (936). Wine takes it from the locale name; the locale is
# built privately so that the host needs no change.
mkdir -p "$work/locale"
localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8" >/dev/null 2>&1 || true
[ -d "$work/locale/zh_CN.UTF-8" ] || { echo "cannot build the zh_CN.UTF-8 locale" >&2; exit 1; }
export LOCPATH="$work/locale"
export LC_ALL=zh_CN.UTF-8
exec 5>"$work/display"
Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
wine wineboot --init >/dev/null 2>&1
timeout 120 wineserver -w || true

step "unit tests under Wine"
for test in "$build"/win64/tests/*_tests.exe; do
  name=$(basename "$test" .exe)
  if timeout 600 wine "$test" --gtest_brief=1 >"$work/$name.log" 2>&1; then
    echo "$name: passed"
  else
    tail -n 40 "$work/$name.log"
    fail "$name under Wine"
  fi
done

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
    TMPDIR="$dir/run" KXPATCH_TEST_PAYLOAD_DIR="$payload" LC_ALL=C \
    timeout 300 "$build/win-host/app/2.650-2.651Pack" "$@" </dev/null >"$dir/out" 2>"$dir/err") ||
    fail "Linux installer run $dir"
}

start_wine_launcher() {  # dir
  rm -f "$1/ready" "$1/stop"
  wine "$launcher" "$1/launcher" "$1/ready" "$1/stop" >/dev/null 2>&1 &
  for _ in $(seq 300); do [ -e "$1/ready" ] && return 0; sleep 0.1; done
  return 1
}
start_wine_responder() {  # dir [console title]
  rm -f "$1/stop-responder"
  wine "$responder" "$1/boxes" "$1/stop-responder" "${@:2}" >/dev/null 2>&1 &
  sleep 1
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
import filecmp, os, sys
work = sys.argv[1]
def tree(root):
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            rel = os.path.relpath(os.path.join(folder, name), root)
            if not rel.endswith(".log"):  # logs carry each platform's paths
                files[rel] = open(os.path.join(folder, name), "rb").read()
    return files
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
start_wine_responder "$work/wine/damaged" "2.650-2.651Pack.exe"
(cd "$work/wine/damaged/game/bin" && timeout 300 wineconsole "$exe64" </dev/null >/dev/null 2>&1) ||
  fail "Wine installer run in wineconsole (damaged)"
sleep 1
touch "$work/wine/damaged/stop-responder"
timeout 120 wineserver -w 2>/dev/null || true

python3 - "$work" <<'EOF' || fail "damaged pack: Windows message box or console differs"
import sys
work = sys.argv[1]
caption = "更新失败!".encode("gbk")
boxes, close = [], []
for line in open(work + "/wine/damaged/boxes"):
    parts = line.strip().split(":")
    if parts[0] == "box":
        boxes.append((bytes.fromhex(parts[1]), bytes.fromhex(parts[2])))
    elif parts[0] == "close":
        close.append(parts[1])
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
echo "== windows: all passed"
