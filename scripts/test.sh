#!/usr/bin/env bash
# Installs what the tests need, builds and runs every test: the native suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, a release build's suite, the Windows builds
# with their tests under Wine, and the release script on the demo release.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/deps.sh build-essential cmake ninja-build zlib1g-dev libgtest-dev libcurl4-openssl-dev \
  python3 python3-pyftpdlib zip unzip 7zip openssl osslsigncode vsftpd xdelta3

# Seconds: a configuration of its own, before anything is built.
echo "== library graph"
scripts/check_deps.py

for preset in linux-asan linux-release; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  echo "== $preset: test"
  ctest --preset "$preset" -j"$jobs"
done

echo "== log server configuration"
scripts/log-server/check.sh build/linux-release

if [ -x scripts/test_windows.sh ] && [ "${KXPATCH_SKIP_WINDOWS:-0}" != 1 ]; then
  echo "== windows"
  scripts/test_windows.sh
fi
# The release script on the demo release, signed with a throw-away certificate, and on two
# generated releases; both reuse the linux-release and win32 trees built above.
if [ "${KXPATCH_SKIP_WINDOWS:-0}" != 1 ]; then
  echo "== release"
  KXPATCH_RELEASE_BUILD=$PWD/build scripts/test_release.sh
  # Two releases in a row on installations written without the project's own archive code.
  echo "== release check"
  KXPATCH_RELEASE_BUILD=$PWD/build scripts/release-check/run.sh
fi
if [ -x scripts/fuzz_smoke.sh ]; then
  echo "== fuzz smoke"
  scripts/fuzz_smoke.sh
fi
echo "== all tests passed"
