#!/usr/bin/env bash
# From two installations to the shipped installer in one command:
#
#   scripts/release.sh OLD NEW OUT [--previous-table FILE] [--sign P12 --sign-password-file F
#                      [--sign-ca FILE] [--timestamp URL [--timestamp-ca FILE]]]
#                      [--windows-rehearsal] [--delta] [--force] [--keep-work]
#
# 1. kxtool release OLD NEW into OUT/payload (versions read from the installations, every patch
#    rehearsed with the installer's merge; refused without its Results.txt); with --delta the
#    packs' replaced entries travel as deltas of their contents where smaller (xdelta3);
# 2. the Linux installer built with that payload and run on a scratch copy of OLD, the result
#    compared with NEW file by file; with --windows-rehearsal the same with the 64-bit Windows
#    build under Wine;
# 3. the shipped 32-bit executable, signed with osslsigncode when --sign is given (countersigned
#    by the RFC 3161 time-stamp server at --timestamp URL) and its signature verified (against
#    --sign-ca, else the certificates inside P12; the timestamp against --timestamp-ca, else
#    the system's certificates);
# 4. OUT/payload, OUT/FROM-TOPack.exe, OUT/SHA256SUMS, OUT/release-report.txt and
#    OUT/release-report.json (every change by name, for build pipelines).
# Any failure stops it with a non-zero exit code, the step it failed in and the log of that
# step, kept in OUT/release-logs. The products are made in a scratch folder and moved into OUT
# only once everything has passed, so a failed run leaves OUT's products as they were.
#
# OUT must not hold a previous release's products (payload, FROM-TOPack.exe, SHA256SUMS,
# release-report.*) unless --force is given: then they are replaced, after this release has
# succeeded. --keep-work keeps the scratch folder and the rehearsal's copy of OLD (also
# KXPATCH_KEEP_WORK=1). Build folders: KXPATCH_RELEASE_BUILD (default OUT/build), with
# linux-release, win32 and win64 below it; pointing it at build/ reuses the trees that
# scripts/test.sh made: such a tree keeps its own settings (tools, tests) and gets its payload
# and versions back at the end; a tree this script makes builds neither tests nor, on Windows,
# tools. KXPATCH_UPLOAD_HOST, _PORT, _USER and _PASSWORD, when set, go into the shipped
# executable. KXPATCH_JOBS (default: the number of processors). KXPATCH_REHEARSAL_TIMEOUT: the
# seconds a rehearsal's installer may run (default 1800). Under Wine a message box the installer
# shows is answered at once (scripts/wine_responder.sh), and fails the rehearsal with its caption
# and text. For scripts/test_release.sh only: KXPATCH_TEST_WINDOWS_REHEARSAL_REMOVE names a file
# (relative to the installation) taken out of the Windows rehearsal's copy of OLD.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
. "$src/scripts/wine_responder.sh"

usage() {
  sed -n '4,6p' "$0" | sed 's/^# *//' >&2
  exit 2
}
step="arguments"
fail() {
  echo "release: failed at step \"$step\": $*" >&2
  [ -z "${logs:-}" ] ||
    echo "release: OUT holds nothing of this run but its logs ($logs): run the same command again once the cause is mended" >&2
  exit 1
}
trap 'echo "release: failed at step \"$step\" (line $LINENO)" >&2' ERR

positional=() previous="" p12="" password_file="" sign_ca="" windows=0 delta=0
timestamp="" timestamp_ca="" force=0 keep_work=${KXPATCH_KEEP_WORK:-0}
while [ $# -gt 0 ]; do
  case $1 in
    --timestamp) [ $# -ge 2 ] || usage; timestamp=$2; shift 2 ;;
    --timestamp-ca) [ $# -ge 2 ] || usage; timestamp_ca=$(realpath "$2"); shift 2 ;;
    --force) force=1; shift ;;
    --keep-work) keep_work=1; shift ;;
    --previous-table) [ $# -ge 2 ] || usage; previous=$(realpath "$2"); shift 2 ;;
    --sign) [ $# -ge 2 ] || usage; p12=$(realpath "$2"); shift 2 ;;
    --sign-password-file) [ $# -ge 2 ] || usage; password_file=$(realpath "$2"); shift 2 ;;
    --sign-ca) [ $# -ge 2 ] || usage; sign_ca=$(realpath "$2"); shift 2 ;;
    --windows-rehearsal) windows=1; shift ;;
    --delta) delta=1; shift ;;
    -h|--help) usage ;;
    -*) echo "release: unknown option $1" >&2; usage ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -eq 3 ] || usage
{ [ -n "$p12" ] && [ -z "$password_file" ]; } && fail "--sign needs --sign-password-file"
{ [ -z "$p12" ] && { [ -n "$password_file" ] || [ -n "$sign_ca" ] || [ -n "$timestamp" ]; }; } &&
  fail "the signing options need --sign"
{ [ -n "$timestamp_ca" ] && [ -z "$timestamp" ]; } && fail "--timestamp-ca needs --timestamp"
old=$(realpath "${positional[0]}")
new=$(realpath "${positional[1]}")
mkdir -p "${positional[2]}"
out=$(realpath "${positional[2]}")
build=${KXPATCH_RELEASE_BUILD:-$out/build}
mkdir -p "$build"
build=$(realpath "$build")
jobs=${KXPATCH_JOBS:-$(nproc)}
rehearsal_timeout=${KXPATCH_REHEARSAL_TIMEOUT:-1800}
[[ $rehearsal_timeout =~ ^[1-9][0-9]*$ ]] ||
  fail "KXPATCH_REHEARSAL_TIMEOUT is not a number of seconds: $rehearsal_timeout"
# A previous release's products stay until this one has succeeded, and only with --force.
products=(payload payload.partial SHA256SUMS release-report.txt release-report.json)
previous_products() {
  local name
  for name in "${products[@]}"; do [ -e "$out/$name" ] && printf '%s\n' "$out/$name"; done
  find "$out" -maxdepth 1 -name '*Pack.exe' -print
}
if [ $force = 0 ] && [ -n "$(previous_products)" ]; then
  fail "OUT holds a previous release: $(previous_products | tr '\n' ' ')- remove them, or give" \
       "--force to replace them once this release has succeeded (OUT's other files may stay)"
fi
# Every step's log, kept in OUT whatever happens; cleared at the start of each run.
logs=$out/release-logs
rm -rf "$logs"
mkdir -p "$logs"
work=$(mktemp -d "${TMPDIR:-/tmp}/kxrelease.XXXXXX")
stage=$work/release  # the products, moved into OUT at the very end
mkdir -p "$stage"
cleanup() {
  give_back
  if [ "$keep_work" = 1 ]; then
    echo "scratch kept: $work (the Linux rehearsal's installation: $work/linux/game)"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
begin() { step=$1; echo "== release [${SECONDS}s]: $1"; }
# Runs a command with its output in a log; on failure shows the end of the log and stops.
logged() {  # log command...
  local log=$1; shift
  if ! "$@" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "$* (log: $log)"
  fi
}
# What the release will lack, said before the work starts and again at the end.
warnings=()
warn() { warnings+=("$1"); echo "release: warning: $1" >&2; }
[ -n "$p12" ] ||
  warn "not signed (no --sign): Windows warns players of an unknown publisher before the installer runs, and nothing shows them that it comes from the studio unaltered"
[ -z "$p12" ] || [ -n "$timestamp" ] ||
  warn "the signature gets no timestamp (no --timestamp): it stops validating for players once the certificate expires"
[ -n "$previous" ] ||
  warn "no --previous-table: MD5.txt holds only the new and the old version's blocks, without the older versions' blocks and the MiniCheck and PackCheck blocks that players' bin/MD5.txt held until now, and OLD is not compared with what players have"

begin "packages"
packages=(cmake ninja-build g++ zlib1g-dev libcurl4-openssl-dev g++-mingw-w64-i686 libz-mingw-w64-dev)
[ -n "$p12" ] && packages+=(osslsigncode openssl)
[ $windows = 1 ] && packages+=(g++-mingw-w64-x86-64 wine wine64 xvfb locales)
[ $delta = 1 ] && packages+=(xdelta3)
"$src/scripts/deps.sh" "${packages[@]}"

# A tree that already exists keeps its settings: only the payload and the versions change (a
# new one builds no tests, and the tools only where asked: the Windows trees give this script
# nothing but the installer). A tree borrowed through KXPATCH_RELEASE_BUILD, a developer's or
# scripts/test_windows.sh's, gets its payload folder and versions back at the end, so that it
# still configures once this release's scratch files are gone, and builds what it built before.
borrowed=()
cached() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }
configure() {  # dir preset tools(ON/OFF, for a new tree) cmake-arguments...
  local dir=$1 preset=$2 tools=$3; shift 3
  local fresh=()
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    fresh=(--preset "$preset" -DKXPATCH_BUILD_TESTS=OFF -DKXPATCH_BUILD_TOOLS="$tools")
  elif [ -n "${KXPATCH_RELEASE_BUILD:-}" ] && [[ " ${borrowed[*]} " != *" $dir "* ]]; then
    borrowed+=("$dir")
    local name value
    for name in KXPATCH_PAYLOAD_DIR KXPATCH_FROM_VERSION KXPATCH_TO_VERSION; do
      value=$(cached "$dir" "$name")
      # A payload folder that is gone (an earlier release's scratch) gives way to the default.
      [ "$name" != KXPATCH_PAYLOAD_DIR ] || [ -z "$value" ] || [ -d "$value" ] ||
        value=$src/resources
      [ -z "$value" ] || echo "-D$name=$value"
    done >"$dir/.release-restore"
  fi
  logged "$logs/configure-$(basename "$dir").log" \
    cmake -S "$src" -B "$dir" "${fresh[@]}" "$@"
}
give_back() {
  local dir settings
  for dir in "${borrowed[@]}"; do
    mapfile -t settings <"$dir/.release-restore"
    cmake -S "$src" -B "$dir" "${settings[@]}" >/dev/null 2>&1 ||
      echo "release: could not give $dir its settings back: ${settings[*]}" >&2
    rm -f "$dir/.release-restore"
  done
}
upload=()
for setting in HOST PORT USER PASSWORD; do
  name=KXPATCH_UPLOAD_$setting
  [ -n "${!name:-}" ] && upload+=("-D$name=${!name}")
done

begin "kxtool"
linux=$build/linux-release
configure "$linux" linux-release ON
logged "$logs/build-kxtool.log" cmake --build "$linux" --target kxtool -j"$jobs"
kxtool=$linux/tools/kxtool/kxtool

begin "payload (kxtool release)"
payload=$stage/payload
release_args=("$old" "$new" -o "$payload" --json "$stage/release-report.json"
              --changes "$work/changes.txt")
[ -n "$previous" ] && release_args+=(--previous-table "$previous")
[ $delta = 1 ] && release_args+=(--delta)
TMPDIR=$work "$kxtool" release "${release_args[@]}" >"$work/summary-full.txt" \
  2> >(tee "$logs/payload.log" >&2) ||
  fail "kxtool release refused the release (the line above says why; $logs/payload.log)"
# kxtool names its own lists; this script's are the reports in OUT, where the payload goes too.
summary=$(grep -v '^every change by name:' "$work/summary-full.txt" || true)
printf '%s\n' "${summary//"$payload"/"$out/payload"}" >"$work/summary.txt"
cat "$work/summary.txt"
# Without its results table the installer would check what it writes with the check table's
# fingerprints alone, which sample the large packs and stop after 1,000 MiB.
[ -s "$payload/Results.txt" ] ||
  fail "the payload has no Results.txt (the size and CRC of every file the installer writes)"
read -r _ from _ to < <(head -n1 "$work/summary.txt")
exe_name="$from-${to}Pack"
versions=(-DKXPATCH_PAYLOAD_DIR="$payload" -DKXPATCH_FROM_VERSION="$from" -DKXPATCH_TO_VERSION="$to")

# The files of an installation, NUL-separated and sorted, without the installer's own files in
# bin (written by every run, compared on their own). Any name a file system holds passes.
files_of() {  # folder
  (cd "$1" && find . -type f ! -path ./bin/MD5.txt ! -path ./bin/updater.log \
     ! -path ./bin/pack.log -print0 | LC_ALL=C sort -z)
}
# What each rehearsal gave, for the report; kept with the logs when a rehearsal fails.
rehearsals=$logs/rehearsals.txt
# Compares the installation a run left with NEW; the outcome goes to the report.
compare_with_new() {  # label game-folder
  local label=$1 game=$2 differ=0 count=0 file
  cp "$game/bin/updater.log" "$logs/$label-updater.log" 2>/dev/null || true
  files_of "$new" >"$work/$label-new.files"
  files_of "$game" >"$work/$label-run.files"
  if ! cmp -s "$work/$label-new.files" "$work/$label-run.files"; then
    diff <(tr '\0' '\n' <"$work/$label-new.files") <(tr '\0' '\n' <"$work/$label-run.files") \
      >"$logs/$label-files.diff" || true
    cat "$logs/$label-files.diff" >&2
    fail "$label: the files differ from NEW's (< NEW, > rehearsal; $logs/$label-files.diff)"
  fi
  while IFS= read -r -d '' file; do
    count=$((count + 1))
    cmp -s "$new/$file" "$game/$file" || { echo "differs from NEW: $file" >&2; differ=1; }
  done <"$work/$label-new.files"
  [ $differ = 0 ] || fail "$label: files differ from NEW's"
  cmp -s "$payload/MD5.txt" "$game/bin/MD5.txt" || fail "$label: bin/MD5.txt is not the payload's table"
  grep -aq -- "--------update successful" "$game/bin/updater.log" ||
    fail "$label: the run log has no success line ($logs/$label-updater.log)"
  ! grep -aq -- "->results table not used" "$game/bin/updater.log" ||
    fail "$label: the installer did not use the payload's Results.txt ($logs/$label-updater.log)"
  TMPDIR=$work "$kxtool" verify "$game" "$game/bin/MD5.txt" "$from" "$to" >"$logs/$label-verify.txt" ||
    { cat "$logs/$label-verify.txt" >&2; fail "$label: kxtool verify ($logs/$label-verify.txt)"; }
  echo "$label rehearsal: $count files identical to NEW; bin/MD5.txt is the payload's table;" \
       "kxtool verify: $(tail -n1 "$logs/$label-verify.txt")" | tee -a "$rehearsals"
}
scratch_copy() {  # folder
  mkdir -p "$1/run" "$1/config" "$1/home" "$1/tmp"
  cp -r "$old" "$1/game"
}

begin "Linux installer"
configure "$linux" linux-release ON "${versions[@]}"
logged "$logs/build-linux.log" cmake --build "$linux" --target kxpatch_installer -j"$jobs"

begin "Linux rehearsal on a copy of OLD"
scratch_copy "$work/linux"
(cd "$work/linux/game/bin" && XDG_RUNTIME_DIR=$work/linux/run XDG_CONFIG_HOME=$work/linux/config \
  HOME=$work/linux/home TMPDIR=$work/linux/tmp LC_ALL=C timeout "$rehearsal_timeout" "$linux/app/$exe_name" \
  </dev/null >"$logs/linux-out.txt" 2>"$logs/linux-err.txt") ||
  { cp "$work/linux/game/bin/updater.log" "$logs/linux-updater.log" 2>/dev/null || true
    fail "the Linux installer did not finish ($logs/linux-out.txt, $logs/linux-err.txt)"; }
# On Linux a message box is a "[caption] text" line on the error stream.
if [ -s "$logs/linux-err.txt" ]; then
  { echo "linux rehearsal: failed; the installer showed:"; sed 's/^/  /' "$logs/linux-err.txt"; } |
    tee -a "$rehearsals" >&2
  cp "$work/linux/game/bin/updater.log" "$logs/linux-updater.log" 2>/dev/null || true
  fail "the Linux installer showed a message ($logs/linux-err.txt; its run log: $logs/linux-updater.log)"
fi
compare_with_new linux "$work/linux/game"

if [ $windows = 1 ]; then
  begin "Windows installer (x86_64, for Wine)"
  win64=$build/win64
  configure "$win64" win64 OFF "${versions[@]}"
  logged "$logs/build-win64.log" cmake --build "$win64" --target kxpatch_installer -j"$jobs"
  logged "$logs/build-responder.log" wine_responder_build "$src" "$build/wine-responder"

  begin "Windows rehearsal under Wine"
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  exec 5>"$work/display"
  Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true; wineserver -k 2>/dev/null || true; cleanup' EXIT
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$work/display")"
  # The players' code page (GBK) comes from a private zh_CN locale; only Wine runs in it.
  mkdir -p "$work/locale"
  localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8" >/dev/null 2>&1 || true
  wine_env=(LOCPATH="$work/locale" LC_ALL=zh_CN.UTF-8)
  logged "$logs/wineboot.log" env "${wine_env[@]}" wine wineboot --init
  scratch_copy "$work/wine"
  [ -z "${KXPATCH_TEST_WINDOWS_REHEARSAL_REMOVE:-}" ] ||
    rm -f "$work/wine/game/$KXPATCH_TEST_WINDOWS_REHEARSAL_REMOVE"
  # Nobody would press a box's OK: the responder does, so that a run that shows one ends at once
  # instead of at its timeout. Whatever the run did after, a box means the rehearsal failed.
  wine_responder_start "$work/wine"
  status=0
  (cd "$work/wine/game/bin" && env "${wine_env[@]}" timeout "$rehearsal_timeout" \
    wine "$win64/app/$exe_name.exe" </dev/null >"$logs/wine-out.txt" 2>"$logs/wine-err.txt") ||
    status=$?
  wine_responder_stop "$work/wine"
  env "${wine_env[@]}" timeout 120 wineserver -w 2>/dev/null || true
  if [ -s "$work/wine/boxes" ]; then
    wine_responder_boxes "$work/wine/boxes" >"$logs/windows-boxes.txt"
    cp "$work/wine/game/bin/updater.log" "$logs/windows-updater.log" 2>/dev/null || true
    { echo "windows rehearsal: failed; the installer (exit code $status) showed:"
      sed 's/^/  /' "$logs/windows-boxes.txt"; } | tee -a "$rehearsals" >&2
    fail "the Windows installer showed a message ($logs/windows-boxes.txt; its run log: $logs/windows-updater.log)"
  fi
  [ $status = 0 ] ||
    { cp "$work/wine/game/bin/updater.log" "$logs/windows-updater.log" 2>/dev/null || true
      fail "the Windows installer did not finish, exit code $status ($logs/wine-out.txt, $logs/wine-err.txt)"; }
  compare_with_new windows "$work/wine/game"
else
  echo "windows rehearsal: not asked for (--windows-rehearsal)" >>"$rehearsals"
fi

begin "shipped installer (i686)"
win32=$build/win32
configure "$win32" win32 OFF "${versions[@]}" "${upload[@]}"
logged "$logs/build-win32.log" cmake --build "$win32" --target kxpatch_installer -j"$jobs"
exe32=$win32/app/$exe_name.exe
dlls=$(i686-w64-mingw32-objdump -p "$exe32" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
  [[ $dll =~ ^(kernel32|user32|gdi32|shell32|advapi32|iphlpapi|winmm|wininet|msvcrt|ws2_32|ole32|shlwapi|comctl32|version|api-ms-win-[a-z0-9-]+)\.dll$ ]] ||
    fail "the executable imports $dll, which players may not have"
done
shipped=$stage/$exe_name.exe

signature="not signed (no --sign)"
if [ -n "$p12" ]; then
  begin "Authenticode signature"
  sign_args=(-pkcs12 "$p12" -readpass "$password_file" -n "Halvoreen $from-$to patch" -h sha256)
  [ -n "$timestamp" ] && sign_args+=(-ts "$timestamp")
  logged "$logs/sign.log" osslsigncode sign "${sign_args[@]}" -in "$exe32" -out "$shipped"
  ca=$sign_ca
  if [ -z "$ca" ]; then
    ca=$work/signing-chain.pem
    openssl pkcs12 -in "$p12" -passin "file:$password_file" -nokeys -out "$ca" 2>"$logs/chain.log" ||
      openssl pkcs12 -legacy -in "$p12" -passin "file:$password_file" -nokeys -out "$ca" \
        2>>"$logs/chain.log" || fail "cannot read the certificates of $p12 ($logs/chain.log)"
  fi
  verify_args=(-in "$shipped" -CAfile "$ca")
  [ -n "$timestamp_ca" ] && verify_args+=(-TSA-CAfile "$timestamp_ca")
  logged "$logs/verify-signature.log" osslsigncode verify "${verify_args[@]}"
  subject=$(openssl x509 -in "$ca" -noout -subject 2>/dev/null | head -n1 || true)
  signature="signed with $(basename "$p12") (${subject:-certificate}); osslsigncode verify: passed against $([ -n "$sign_ca" ] && echo "$(basename "$sign_ca")" || echo "the certificates in $(basename "$p12")")"
  if [ -n "$timestamp" ]; then
    # osslsigncode passes a signature whose timestamp it cannot verify: check that part here.
    grep -q "^Timestamp Server Signature verification: ok" "$logs/verify-signature.log" ||
      fail "the timestamp from $timestamp does not verify against $([ -n "$timestamp_ca" ] &&
        echo "$timestamp_ca" || echo "the system's certificates") ($logs/verify-signature.log)"
    stamped=$(sed -n 's/^[[:space:]]*Timestamp time: //p' "$logs/verify-signature.log" | head -n1)
    signature+="; timestamp $stamped from $timestamp, verified"
  else
    signature+="; no timestamp"
  fi
else
  cp "$exe32" "$shipped"
fi

begin "SHA256SUMS and report"
(cd "$stage" && sha256sum "$exe_name.exe" payload/* >SHA256SUMS)
tool_version() { "$@" 2>&1 | head -n1 || echo "unavailable"; }
{
  echo "Release $from -> $to: $exe_name.exe"
  echo "made $(date -u '+%Y-%m-%d %H:%M:%S UTC') from source $(git -C "$src" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$src" diff --quiet HEAD 2>/dev/null || echo ' (with local changes)')"
  echo "OLD: $old"
  echo "NEW: $new"
  echo "previous table: ${previous:-none (the table holds the two new blocks only)}"
  echo
  echo "What changes (kxtool release):"
  cat "$work/summary.txt"
  echo
  echo "Every change (also in release-report.json):"
  sed 's/^/  /' "$work/changes.txt"
  echo
  echo "Sizes:"
  (cd "$stage" && find "$exe_name.exe" payload -type f -printf '  %-28p %12s bytes\n' | sort)
  echo
  echo "Rehearsals:"
  sed 's/^/  /' "$rehearsals"
  echo
  echo "Signature: $signature"
  echo
  echo "What this release lacks:"
  [ ${#warnings[@]} -gt 0 ] && printf '  %s\n' "${warnings[@]}" || echo "  nothing"
  echo
  echo "SHA-256:"
  sed 's/^/  /' "$stage/SHA256SUMS"
  echo
  echo "Tools:"
  echo "  $(tool_version cmake --version)"
  echo "  $(tool_version g++ --version)"
  echo "  $(tool_version i686-w64-mingw32-g++ --version)"
  [ -n "$p12" ] && echo "  $(tool_version osslsigncode --version)"
  [ $windows = 1 ] && echo "  $(tool_version wine --version)"
  true
} >"$stage/release-report.txt"

# Everything has passed: the products take the place of any earlier release's.
step="moving the products into OUT"
incoming=$out/.release-incoming
rm -rf "$incoming"
cp -r "$stage" "$incoming"
previous_products | while IFS= read -r old_product; do rm -rf "$old_product"; done
for item in "$incoming"/*; do mv "$item" "$out/"; done
rmdir "$incoming"
echo "== release [${SECONDS}s]: $out/$exe_name.exe"
echo "every change by name: $out/release-report.txt (JSON: $out/release-report.json); logs: $logs"
for warning in "${warnings[@]}"; do echo "release: warning: $warning" >&2; done
