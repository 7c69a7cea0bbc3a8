#!/usr/bin/env bash
# Builds the installer and runs it on the built-in demo installation.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build-essential cmake ninja-build zlib1g-dev libgtest-dev libcurl4-openssl-dev
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j"$(nproc)"
exe=build/linux-release/app/2.650-2.651Pack
work=$(mktemp -d)
mkdir -p "$work/bin"
cd "$work/bin"
"$OLDPWD/$exe" </dev/null || true
echo "demo folder: $work"
