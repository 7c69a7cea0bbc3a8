"""What scripts/test_windows.sh compares after its runs: installation trees and the records of
the message-box responder (tests/win/kxtest_responder.cpp)."""
import os


def tree(root):
    """Every file below root by its relative path, logs left out (they carry each platform's
    paths)."""
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            rel = os.path.relpath(os.path.join(folder, name), root)
            if not rel.endswith(".log"):
                with open(os.path.join(folder, name), "rb") as f:
                    files[rel] = f.read()
    return files


def responder_records(path):
    """The boxes the responder answered, as (caption, text) in the installer's GBK bytes, and
    the console Close-item states it saw. A missing record means no box was seen."""
    boxes, close = [], []
    if os.path.exists(path):
        for line in open(path):
            parts = line.strip().split(":")
            if parts[0] == "box":
                boxes.append((bytes.fromhex(parts[1]), bytes.fromhex(parts[2])))
            elif parts[0] == "close":
                close.append(parts[1])
    return boxes, close
