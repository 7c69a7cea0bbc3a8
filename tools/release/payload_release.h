// The whole payload of an installer from two installations in one step: the six pack patches,
// the bin and cache archives, the check table and the results table (the size and CRC
// of every file the installer writes), each checked the way the installer will use
// it before anything is put in the payload folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ArchiveEvents;

namespace release {

// What "scripts_config.xml" of one pack says: absent, not a data section, or its "version"
// (empty when it has none) in `version`.
enum class ConfigVersion { kAbsent, kNotASection, kRead };
[[nodiscard]] ConfigVersion packVersion(const std::string& packPath, std::string& version);

// The version an installation reads as, the way the installer reads it: "version" of
// "scripts_config.xml" in "CN_packed.kx", else in "vemo_packed.kx". False with `error` set
// when neither holds the entry or it is not a data section.
[[nodiscard]] bool installedVersion(const std::string& installDir, std::string& version,
                                    std::string& error);

// Whether `version` can name a check-table block: not empty, no angle bracket or line end.
[[nodiscard]] bool isVersionText(const std::string& version);
// Whether version `a` is later than `b`. Versions are read as decimals ("2.651" after "2.650",
// "0.885" after "0.81"); texts that are not decimals compare as bytes.
[[nodiscard]] bool isLaterVersion(const std::string& a, const std::string& b);

// The check table of a release: `newBlock`, `oldBlock` (for versions `to` and `from`), then
// `previous` unchanged but for its own block of `from`, which `oldBlock` replaces. Blocks are
// separated by one blank line. False with `error` set when `previous` has two blocks of one
// name, a block of `to`, or a version block not older than `from`.
[[nodiscard]] bool assembleCheckTable(const std::string& newBlock, const std::string& oldBlock,
                                      const std::string& previous, const std::string& from,
                                      const std::string& to, std::string& table,
                                      std::string& error);

struct ReleaseRequest {
  std::string oldDir;
  std::string newDir;
  std::string payloadDir;     // must be empty or absent; its parent must exist
  std::string previousTable;  // path of the previous release's MD5.txt, or ""
  std::string expectedFrom;   // when not empty, the version OLD must read
  std::string expectedTo;     // when not empty, the version NEW must read
  ArchiveEvents* rehearsalEvents = nullptr;  // hears the rehearsed merges; none: silent
  // Replaced pack entries travel as deltas of their contents where that is smaller (made by
  // xdelta3, which must then be installed); loose files always go whole.
  bool delta = false;
};

// One entry or file a release changes, with its size (decompressed) before and after; -1 where
// there is none (an added entry has no old size, a deleted one no new size).
struct Change {
  std::string name;
  int64_t oldSize = -1, newSize = -1;
};

struct PackSummary {
  std::string pack;
  size_t replaced = 0, added = 0, deleted = 0;
  uint64_t patchBytes = 0;
  // With deltas: replaced entries carried as deltas and whole, and the bytes that saved.
  size_t deltaEntries = 0, wholeEntries = 0;
  uint64_t deltaBytesSaved = 0;
  std::vector<Change> replacedEntries, addedEntries, deletedEntries;  // in name order
};

// The loose files of one folder ("bin", "cache") a release adds, changes and deletes.
struct LooseSummary {
  std::string folder;
  std::vector<Change> added, changed, deleted;  // in name order
};

struct ReleaseSummary {
  std::string from, to;
  std::vector<PackSummary> packs;  // the six packs in the installer's order
  size_t looseAdded = 0, looseChanged = 0, looseDeleted = 0;
  std::vector<LooseSummary> loose;  // bin, then cache
  uint64_t payloadBytes = 0;  // the ten files together
};

// One line for each long step ("rehearsing res_packed.kx").
using ReleaseProgress = std::function<void(const std::string&)>;

// Writes the ten payload files into `request.payloadDir` and fills `summary`. Refuses, with
// `error` naming the file and the reason and the payload folder left as it was, when the
// release would not work for players.
[[nodiscard]] bool makeRelease(const ReleaseRequest& request, ReleaseSummary& summary,
                               std::string& error, const ReleaseProgress& progress);

}  // namespace release
