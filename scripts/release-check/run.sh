#!/usr/bin/env bash
# Two releases in a row on installations that kxpatch's own code did not write
# (make_installation.py writes them from the archive layout alone): 2.650 -> 2.651, then
# 2.651 -> 2.652 on the first release's table. Each goes through scripts/release.sh, which
# rehearses the Linux installer built from the payload on a copy of OLD and fails unless the
# result equals NEW file for file and byte for byte. Here we check in addition what the second
# release must be: named after the versions it read from the installations, its table newest
# first, every fingerprint in both tables the one the installation's files really have, the
# results table listing exactly the files that change, with NEW's sizes and CRCs, and each
# release's JSON report the very changes the generator made (its own record). The first
# release goes without --sign and --previous-table, and its console must say what that lacks.
#
# Environment: KXPATCH_RELEASE_BUILD (default build/, whose linux-release and win32 trees
# scripts/test.sh made; missing trees are built), KXPATCH_JOBS.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
export KXPATCH_RELEASE_BUILD=${KXPATCH_RELEASE_BUILD:-$src/build}

work=$(mktemp -d "${TMPDIR:-/tmp}/kxreleasecheck.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

python3 scripts/release-check/make_installation.py "$work/game" 2.650 2.651 2.652 \
  --record "$work/changes.json"

release() {  # from to out [release.sh options]
  local from=$1 to=$2 out=$3; shift 3
  echo "== release check: $from -> $to"
  scripts/release.sh "$work/game/$from" "$work/game/$to" "$out" "$@" 2>&1 |
    tee "$work/console-$to.txt" || fail "release.sh refused or failed the release $from -> $to"
  [ -f "$out/$from-${to}Pack.exe" ] || fail "no $from-${to}Pack.exe in $out"
  grep -q "^  linux rehearsal: [0-9]* files identical to NEW;.* all 7 files are at $to" \
    "$out/release-report.txt" || fail "$out/release-report.txt has no passed rehearsal"
  python3 scripts/release-check/check_table.py "$out/payload/MD5.txt" \
    "$to=$work/game/$to" "$from=$work/game/$from" || fail "the table of $from -> $to is wrong"
  python3 scripts/release-check/check_changes.py "$out/release-report.json" \
    "$work/changes.json" "$to" || fail "the report of $from -> $to is not what the generator changed"
  python3 scripts/release-check/check_results.py "$out/payload/Results.txt" \
    "$work/game/$from" "$work/game/$to" "$from" "$to" || fail "the results table of $from -> $to is wrong"
}

release 2.650 2.651 "$work/out1"
for omission in "release: warning: not signed (no --sign)" \
                "release: warning: no --previous-table: MD5.txt holds only" \
                "kxtool release: warning: no --previous-table"; do
  grep -qF "$omission" "$work/console-2.651.txt" || fail "the console does not warn: $omission"
done
grep -q "^  deletes cache/maps/tile00.dat (" "$work/console-2.651.txt" ||
  fail "the console does not name the deleted loose file"
release 2.651 2.652 "$work/out2" --previous-table "$work/out1/payload/MD5.txt"
blocks=$(grep -o '^<mox[0-9.]*>' "$work/out2/payload/MD5.txt" | tr -d '\n')
[ "$blocks" = "<mox2.652><mox2.651><mox2.650>" ] ||
  fail "the 2.652 table's blocks are $blocks, not 2.652, 2.651, 2.650"
# The 2.650 block travels unchanged from the table before.
cmp -s <(sed -n '/^<mox2.650>$/,/^<\/mox2.650>$/p' "$work/out1/payload/MD5.txt") \
       <(sed -n '/^<mox2.650>$/,/^<\/mox2.650>$/p' "$work/out2/payload/MD5.txt") ||
  fail "the 2.650 block changed on its way into the 2.652 table"
echo "== release check: passed"
