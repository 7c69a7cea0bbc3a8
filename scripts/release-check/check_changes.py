#!/usr/bin/env python3
"""Compares a release's JSON report with the generator's own record of what it changed.

    check_changes.py REPORT RECORD VERSION

REPORT is release-report.json, RECORD the file make_installation.py --record wrote, VERSION the
release's new version. Every pack's replaced, added and deleted entries and every loose folder's
added, changed and deleted files must be the same, names and sizes, and the totals must add up.
Exit 1 with the differences otherwise.
"""
import json
import sys


def as_set(changes):
    return {(c["name"], c["oldSize"], c["newSize"]) for c in changes}


def compare(label, reported, recorded, words, problems):
    for word in words:
        got, want = as_set(reported.get(word, [])), as_set(recorded[word])
        for item in sorted(want - got, key=str):
            problems.append("%s: %s %s missing from the report" % (label, word, item))
        for item in sorted(got - want, key=str):
            problems.append("%s: %s %s reported, but not made" % (label, word, item))
        total = reported.get("totals", {}).get(word)
        if total != len(reported.get(word, [])):
            problems.append("%s: totals.%s is %s for %d listed" % (
                label, word, total, len(reported.get(word, []))))


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    with open(argv[1]) as f:
        report = json.load(f)
    with open(argv[2]) as f:
        record = json.load(f)[argv[3]]
    problems = []
    if report.get("to") != argv[3]:
        problems.append("the report is of version %s, not %s" % (report.get("to"), argv[3]))
    packs = {p["pack"]: p for p in report["packs"]}
    if set(packs) != set(record["packs"]):
        problems.append("packs reported: %s" % sorted(packs))
    for pack, recorded in sorted(record["packs"].items()):
        compare(pack, packs.get(pack, {}), recorded, ("replaced", "added", "deleted"), problems)
    folders = {f["folder"]: f for f in report["loose"]}
    for folder, recorded in sorted(record["loose"].items()):
        compare(folder, folders.get(folder, {}), recorded, ("added", "changed", "deleted"),
                problems)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
