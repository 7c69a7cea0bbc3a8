// Payload archives for the installer's loose-file folders (bin and cache) made from two versions
// of a folder. The installer writes every entry of such an archive into the folder (making the
// folders on the way that are missing) and deletes the file of every entry that has no content.
#pragma once

#include <string>
#include <vector>

#include "tools/release/release.h"

namespace release {

// The regular files under `dir`, names relative with "/" between levels, sorted by name (byte
// order). False with `error` set when the folder cannot be read.
[[nodiscard]] bool readFolder(const std::string& dir, std::vector<NamedContent>& files,
                              std::string& error);

// The entries that turn folder `oldDir` into folder `newDir`: every file of `newDir` that
// `oldDir` lacks or holds with other bytes, and an empty entry for every file of `oldDir` that
// `newDir` lacks. Refused, with `error` set, when the installer could not carry out the result:
// an empty file in `newDir` (it would read as "delete").
[[nodiscard]] bool diffFolders(const std::string& oldDir, const std::string& newDir,
                               std::vector<NamedContent>& entries, std::string& error);

}  // namespace release
