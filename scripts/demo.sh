#!/usr/bin/env bash
# Runs the installer on the demo installation end to end: builds the release preset when needed,
# writes the demo release into a fresh folder, runs the installer from the installation's bin
# folder (the payload it carries is resources/, which is the demo payload), and finishes with
# kxtool verify's report of every pack and the game executable.
#
# Everything the run touches stays inside the fresh folder: the mutex and launcher socket
# (XDG_RUNTIME_DIR), the per-user files (XDG_CONFIG_HOME, HOME) and temporary files (TMPDIR).
# Settings: KXPATCH_DEMO_BUILD_DIR (default build/linux-release), KXPATCH_JOBS (default nproc).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${KXPATCH_DEMO_BUILD_DIR:-build/linux-release}
jobs=${KXPATCH_JOBS:-$(nproc)}

scripts/deps.sh build-essential cmake ninja-build zlib1g-dev libgtest-dev libcurl4-openssl-dev xdelta3
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset linux-release -B "$build" >/dev/null
fi
cmake --build "$build" --target kxpatch_installer kxtool -j"$jobs" >/dev/null
installer=$root/$build/app/2.650-2.651Pack
kxtool=$root/$build/tools/kxtool/kxtool

work=$(mktemp -d "${TMPDIR:-/tmp}/kxpatch-demo.XXXXXX")
mkdir -p "$work/run" "$work/config" "$work/home" "$work/tmp"
echo "== demo release in $work/release"
TMPDIR=$work/tmp "$kxtool" demo "$work/release"
cp -r "$work/release/2.650" "$work/game"

echo "== before: $work/game"
TMPDIR=$work/tmp "$kxtool" verify "$work/game" "$work/release/payload/MD5.txt" 2.650 2.651 --allow-old

echo "== installer"
(
  cd "$work/game/bin"
  XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config HOME=$work/home TMPDIR=$work/tmp \
    "$installer" </dev/null
)

echo "== after: $work/game"
TMPDIR=$work/tmp "$kxtool" verify "$work/game" "$work/game/bin/MD5.txt" 2.650 2.651
echo "demo folder: $work"
