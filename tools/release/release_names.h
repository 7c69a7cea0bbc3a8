// What a release may do to the names of an installation. The installer runs on Windows volumes
// in the players' code page (GBK), so a loose file must have a name such a volume can hold, must
// not meet another file under Windows' case-insensitive comparison, and must not be one of the
// names the installer uses for itself. It must also leave alone the files the installer finds
// and checks the installation by.
#pragma once

#include <string>
#include <vector>

#include "tools/release/release.h"

namespace release {

// Why one path component (GBK bytes) cannot be a file or folder name on a Windows volume, or
// "" when it can: not GBK, a 0x5C byte inside a GBK character (the installer's path separator),
// a character Windows forbids, a trailing dot or space, a reserved device name.
[[nodiscard]] std::string windowsNameProblem(const std::string& component);

// A name folded the way Windows compares file names: letters upper-cased (Latin, full-width
// Latin, Greek, Cyrillic, Roman numerals; the letters GBK holds), other characters as they are.
// A name that is not GBK folds its ASCII letters only.
[[nodiscard]] std::u16string foldedName(const std::string& gbk);

// The names, relative with "/" between levels, of the regular files under `dir` (sorted), and
// of its folders. False with `error` set when the folder cannot be read.
[[nodiscard]] bool listFolder(const std::string& dir, std::vector<std::string>& files,
                              std::vector<std::string>& folders, std::string& error);

// Checks the change of one loose-file folder ("bin" or "cache") before it ships: `entries` are
// the payload entries (empty content: deleted), `newFiles` and `newFolders` everything the
// folder holds in NEW. False with `error` naming the file and the reason.
[[nodiscard]] bool checkLooseNames(const std::string& folder,
                                   const std::vector<NamedContent>& entries,
                                   const std::vector<std::string>& newFiles,
                                   const std::vector<std::string>& newFolders, std::string& error);

// The files the installer finds and checks the installation by: a release that deletes or
// empties one is refused, naming the file and why. Also refuses the installer's own working
// files (temporary archives, the kept pack, the journal) left in either installation's folder.
[[nodiscard]] bool checkInstallerGround(const std::string& oldDir, const std::string& newDir,
                                        std::string& error);

}  // namespace release
