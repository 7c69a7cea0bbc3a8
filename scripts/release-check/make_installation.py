#!/usr/bin/env python3
"""Game installations of successive versions, written independently of kxpatch's own code.

    make_installation.py OUT VERSION [VERSION...] [--seed N] [--record FILE]

Writes OUT/VERSION for every version given (any versions, in the order given). The first is a
fresh installation; each later one is the one before it with a release's worth of changes:
entries replaced, added and deleted in the packs, bin/mox.exe and other loose files added,
changed and deleted. The same arguments always give the same bytes, so OUT/2.651 from
"2.650 2.651" equals OUT/2.651 from "2.650 2.651 2.652".

--record FILE writes, as JSON, what each step changed: for each later version, per pack the
replaced, added and deleted entries and per loose folder the added, changed and deleted files,
each with its size before and after (null where there is none), names as characters.

The packs are written here from the archive layout alone (nothing of kxpatch is imported or
run), so that a release check built on them does not share a misreading with the tools under
test. The check table is not written: making it is the release tool's job.
"""
import copy
import json
import os
import random
import struct
import sys
import zlib

LARGE_PACKS = ["qdres_packed.kx", "gameRes_packed.kx", "kxres_packed.kx", "res_packed.kx"]
SMALL_PACKS = ["vemo_packed.kx", "CN_packed.kx"]
CONFIG = "scripts_config.xml"
# Large packs are kept above this size, where the installer fingerprints them by size plus a
# CRC of three windows instead of a whole-file CRC.
SAMPLED_FINGERPRINT_SIZE = 3 * 1024 * 1024

# --- archive writing -------------------------------------------------------------------------


def store_form(content):
    """(method, stored bytes) as the game's tool chooses them: a nested archive (content
    beginning with "PK") is stored, other content is raw-deflated at level 6 unless the stream
    would need more than one byte beyond the content, in which case it is stored too."""
    if len(content) > 2 and content[:2] == b"PK":
        return 0, content
    packer = zlib.compressobj(6, zlib.DEFLATED, -15, 8, zlib.Z_DEFAULT_STRATEGY)
    packed = packer.compress(content) + packer.flush(zlib.Z_FINISH)
    if len(packed) <= len(content) + 1:
        return 8, packed
    return 0, content


def write_archive(path, entries):
    """entries: name (bytes) -> content (bytes), or None for a folder entry. Entries go in
    ascending unsigned byte order of their names (a folder entry sorts by its name without the
    slash it is stored with), local records first, then the directory, then the footer."""
    body, directory = bytearray(), bytearray()
    names = sorted(entries)
    for name in names:
        content = entries[name]
        if content is None:
            method, stored, size, stored_name = 0, b"", 0, name + b"/"
        else:
            method, stored = store_form(content)
            size, stored_name = len(content), name
        offset = len(body)
        # signature, reserved, compressed size, size, version 10, name length, flag, method,
        # reserved, reserved CRC, extra length
        body += struct.pack("<IHIIHHHHHIH", 0x04034B50, 0, len(stored), size, 10,
                            len(stored_name), 0, method, 0, 0, 0)
        body += stored_name + stored
        # signature, time, date, compressed size, size, version twice, local header offset,
        # flag, method, reserved, name length, extra length, comment length, 8 reserved bytes
        directory += struct.pack("<IHHIIHHIHHIHHH8s", 0x02014B50, 0, 0, len(stored), size, 10,
                                 10, offset, 0, method, 0, len(stored_name), 0, 0, bytes(8))
        directory += stored_name
    # directory size, signature, reserved, directory offset, reserved, count twice, comment
    footer = struct.pack("<IIHIHHHH", len(directory), 0x06054B50, 0, len(body), 0,
                         len(names), len(names), 0)
    with open(path, "wb") as out:
        out.write(body + directory + footer)


# A loose file whose name is GBK bytes (not UTF-8), as the players' file systems hold them.
GBK_CACHE_FILE = "maps/" + b"\xb5\xd8\xcd\xbc".decode("utf-8", "surrogateescape") + ".dat"

# --- contents --------------------------------------------------------------------------------

WORDS = (b"mesh texture shader bone anim skin terrain water sky light shadow quest npc item "
         b"skill buff map zone spawn loot sound music effect particle font ui button panel "
         b"\xd6\xd0\xce\xc4 \xb5\xc8\xbc\xb6 \xc8\xce\xce\xf1").split()


def noise(rng, size):
    """Incompressible bytes: stored, not deflated, and they keep the large packs large."""
    return rng.randbytes(size)


def text(rng, size):
    """Compressible text (deflated); never starts with "PK" and never empty."""
    words = []
    length = 0
    while length < size:
        word = rng.choice(WORDS)
        words.append(word)
        length += len(word) + 1
    return (b" ".join(words))[:size].rstrip() + b"\n"


def nested_archive(rng, size):
    """Content that is itself an archive: the tool stores it whatever it holds."""
    return b"PK\x03\x04" + text(rng, size)


def config(version):
    # Plain configuration text: the installer's section reader takes an entry whose first
    # non-blank byte is "<" as XML.
    return (b"<script_config>\r\n\t<version>" + version.encode() +
            b"</version>\r\n\t<server>login.example.invalid</server>\r\n</script_config>\r\n")


def folder_of(pack):
    """The folder a large pack keeps its entries in: "qdres" for qdres_packed.kx."""
    return pack.split("_")[0].encode()


def fresh_installation(rng, version):
    packs = {}
    for index, pack in enumerate(LARGE_PACKS):
        entries = {}
        folder = folder_of(pack)
        entries[folder] = None  # a folder entry, stored with its trailing slash
        # Incompressible blobs, about 3.6 MiB in all.
        for n in range(6):
            entries[folder + b"/blob%02d.bin" % n] = noise(rng, 600 * 1024 + rng.randrange(4096))
        for n in range(12):
            entries[folder + b"/text%02d.txt" % n] = text(rng, rng.randrange(2000, 40000))
        entries[folder + b".txt"] = text(rng, 3000)  # sorts between the folder and its entries
        entries[folder + b"/nested.kx"] = nested_archive(rng, 5000)
        entries[folder + b"/\xc8\xcb\xce\xef.txt"] = text(rng, 800)  # a name with high bytes
        entries[b"readme%d.txt" % index] = text(rng, 1500)
        entries[folder + b"/empty"] = None  # a folder entry with nothing in it
        entries[folder + b"/models/lod/far%d.mesh" % index] = text(rng, 4000)
        packs[pack] = entries
    for pack in SMALL_PACKS:
        entries = {CONFIG.encode(): config(version)}
        for n in range(8):
            entries[b"scripts/mod%02d.pyc" % n] = text(rng, rng.randrange(1000, 30000))
        entries[b"ui/atlas.dds"] = noise(rng, 120 * 1024)
        entries[b"ui/layout.xml"] = text(rng, 9000)
        entries[b"ui/placeholder.txt"] = b""  # an entry with no bytes at all
        packs[pack] = entries
    bin_files = {
        "RakNet.dll": noise(rng, 40000),
        "mox.exe": b"MZ" + noise(rng, 300000),
        "render.dll": b"MZ" + noise(rng, 80000),
        "launcher.ini": text(rng, 600),
    }
    cache_files = {"index.dat": text(rng, 5000), "shaders/basic.fxo": noise(rng, 20000),
                   "shaders/water.fxo": noise(rng, 15000), "maps/zone01.chunk": noise(rng, 60000),
                   # very compressible: the installer inflates loose files by their own size
                   "maps/zone01.heights": b"\x00\x01" * 150000}
    cache_files[GBK_CACHE_FILE] = text(rng, 2000)
    for n in range(5):
        cache_files["maps/tile%02d.dat" % n] = text(rng, rng.randrange(500, 8000))
    return {"packs": packs, "bin": bin_files, "cache": cache_files,
            "other": {"readme.txt": text(rng, 2000)}}


def change_pack(rng, entries, folder, tag, replace=0, add=0, delete=0):
    """Replaces, adds and deletes file entries (never the folder entry or the configuration).
    In a large pack (folder given) the first replaced entry is an incompressible blob that
    grows, so the pack's size, and with it its fingerprint, always changes; blobs are never
    deleted, so the pack stays above the sampled-fingerprint size."""
    files = sorted(n for n, c in entries.items() if c is not None and n != CONFIG.encode())
    blobs = [n for n in files if n.endswith(b".bin")]
    chosen = rng.sample(blobs, 1) if folder and replace else []
    chosen += rng.sample([n for n in files if n not in chosen], replace - len(chosen))
    for name in chosen:
        old = entries[name]
        if old[:2] == b"PK":
            entries[name] = nested_archive(rng, len(old) + 100)
        elif name.endswith(b".bin") or name.endswith(b".dds"):
            entries[name] = noise(rng, len(old) + rng.randrange(1, 9000))
        else:
            entries[name] = text(rng, len(old) + rng.randrange(-400, 400))
    for name in rng.sample([n for n in files if n not in chosen and n not in blobs], delete):
        del entries[name]
    for n in range(add):
        if folder and n == 0:
            entries[folder + b"/added_%s.bin" % tag.encode()] = noise(rng, 200 * 1024)
        else:
            name = (folder or b"scripts") + b"/added_%s_%d.txt" % (tag.encode(), n)
            entries[name] = text(rng, rng.randrange(500, 9000))


def next_installation(installation, rng, step, version):
    """A release's changes. Which large packs change rotates with the step, so that over two
    releases every large pack is once patched in full, once only partly or not at all (an
    empty patch)."""
    packs = installation["packs"]
    full = [LARGE_PACKS[(2 * step) % 4], LARGE_PACKS[(2 * step + 3) % 4]]
    partly = LARGE_PACKS[(2 * step + 1) % 4]
    for pack in full:
        change_pack(rng, packs[pack], folder_of(pack), version, replace=3, add=2, delete=2)
    change_pack(rng, packs[partly], folder_of(partly), version, replace=1)
    for pack in SMALL_PACKS:
        packs[pack][CONFIG.encode()] = config(version)
        change_pack(rng, packs[pack], None, version, replace=2, add=1, delete=1)

    bin_files = installation["bin"]
    bin_files["mox.exe"] = b"MZ" + noise(rng, 300000 + rng.randrange(1, 5000))
    bin_files["render.dll"] = b"MZ" + noise(rng, 80000)
    added = "plugin_%s.dll" % version.replace(".", "_")
    bin_files[added] = b"MZ" + noise(rng, 12000)
    previous = sorted(n for n in bin_files if n.startswith("plugin_") and n != added)
    for name in previous:
        del bin_files[name]

    cache = installation["cache"]
    cache["index.dat"] = text(rng, 5200)  # changed
    cache["shaders/water.fxo"] = noise(rng, 15500)  # changed, in a sub-folder
    cache[GBK_CACHE_FILE] = text(rng, 2100)  # changed, its name in GBK bytes
    cache["maps/zone01.heights"] = b"\x00\x02" * 151000  # changed, very compressible
    tiles = sorted(n for n in cache if n.startswith("maps/tile"))
    del cache[tiles[0]]  # deleted
    cache["maps/tile_%s.dat" % version] = text(rng, 3000)  # added, in a folder OLD has
    cache["added_%s.dat" % version] = noise(rng, 7000)  # added at the top
    # added in folders OLD does not have, two levels deep: the installer makes them
    cache["areas/area_%s/terrain.dat" % version.replace(".", "_")] = noise(rng, 4000)
    bin_files["mods_%s/mod.ini" % version.replace(".", "_")] = text(rng, 400)
    return installation


# --- writing an installation -----------------------------------------------------------------


def write_files(folder, files):
    for name, content in files.items():
        assert content, "an empty loose file would mean a deletion to the installer"
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(content)


def write_installation(root, installation):
    os.makedirs(root)
    for pack, entries in installation["packs"].items():
        path = os.path.join(root, pack)
        write_archive(path, entries)
        if pack in LARGE_PACKS and os.path.getsize(path) < SAMPLED_FINGERPRINT_SIZE:
            raise SystemExit("%s: %d bytes, below the sampled-fingerprint size" %
                             (path, os.path.getsize(path)))
    write_files(os.path.join(root, "bin"), installation["bin"])
    write_files(os.path.join(root, "cache"), installation["cache"])
    write_files(root, installation["other"])


def shown(name):
    """A name as characters: pack names are GBK bytes, loose names GBK bytes held in a str."""
    if isinstance(name, str):
        name = name.encode("utf-8", "surrogateescape")
    return name.decode("gbk")


def changes(before, after, words):
    """What turned `before` (name -> content) into `after`, under the three words given."""
    changed, added, deleted = [], [], []
    for name in sorted(after):
        if name not in before:
            added.append({"name": shown(name), "oldSize": None, "newSize": len(after[name])})
        elif before[name] != after[name]:
            changed.append({"name": shown(name), "oldSize": len(before[name]),
                            "newSize": len(after[name])})
    for name in sorted(set(before) - set(after)):
        deleted.append({"name": shown(name), "oldSize": len(before[name]), "newSize": None})
    return dict(zip(words, (changed, added, deleted)))


def record_step(before, after):
    packs = {pack: changes(before["packs"][pack], after["packs"][pack],
                           ("replaced", "added", "deleted")) for pack in after["packs"]}
    loose = {folder: changes(before[folder], after[folder], ("changed", "added", "deleted"))
             for folder in ("bin", "cache")}
    return {"packs": packs, "loose": loose}


def main(argv):
    seed, record_path = 18, None
    if "--seed" in argv:
        at = argv.index("--seed")
        seed = int(argv[at + 1])
        del argv[at:at + 2]
    if "--record" in argv:
        at = argv.index("--record")
        record_path = argv[at + 1]
        del argv[at:at + 2]
    if len(argv) < 3:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    out, versions = argv[1], argv[2:]
    for version in versions:
        if os.path.exists(os.path.join(out, version)):
            sys.stderr.write("%s: exists already\n" % os.path.join(out, version))
            return 1
    installation = fresh_installation(random.Random("%d:%s" % (seed, versions[0])), versions[0])
    write_installation(os.path.join(out, versions[0]), installation)
    record = {}
    for step, version in enumerate(versions[1:]):
        previous = copy.deepcopy(installation)
        installation = next_installation(installation, random.Random("%d:%s" % (seed, version)),
                                         step, version)
        record[version] = record_step(previous, installation)
        write_installation(os.path.join(out, version), installation)
    if record_path:
        with open(record_path, "w") as f:
            json.dump(record, f, indent=1, sort_keys=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
