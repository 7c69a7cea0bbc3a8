#!/usr/bin/env bash
# Installs what the tests need, builds and runs every test: the native suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, a release build's suite, and the Windows
# builds with their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/deps.sh build-essential cmake ninja-build zlib1g-dev libgtest-dev libcurl4-openssl-dev \
  python3 python3-pyftpdlib zip unzip 7zip vsftpd

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
if [ -x scripts/fuzz_smoke.sh ]; then
  echo "== fuzz smoke"
  scripts/fuzz_smoke.sh
fi
echo "== all tests passed"
