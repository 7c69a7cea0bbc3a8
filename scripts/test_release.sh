#!/usr/bin/env bash
# The release script on the demo release, as CI runs it: a signed installer from the two demo
# installations with a throw-away certificate (the signature must verify, the checksums hold,
# the payload is the demo's), then a release whose rehearsal must fail (an installation without
# bin/RakNet.dll, where the installer refuses to run) and must stop the script.
#
# Environment: KXPATCH_RELEASE_BUILD (default build/, whose linux-release and win32 trees
# scripts/test.sh made; missing trees are built), KXPATCH_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
export KXPATCH_RELEASE_BUILD=${KXPATCH_RELEASE_BUILD:-$src/build}
scripts/deps.sh openssl osslsigncode cmake ninja-build g++ zlib1g-dev libcurl4-openssl-dev

work=$(mktemp -d "${TMPDIR:-/tmp}/kxtestrelease.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 1 \
  -subj "/CN=kxpatch throw-away test certificate" -addext extendedKeyUsage=codeSigning 2>/dev/null
head -c 18 /dev/urandom | base64 >"$work/password"
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

echo "== release: signed demo installer"
scripts/release.sh "$work/demo/2.650" "$work/demo/2.651" "$work/out" \
  --previous-table "$work/previous.txt" --sign "$work/signing.p12" \
  --sign-password-file "$work/password"
exe=$work/out/2.650-2.651Pack.exe
osslsigncode verify -in "$exe" -CAfile "$work/cert.pem" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log" >&2; fail "osslsigncode verify refused $exe"; }
(cd "$work/out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not hold"
for file in "$work/demo/payload"/*; do
  cmp -s "$file" "$work/out/payload/$(basename "$file")" || fail "payload $(basename "$file") is not the demo's"
done
grep -q "^  linux rehearsal: .* all 7 files are at 2.651" "$work/out/release-report.txt" ||
  fail "the report has no passed rehearsal"

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
[ ! -e "$work/refused/2.650-2.651Pack.exe" ] || fail "a failed release left an executable"
echo "== release: passed"
