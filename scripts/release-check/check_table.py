#!/usr/bin/env python3
"""Checks a release's table against the installations it describes, computed here without kxpatch.

    check_table.py TABLE VERSION=INSTALLATION...

For every version given, the table's block for it must hold exactly the fingerprints of that
installation's files: the four large packs by size plus a CRC-32 chained over three 1 MiB
windows (start, middle, last MiB; the size alone below 3 MiB), the vemo and CN packs and
bin/mox.exe by the CRC-32 of the whole file. Exit 1 on the first difference.
"""
import os
import re
import sys
import zlib

MIB = 1024 * 1024
SAMPLED = ["gameRes_packed.kx", "qdres_packed.kx", "kxres_packed.kx", "res_packed.kx"]
WHOLE = ["vemo_packed.kx", "CN_packed.kx", "bin/mox.exe"]


def hex8(crc):
    return "%08x" % (crc & 0xFFFFFFFF)


def sampled(path):
    size = os.path.getsize(path)
    if size < 3 * MIB:
        return str(size)
    crc = 0
    with open(path, "rb") as f:
        for offset in (0, size // 2, size - MIB):
            f.seek(offset)
            crc = zlib.crc32(f.read(MIB), crc)
    return str(size) + hex8(crc)


def whole(path):
    with open(path, "rb") as f:
        return hex8(zlib.crc32(f.read()))


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    with open(argv[1], "rb") as f:
        table = f.read().decode("latin-1")
    for pair in argv[2:]:
        version, root = pair.split("=", 1)
        block = re.search(r"^<mox%s>\r?\n(.*?)^</mox%s>" % (re.escape(version), re.escape(version)),
                          table, re.S | re.M)
        if not block:
            print("%s: no block for %s" % (argv[1], version))
            return 1
        for name in SAMPLED + WHOLE:
            key = "Halvoreen\\" + name.replace("/", "\\")
            found = re.search(r"<%s>([^<]*)</%s>" % (re.escape(key), re.escape(key)), block.group(1))
            path = os.path.join(root, *name.split("/"))
            expected = sampled(path) if name in SAMPLED else whole(path)
            if not found or found.group(1) != expected:
                print("%s, block %s: %s is %s, but %s has %s" % (
                    argv[1], version, key, found.group(1) if found else "missing", path, expected))
                return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
