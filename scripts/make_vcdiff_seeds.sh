#!/usr/bin/env bash
# Writes seeds for the VCDIFF fuzz target into DIR: small source/target pairs encoded with
# xdelta3, each seed laid out as the target reads it (source length in two bytes, big-endian,
# the source, the delta). Usage: make_vcdiff_seeds.sh DIR
set -euo pipefail
out=$1
command -v xdelta3 >/dev/null || { echo "make_vcdiff_seeds: xdelta3 is missing" >&2; exit 1; }
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

text="scripts/a.pyc entry=12 layout=grid model=hero_01 texture=hero_01_d.dds table:9;"
seed() {  # NAME SOURCE TARGET XDELTA3-FLAGS...
  local name=$1 source=$2 target=$3
  shift 3
  printf '%s' "$source" >"$work/s"
  printf '%s' "$target" >"$work/t"
  xdelta3 -e -9 -f -D "$@" -s "$work/s" "$work/t" "$work/d"
  local n=${#source}
  { printf "\\x$(printf %02x $((n >> 8)))\\x$(printf %02x $((n & 255)))"
    cat "$work/s" "$work/d"; } >"$out/$name"
}
seed edit "$text$text" "${text}scripts/b.pyc entry=13 ${text}" -S none -A -n
seed checksum-apphead "$text$text" "${text/hero/villain}$text" -S none
seed empty-source "" "$text" -S none -A
seed repeats "$text" "$(printf 'ab%.0s' {1..200})$text" -S none -A -n
seed empty-target "$text" "" -S none -n
