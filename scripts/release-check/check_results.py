#!/usr/bin/env python3
"""Checks a payload's Results.txt against the installations, independently of kxpatch's code.

    check_results.py RESULTS OLD NEW FROM TO

Every pack and every file of bin and cache that differs between OLD and NEW must be listed,
nothing else may be, and each line must give the NEW file's size and zlib's CRC-32 of all its
bytes. The first line must name FROM and TO. Exits 1, naming each problem, otherwise 0.
"""
import os
import sys
import zlib

PACKS = [b"qdres_packed.kx", b"gameRes_packed.kx", b"kxres_packed.kx", b"res_packed.kx",
         b"vemo_packed.kx", b"CN_packed.kx"]
OWN = {b"bin\\MD5.txt", b"bin\\updater.log", b"bin\\pack.log"}


def read(path):
    with open(path, "rb") as f:
        return f.read()


def files(root):
    """Relative names as the results table writes them (backslashes), to their paths."""
    found = {}
    for pack in PACKS:
        if os.path.isfile(os.path.join(root, pack)):
            found[pack] = os.path.join(root, pack)
    for folder in (b"bin", b"cache"):
        top = os.path.join(root, folder)
        for path, _, names in os.walk(top):
            for name in names:
                full = os.path.join(path, name)
                relative = os.path.relpath(full, root).replace(b"/", b"\\")
                if relative not in OWN:
                    found[relative] = full
    return found


def main():
    results, old, new, version_from, version_to = (os.fsencode(a) for a in sys.argv[1:6])
    lines = read(results).split(b"\n")
    problems = []
    if lines[0] != b"# kxpatch results " + version_from + b" " + version_to:
        problems.append("first line %r does not name %s and %s" % (lines[0], version_from, version_to))
    recorded = {}
    for line in lines[1:]:
        if not line:
            continue
        path, size, crc = line.split(b"\t")
        recorded[path] = (int(size), crc.decode())
    before, after = files(old), files(new)
    changed = {name for name, path in after.items()
               if name not in before or read(before[name]) != read(path)}
    for name in sorted(changed | set(recorded)):
        if name not in changed:
            problems.append("%r is listed but the installer does not write it" % name)
        elif name not in recorded:
            problems.append("%r changes but is not listed" % name)
        else:
            data = read(after[name])
            expected = (len(data), "%08x" % (zlib.crc32(data) & 0xFFFFFFFF))
            if recorded[name] != expected:
                problems.append("%r: listed %r, NEW's file is %r" % (name, recorded[name], expected))
    if problems:
        print("\n".join(problems))
        return 1
    print("results table: %d files, each NEW's size and CRC" % len(recorded))
    return 0


if __name__ == "__main__":
    sys.exit(main())
