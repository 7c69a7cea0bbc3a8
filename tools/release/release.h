// Making releases of the game data: the patch archive between two versions of a pack, the
// check-table block of an installation, and a complete, deterministic test release (the old
// installation, the state the installer must turn it into, and the payload between them).
//
// Everything here writes archives through the archive library; there is no second encoder of
// the format. Paths use the platform's separator.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "integrity/game_packs.h"

class ArchiveEvents;
class KXFileSystem;

namespace release {

// One file of an archive or folder: name (with "/" between levels) and content.
using NamedContent = std::pair<std::string, std::string>;

// Writes an archive holding `entries` (content compressed as the archive library stores new
// content; a name ending in "/" is a folder entry). Entries with the same name: the last one
// wins. False when it cannot be written.
[[nodiscard]] bool writeArchive(const std::string& path, const std::vector<NamedContent>& entries);
// The entries of an archive, decompressed, in archive order (a folder entry's name ending in
// "/"); empty when it cannot be read.
[[nodiscard]] std::vector<NamedContent> readArchive(const std::string& path);

// Writes to `patchOut` every entry of `newPack` that `oldPack` lacks or stores with other bytes
// (copied raw: stored bytes and headers as they are), and a delete-marker entry for every
// entry of `oldPack` that `newPack` lacks. Two equal packs give the 22-byte empty archive.
[[nodiscard]] bool makePatchArchive(const std::string& oldPack, const std::string& newPack,
                                    const std::string& patchOut);

// How a pack's replaced entries travel in a patch made with deltas.
struct DeltaCounts {
  size_t deltas = 0;        // entries carried as a delta of their contents
  size_t whole = 0;         // replaced entries carried whole
  uint64_t bytesSaved = 0;  // stored bytes of the delta entries less their delta records
};

// Whether xdelta3, the encoder of the deltas, can be run.
[[nodiscard]] bool deltaEncoderAvailable();

// Rewrites the patch at `patchPath` (made by makePatchArchive from the same packs) so that
// each entry it replaces, one OLD's and NEW's pack both hold under that name, travels as a
// delta record (method kMethodDelta) when that is smaller than the entry's stored bytes: a
// VCDIFF of the contents made by xdelta3 and the deflate settings that turn NEW's contents
// into NEW's stored bytes. Entries whose contents exceed the delta bound, whose settings
// cannot be found or whose delta is not smaller go whole; a record is kept only once it is
// shown to rebuild its entry (makeDeltaRecord). Up to `workers` entries (0: one per hardware
// thread) are encoded at once, within a bound on the contents they hold; the patch is the same
// whatever their number. `workDir` takes the encoder's files. False with `error` set when an
// entry cannot be read, the encoder fails or the patch cannot be written.
[[nodiscard]] bool deltaPatchArchive(const std::string& oldPack, const std::string& newPack,
                                     const std::string& patchPath, const std::string& workDir,
                                     DeltaCounts& counts, std::string& error,
                                     unsigned workers = 0);

// Whether `path` is the folder `dir` or lies inside it (links and ".." resolved).
[[nodiscard]] bool isInsideFolder(const std::string& path, const std::string& dir);

// Why an entry of 100 MiB or more is refused: the archive writer meets it with a modal box.
inline constexpr const char* kOversizedReason =
    "100 MiB or more, which makes the installer show every player a modal \"error\" box";

// Why `files` cannot become one archive (count, name length, clashing or shadowed names, an
// entry of 100 MiB or more, 2 GiB in all), or "" when they can.
[[nodiscard]] std::string archiveLimitProblem(const std::vector<NamedContent>& files);
// The first record of the archive at `archivePath` whose stored bytes are 100 MiB or more, as
// "name (N bytes stored)", or "".
[[nodiscard]] std::string oversizedEntry(const std::string& archivePath);
// The same for an archive already open, which is not read again.
[[nodiscard]] std::string oversizedEntry(const KXFileSystem& archive);
// The offset of the first byte where two files differ (the shorter one's length when one is
// the start of the other), -1 when they are equal; 0 when either cannot be opened (or no memory
// can be had to compare them).
[[nodiscard]] int64_t firstDifference(const std::string& a, const std::string& b);

struct Rehearsal {
  bool written = true;          // the installer's writer finished the merged pack
  bool sameEntries = false;     // it holds NEW's entries, name for name and byte for byte
  int64_t firstDifference = 0;  // -1 when the merged pack is NEW's file byte for byte
};
// What the installer makes of `oldPack` with the patch: an empty patch leaves it as it is,
// otherwise it is merged and rewritten (through `scratch` + "temp", removed afterwards). The
// result is compared with `newPack`.
[[nodiscard]] Rehearsal rehearsePatch(const std::string& oldPack, const std::string& patchPath,
                                      const std::string& newPack, const std::string& scratch,
                                      ArchiveEvents* events = nullptr);

// getSizeCRC32Value made fit for a table: when a window of a file of kSampledCrcMinBytes or
// more cannot be read, the installer's function gives the size alone, which no run would ever
// match for the intact file; a tool must refuse that with kReadDataFailed instead of writing it.
[[nodiscard]] std::string sizeCrcValueForTable(const std::string& path);
// Whether `value`, getSizeCRC32Value of a file of `size` bytes, is a whole value (the CRC after
// the size for files of kSampledCrcMinBytes or more). Failure texts are whole values here.
[[nodiscard]] bool sizeCrcValueIsWhole(const std::string& value, int64_t size);

// The check-table block "<mox" + version + ">" ... "</mox" + version + ">" (LF line ends, TAB
// indentation) with the fingerprints of the six packs and bin/mox.exe of `installDir`, in the
// forms the installer compares.
[[nodiscard]] std::string makeCheckTableBlock(const std::string& installDir,
                                              const std::string& version);

// The keys of a version block: the six packs, then the game executable.
[[nodiscard]] std::vector<std::string> checkTableKeys();
// Why a block from makeCheckTableBlock cannot ship ("cannot fingerprint KEY: failure text"),
// or "" when every value is a fingerprint.
[[nodiscard]] std::string checkTableBlockProblem(const std::string& block);

// The packed "scripts_config.xml" whose root holds the text value "version".
[[nodiscard]] std::string makeScriptsConfig(const std::string& version);

// The payload file of the results table (integrity/results_table.h).
inline constexpr const char* kResultsFileName = "Results.txt";

// The results table of the payload in `payloadDir` (whose pack patches, bin and cache archives
// are written) for the installation `newDir`: each pack whose patch holds entries, with NEW's
// size and CRC of every byte, and each loose file the bin and cache archives write. The first
// line names `from` and `to`. False with `error` set when a pack of NEW cannot be read or two
// entries would be recorded under one name.
[[nodiscard]] bool makeResultsTable(const std::string& payloadDir, const std::string& newDir,
                                    const std::string& from, const std::string& to,
                                    std::string& text, std::string& error);
// The same, written to `payloadDir`/Results.txt.
[[nodiscard]] bool writeResultsTable(const std::string& payloadDir, const std::string& newDir,
                                     const std::string& from, const std::string& to,
                                     std::string& error);

struct TestReleaseOptions {
  // Packs (indexes of kGamePacks) whose content differs between the two versions; each gets a
  // patch with a changed, an added and a deleted entry. The others get the empty archive.
  std::vector<int> changedPacks{kVemoPack, kCNPack};
  // Entries of the bin and cache payload archives; empty content deletes the target.
  std::vector<NamedContent> binEntries;
  std::vector<NamedContent> cacheEntries;
  // Bytes of the incompressible entry that makes each of the first four packs large enough for
  // the size-plus-CRC fingerprint (at least 3 MiB).
  size_t largePackBytes = 3145728 + 4096;
  // The pack patches carry their replaced entries as deltas where smaller (deltaPatchArchive;
  // xdelta3 must be installed).
  bool delta = false;
};

// Writes `dir`/2.650 (a complete installation at the old version: the six packs, bin with
// "RakNet.dll" and "mox.exe", cache), `dir`/2.651 (the state the installer must produce,
// MD5.txt in bin included) and `dir`/payload (the eight archives, "MD5.txt" and "Results.txt"
// under the names the build embeds). Deterministic: the same options give the same bytes. False on a failure.
[[nodiscard]] bool makeTestRelease(const std::string& dir, const TestReleaseOptions& options = {});

}  // namespace release
