#!/usr/bin/env bash
# The release script on the demo release, as CI runs it: first with the wrong signing password,
# a failure at the last step that must keep its log in OUT and leave no product behind; then,
# in the same OUT, the signed installer with a throw-away certificate and a timestamp from a
# time-stamp authority on 127.0.0.1 (signature and timestamp must verify, the checksums hold,
# the payload is the demo's); then a release whose rehearsal must fail (an installation without
# bin/RakNet.dll, where the installer refuses to run) and must stop the script, and the same
# under Wine, where the refusal is a message box that nobody but the responder answers. The demo
# is released with --delta, as its payload is made: the rehearsals, the signed release's also
# with the x86_64 Windows installer under Wine, must give NEW byte for byte.
#
# Environment: KXPATCH_RELEASE_BUILD (default build/, whose linux-release and win32 trees
# scripts/test.sh made; missing trees are built), KXPATCH_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
export KXPATCH_RELEASE_BUILD=${KXPATCH_RELEASE_BUILD:-$src/build}
scripts/deps.sh openssl osslsigncode python3 cmake ninja-build g++ zlib1g-dev libcurl4-openssl-dev \
  xdelta3

work=$(mktemp -d "${TMPDIR:-/tmp}/kxtestrelease.XXXXXX")
tsa_pid=""
trap '[ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The time-stamp authority: openssl's, behind a small HTTP responder on a free local port.
python3 scripts/release-check/timestamp_server.py "$work/tsa" &
tsa_pid=$!
for _ in $(seq 300); do [ -s "$work/tsa/port" ] && break; sleep 0.1; done
[ -s "$work/tsa/port" ] || fail "the time-stamp server did not start"
tsa=http://127.0.0.1:$(cat "$work/tsa/port")

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 1 \
  -subj "/CN=kxpatch throw-away test certificate" -addext extendedKeyUsage=codeSigning 2>/dev/null
head -c 18 /dev/urandom | base64 >"$work/password"
echo "not the password" >"$work/wrong-password"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/signing.p12" \
  -passout "file:$work/password"

# The demo, and the table of the release before it (the demo table without its 2.651 block).
kxtool=$KXPATCH_RELEASE_BUILD/linux-release/tools/kxtool/kxtool
if [ ! -x "$kxtool" ]; then
  cmake --preset linux-release -B "$KXPATCH_RELEASE_BUILD/linux-release" >/dev/null
  cmake --build "$KXPATCH_RELEASE_BUILD/linux-release" --target kxtool -j"${KXPATCH_JOBS:-$(nproc)}" >/dev/null
fi
TMPDIR=$work "$kxtool" demo "$work/demo"
sed -n '/^<mox2.650>$/,$p' "$work/demo/payload/MD5.txt" >"$work/previous.txt"

sign=(--sign "$work/signing.p12" --timestamp "$tsa" --timestamp-ca "$work/tsa/tsa.pem")
echo "== release: a failure at the last step (the wrong signing password)"
if scripts/release.sh "$work/demo/2.650" "$work/demo/2.651" "$work/out" --delta \
     --previous-table "$work/previous.txt" "${sign[@]}" \
     --sign-password-file "$work/wrong-password" >"$work/wrong.log" 2>&1; then
  fail "release.sh passed with the wrong signing password"
fi
grep -q "failed at step \"Authenticode signature\".*(log: $work/out/release-logs/sign.log)" \
  "$work/wrong.log" || { tail -n 20 "$work/wrong.log" >&2; fail "the failure does not name its log in OUT"; }
[ -s "$work/out/release-logs/sign.log" ] || fail "the signing log is not kept in OUT"
for product in payload payload.partial 2.650-2.651Pack.exe SHA256SUMS release-report.txt; do
  [ ! -e "$work/out/$product" ] || fail "the failed release left $product in OUT"
done

echo "== release: signed demo installer with a timestamp and deltas, in the same OUT"
scripts/release.sh "$work/demo/2.650" "$work/demo/2.651" "$work/out" --delta --windows-rehearsal \
  --previous-table "$work/previous.txt" "${sign[@]}" --sign-password-file "$work/password"
exe=$work/out/2.650-2.651Pack.exe
osslsigncode verify -in "$exe" -CAfile "$work/cert.pem" -TSA-CAfile "$work/tsa/tsa.pem" \
  >"$work/verify.log" 2>&1 || { cat "$work/verify.log" >&2; fail "osslsigncode verify refused $exe"; }
grep -q "^Timestamp Server Signature verification: ok" "$work/verify.log" ||
  { cat "$work/verify.log" >&2; fail "the timestamp of $exe does not verify"; }
grep -q "^Signature: .*; timestamp .* from $tsa, verified" "$work/out/release-report.txt" ||
  fail "the report does not record the timestamp"
(cd "$work/out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not hold"
for file in "$work/demo/payload"/*; do
  cmp -s "$file" "$work/out/payload/$(basename "$file")" || fail "payload $(basename "$file") is not the demo's"
done
for side in linux windows; do
  grep -q "^  $side rehearsal: .* all 7 files are at 2.651" "$work/out/release-report.txt" ||
    fail "the report has no passed $side rehearsal"
done
grep -q '"deltaEntries": [1-9]' "$work/out/release-report.json" ||
  fail "no entry of the --delta release went as a delta"
grep -q "replaced as deltas" "$work/out/release-report.txt" ||
  fail "the report does not say how the entries went"

echo "== release: OUT's products are replaced only when asked"
if scripts/release.sh "$work/demo/2.650" "$work/demo/2.651" "$work/out" >"$work/again.log" 2>&1; then
  fail "release.sh replaced a previous release without --force"
fi
grep -q "OUT holds a previous release: .*$work/out/payload .*--force" "$work/again.log" ||
  { cat "$work/again.log" >&2; fail "the refused rerun does not say what to remove"; }
cmp -s "$exe" "$work/out/2.650-2.651Pack.exe" || fail "the refused rerun touched the installer"

echo "== release: a rehearsal that fails stops the script"
cp -r "$work/demo/2.650" "$work/old"
cp -r "$work/demo/2.651" "$work/new"
rm "$work/old/bin/RakNet.dll" "$work/new/bin/RakNet.dll"
if scripts/release.sh "$work/old" "$work/new" "$work/refused" >"$work/refused.log" 2>&1; then
  cat "$work/refused.log" >&2
  fail "release.sh passed although the installer refused to run"
fi
grep -q 'failed at step "Linux rehearsal' "$work/refused.log" ||
  { tail -n 20 "$work/refused.log" >&2; fail "release.sh did not say the rehearsal failed"; }
[ -s "$work/refused/release-logs/linux-err.txt" ] || fail "the rehearsal's messages are not kept in OUT"
[ ! -e "$work/refused/2.650-2.651Pack.exe" ] && [ ! -e "$work/refused/payload" ] ||
  fail "a failed release left a product in OUT"
echo "== release: a Windows rehearsal whose installer shows a box fails at once"
# Only the Windows rehearsal's copy of OLD lacks bin/RakNet.dll, so the Linux one passes. A box
# left unanswered would hold the run until its timeout (lowered here so that such a fault
# cannot hold CI for half an hour) and fail it as "did not finish" without the box's text.
if KXPATCH_REHEARSAL_TIMEOUT=600 KXPATCH_TEST_WINDOWS_REHEARSAL_REMOVE=bin/RakNet.dll \
     scripts/release.sh "$work/demo/2.650" "$work/demo/2.651" "$work/boxed" --delta \
     --windows-rehearsal >"$work/boxed.log" 2>&1; then
  cat "$work/boxed.log" >&2
  fail "release.sh passed although the Windows installer refused to run"
fi
grep -q 'failed at step "Windows rehearsal under Wine": the Windows installer showed a message' \
  "$work/boxed.log" || { tail -n 20 "$work/boxed.log" >&2; fail "release.sh did not fail on the box"; }
# The box as the installer wrote it in GBK, read back readably; and in the rehearsals' record.
box='[无法自动获得《Halvoreen》安装目录] 请在Halvoreen\bin目录下运行该程序'
grep -qxF "$box" "$work/boxed/release-logs/windows-boxes.txt" ||
  { cat "$work/boxed/release-logs/windows-boxes.txt" >&2; fail "the box is not recorded as shown"; }
grep -qxF "  $box" "$work/boxed/release-logs/rehearsals.txt" ||
  fail "release-logs/rehearsals.txt does not hold the box"
echo "== release: passed"
