#!/usr/bin/env python3
"""Checks that the build's library graph is the sources' include graph.

Usage: scripts/check_deps.py [BUILD_DIR]

Reads the targets CMake lists in BUILD_DIR/kxpatch_targets.txt (cmake/TargetManifest.cmake
writes it at every configuration); without BUILD_DIR, configures a scratch tree of its own with
every optional folder on (tools, tests, benchmarks, fuzz targets), so that every library the
CMake files define is seen, a new folder's included.

For every library (the project's static libraries):
  - each project library whose header one of its files includes is linked directly, and each
    project library it links has a header included by one of its files;
  - the same both ways for the outside libraries the sources name: zlib, libcurl, GoogleTest;
  - each library it links is defined before it, and they are declared in the order they are
    defined (libraries lowest first).
For every program: each project library whose header it includes is linked, directly or
through the libraries it links; each library it links directly has a header it includes.

A library's files are its sources, the headers it owns and the files of the platform side not
built here (_win32 on POSIX) it owns. A header belongs to the target that lists it among its
sources, otherwise to the only library with sources in its folder; a file of the other side to
the library that builds its twin, otherwise likewise to its folder's. A header of no library (a
test's or a program's own) counts as part of the files that include it. Prints every mismatch
and exits with 1 when there is one.
"""

import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MANIFEST = "kxpatch_targets.txt"
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
SIDES = (("_posix", "_win32"), ("_win32", "_posix"))

# Outside libraries: the headers that name them and the link names that provide them.
EXTERNAL = {
    "zlib": (re.compile(r"^zlib\.h$"), {"ZLIB::ZLIB"}),
    "libcurl": (re.compile(r"^curl/"), {"CURL::libcurl"}),
    "GoogleTest": (re.compile(r"^g(test|mock)/"),
                   {"GTest::gtest", "GTest::gtest_main", "GTest::GTest", "GTest::Main",
                    "gtest", "gtest_main"}),
}


def external_of_link(link):
    for name, (_, links) in EXTERNAL.items():
        if link in links:
            return name
    return None


def external_of_include(header):
    for name, (pattern, _) in EXTERNAL.items():
        if pattern.search(header):
            return name
    return None


def configure_scratch(tree):
    command = ["cmake", "-S", ROOT, "-B", tree, "-DKXPATCH_BUILD_TESTS=ON",
               "-DKXPATCH_BUILD_TOOLS=ON", "-DKXPATCH_FUZZ=ON"]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if done.returncode != 0:
        sys.stderr.write(done.stdout)
        sys.exit("check_deps: the scratch configuration failed")


def read_manifest(path):
    targets = []
    with open(path, encoding="utf-8") as manifest:
        for line in manifest:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            name, kind, folder, sources, links = line.split("|")
            targets.append({
                "name": name,
                "library": kind == "STATIC_LIBRARY",
                "folder": folder,
                "sources": [s for s in sources.split(",") if s],
                "links": [l for l in links.split(",") if l],
            })
    return targets


def other_side(source):
    stem, ext = os.path.splitext(source)
    for mine, theirs in SIDES:
        for tail in ("", "_test"):
            if stem.endswith(mine + tail):
                twin = stem[: len(stem) - len(mine + tail)] + theirs + tail + ext
                if os.path.isfile(os.path.join(ROOT, twin)):
                    return twin
    return None


def other_side_owners(targets, problems):
    """The files of the platform side this configuration does not build (_win32 on POSIX) in a
    library's folder: each belongs to the target building its twin, otherwise to the only
    library with sources in its folder."""
    listed = {s: t["name"] for t in targets for s in t["sources"]}
    libraries_in = {}
    for target in targets:
        if target["library"]:
            for folder in {os.path.dirname(s) for s in target["sources"]}:
                libraries_in.setdefault(folder, []).append(target["name"])
    owners = {}
    for folder, libraries in libraries_in.items():
        for entry in sorted(os.listdir(os.path.join(ROOT, folder))):
            path = os.path.join(folder, entry) if folder else entry
            if path in listed or not re.search(r"_(win32|posix)(_test)?\.(cpp|c)$", entry):
                continue
            twin = other_side(path)
            if twin in listed:
                owners[path] = listed[twin]
            elif len(libraries) == 1:
                owners[path] = libraries[0]
            else:
                problems.append("%s: no twin built and the folder holds %s" %
                                (path, " and ".join(libraries)))
    return owners


def header_owners(targets, problems):
    listed = {}
    for target in targets:
        for source in target["sources"]:
            if source.endswith(".h"):
                listed[source] = target["name"]
    libraries_in = {}
    for target in targets:
        if target["library"]:
            for folder in sorted({os.path.dirname(s) for s in target["sources"]}):
                libraries_in.setdefault(folder, []).append(target["name"])
    owners = dict(listed)
    for folder, libraries in libraries_in.items():
        for entry in sorted(os.listdir(os.path.join(ROOT, folder))):
            header = os.path.join(folder, entry) if folder else entry
            if not entry.endswith(".h") or header in owners:
                continue
            if len(libraries) == 1:
                owners[header] = libraries[0]
            else:
                problems.append("%s: the folder holds %s; list the header in the sources of the "
                                "one it belongs to" % (header, " and ".join(libraries)))
    return owners


def includes_of(path):
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as source:
        text = source.read()
    for kind, header in INCLUDE.findall(text):
        if kind == "<":
            yield None, header
            continue
        for candidate in (header, os.path.normpath(os.path.join(os.path.dirname(path), header))):
            if os.path.isfile(os.path.join(ROOT, candidate)):
                yield candidate, header
                break
        # Not in the tree: a header the build generates (the versions).


def files_of(target, owners, side_owners):
    files = list(target["sources"])
    files += [h for h, owner in owners.items() if owner == target["name"]]
    files += [f for f, owner in side_owners.items() if owner == target["name"]]
    return sorted(set(files))


def uses_of(target, owners, side_owners):
    """Project libraries and outside libraries the target's files include, each with a witness.
    A header of no library (a test's or a program's own) counts as part of its includer."""
    used, outside = {}, {}
    pending = files_of(target, owners, side_owners)
    seen = set(pending)
    while pending:
        path = pending.pop()
        for resolved, header in includes_of(path):
            if resolved is None:
                name = external_of_include(header)
                if name:
                    outside.setdefault(name, "%s includes <%s>" % (path, header))
                continue
            owner = owners.get(resolved)
            if owner is None and resolved not in seen:
                seen.add(resolved)
                pending.append(resolved)
            elif owner and owner != target["name"]:
                used.setdefault(owner, "%s includes \"%s\"" % (path, header))
    return used, outside


def main():
    if len(sys.argv) > 2:
        sys.exit(__doc__)
    if len(sys.argv) == 2:
        manifest = os.path.join(sys.argv[1], MANIFEST)
        if not os.path.isfile(manifest):
            sys.exit("check_deps: no %s; configure that tree first" % manifest)
        targets = read_manifest(manifest)
    else:
        with tempfile.TemporaryDirectory(prefix="kxdeps.") as tree:
            configure_scratch(tree)
            targets = read_manifest(os.path.join(tree, MANIFEST))

    problems = []
    owners = header_owners(targets, problems)
    side_owners = other_side_owners(targets, problems)
    by_name = {t["name"]: t for t in targets}
    defined_before = {t["name"]: i for i, t in enumerate(targets)}
    libraries = {t["name"] for t in targets if t["library"]}

    def closure(name, seen):
        for link in by_name[name]["links"]:
            if link in libraries and link not in seen:
                seen.add(link)
                closure(link, seen)
        return seen

    checked = 0
    for target in targets:
        name = target["name"]
        used, outside = uses_of(target, owners, side_owners)
        linked = [l for l in target["links"] if l in libraries]
        linked_outside = {external_of_link(l): l for l in target["links"] if external_of_link(l)}
        checked += 1
        if target["library"]:
            for library, witness in sorted(used.items()):
                if library not in linked:
                    problems.append("%s does not link %s, yet %s" % (name, library, witness))
            for library in linked:
                if library not in used:
                    problems.append("%s links %s but includes none of its headers"
                                    % (name, library))
                elif defined_before[library] > defined_before[name]:
                    problems.append("%s is defined before %s, which it links (lowest first)"
                                    % (name, library))
            order = sorted(linked, key=defined_before.get)
            if linked != order:
                problems.append("%s links %s; lowest first: %s"
                                % (name, " ".join(linked), " ".join(order)))
            for lib, witness in sorted(outside.items()):
                if lib not in linked_outside:
                    problems.append("%s does not link %s, yet %s" % (name, lib, witness))
            for lib, link in sorted(linked_outside.items()):
                if lib not in outside:
                    problems.append("%s links %s but includes none of its headers" % (name, link))
        else:
            reachable = closure(name, set())
            reachable_outside = {external_of_link(l) for n in reachable | {name}
                                 for l in by_name[n]["links"] if external_of_link(l)}
            for library, witness in sorted(used.items()):
                if library in libraries and library not in reachable:
                    problems.append("program %s does not link %s, yet %s"
                                    % (name, library, witness))
            for library in linked:
                if library not in used:
                    problems.append("program %s links %s but includes none of its headers"
                                    % (name, library))
            for lib, witness in sorted(outside.items()):
                if lib not in reachable_outside:
                    problems.append("program %s does not link %s, yet %s" % (name, lib, witness))
            for lib, link in sorted(linked_outside.items()):
                if lib not in outside:
                    problems.append("program %s links %s but includes none of its headers"
                                    % (name, link))

    for problem in problems:
        print("check_deps: " + problem)
    if problems:
        return 1
    print("check_deps: %d targets, every include declared and every link used" % checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())
