// The release in one step: everything is made in a folder beside the payload folder and moves
// into it only when every check has passed, so a refused release leaves nothing behind.
#include "tools/release/payload_release.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <system_error>

#include "archive/kx_file_system.h"
#include "archive/kx_format.h"
#include "integrity/check_table.h"
#include "integrity/game_packs.h"
#include "platform/platform.h"
#include "tools/release/loose_patch.h"
#include "tools/release/release.h"
#include "tools/release/release_names.h"

namespace release {
namespace {

namespace fs = std::filesystem;

// Files the installer writes into bin itself: never shipped, never compared.
const char* const kInstallerOwnFiles[] = {"MD5.txt", "updater.log", "pack.log"};
constexpr const char* kGameExecutable = "bin/mox.exe";

using platform::joinPath;

bool readBytes(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

bool isInstallerOwn(const std::string& name) {
  for (const char* own : kInstallerOwnFiles)
    if (name == own) return true;
  return false;
}

bool checkInstallation(const std::string& dir, const char* label, std::string& error) {
  std::error_code code;
  if (!fs::is_directory(dir, code)) {
    error = std::string(label) + " " + dir + ": not a folder";
    return false;
  }
  std::vector<std::string> files;
  for (const GamePack& pack : kGamePacks) files.push_back(pack.name);
  files.push_back(kGameExecutable);
  for (const std::string& file : files) {
    if (!fs::is_regular_file(joinPath(dir, file), code)) {
      error = joinPath(dir, file) + ": no such file; " + label + " must be a whole installation";
      return false;
    }
  }
  for (const char* folder : {"bin", "cache"}) {
    if (!fs::is_directory(joinPath(dir, folder), code)) {
      error = joinPath(dir, folder) + ": no such folder; " + label + " must be a whole installation";
      return false;
    }
  }
  return true;
}

bool checkVersions(const ReleaseRequest& request, ReleaseSummary& summary, std::string& error) {
  if (!installedVersion(request.oldDir, summary.from, error) ||
      !installedVersion(request.newDir, summary.to, error))
    return false;
  const struct {
    const std::string& dir;
    const std::string& version;
    const std::string& expected;
    const char* option;
  } sides[] = {{request.oldDir, summary.from, request.expectedFrom, "--from"},
               {request.newDir, summary.to, request.expectedTo, "--to"}};
  for (const auto& side : sides) {
    if (!isVersionText(side.version)) {
      error = side.dir + ": scripts_config.xml reads version \"" + side.version +
              "\", which cannot name a check-table block";
      return false;
    }
    if (!side.expected.empty() && side.expected != side.version) {
      error = side.dir + " reads as version " + side.version + ", not " + side.expected +
              " as " + side.option + " says";
      return false;
    }
  }
  if (!isLaterVersion(summary.to, summary.from)) {
    error = "NEW " + request.newDir + " reads as version " + summary.to + ", not newer than OLD " +
            request.oldDir + " (" + summary.from +
            "): NEW's scripts_config.xml must carry the new version, and OLD comes first";
    return false;
  }
  // The installer reads CN first; a player whose CN pack lacked the entry would read vemo's.
  for (GamePackIndex pack : kVersionPacks) {
    const std::string path = joinPath(request.newDir, kGamePacks[pack].name);
    std::string version;
    const ConfigVersion read = packVersion(path, version);
    if (read == ConfigVersion::kAbsent) continue;
    if (read == ConfigVersion::kNotASection || version != summary.to) {
      error = path + ": scripts_config.xml reads version \"" + version + "\", not " + summary.to +
              "; players whose version is read from this pack would be offered the patch again";
      return false;
    }
  }
  return true;
}

// Every fingerprint of OLD's block must be the one the previous release recorded for it:
// otherwise OLD is not what players have, and every player's pack would be refused.
bool checkAgainstPrevious(const ReleaseRequest& request, const std::string& previous,
                          const std::string& oldBlock, const std::string& from,
                          std::string& error) {
  const std::string parent = "mox" + from;
  for (const std::string& key : checkTableKeys()) {
    const std::string recorded = getCheckValue(previous, parent, key);
    if (recorded == kParentStartNotFound || recorded == kParentEndNotFound) {
      error = request.previousTable + ": no block for " + from +
              "; give the table of the release that made " + from;
      return false;
    }
    const std::string value = getCheckValue(oldBlock, parent, key);
    if (value != recorded) {
      error = request.oldDir + ": " + key + " has fingerprint " + value + ", but " +
              request.previousTable + " records " + recorded + " for " + from +
              "; OLD must be the installation players have";
      return false;
    }
  }
  return true;
}

// The files of `dir` other than the packs, bin, cache and the installer's logs.
std::map<std::string, std::string> otherFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  std::error_code code;
  for (fs::recursive_directory_iterator it(dir, code), end; !code && it != end;
       it.increment(code)) {
    const std::string name = it->path().lexically_relative(dir).generic_string();
    const std::string top = name.substr(0, name.find('/'));
    if (top == "bin" || top == "cache") {
      it.disable_recursion_pending();
      continue;
    }
    bool skip = top == "updater.log" || top == "pack.log";
    for (const GamePack& pack : kGamePacks) skip = skip || name == pack.name;
    if (!skip && it->is_regular_file(code)) files[name] = it->path().string();
  }
  return files;
}

// The installer carries only the six packs, bin and cache: anything else that differs would
// never reach players.
bool checkOtherFiles(const ReleaseRequest& request, std::string& error) {
  const std::map<std::string, std::string> before = otherFiles(request.oldDir);
  const std::map<std::string, std::string> after = otherFiles(request.newDir);
  for (const auto& file : after) {
    auto old = before.find(file.first);
    if (old == before.end() || firstDifference(old->second, file.second) >= 0) {
      error = file.second + ": " + (old == before.end() ? "new" : "changed") +
              ", but the installer carries only the six packs, bin and cache";
      return false;
    }
  }
  for (const auto& file : before) {
    if (!after.count(file.first)) {
      error = file.second + ": gone from NEW, but the installer carries only the six packs, bin "
                            "and cache";
      return false;
    }
  }
  return true;
}

bool checkPayloadFolder(const ReleaseRequest& request, std::string& error) {
  const std::string& payload = request.payloadDir;
  std::error_code code;
  const fs::path parent = fs::absolute(payload, code).parent_path();
  if (!fs::is_directory(parent, code)) {
    error = payload + ": the folder " + parent.string() + " does not exist";
    return false;
  }
  // Inside an installation the payload would join it, and the next release would ship it.
  for (const std::string& input : {request.oldDir, request.newDir}) {
    if (isInsideFolder(payload, input)) {
      error = payload + ": inside " + input + "; the payload goes outside both installations";
      return false;
    }
  }
  if (fs::exists(payload, code) && (!fs::is_directory(payload, code) || !fs::is_empty(payload, code))) {
    error = payload + ": not an empty folder; the payload goes into a new or empty one";
    return false;
  }
  return true;
}

bool countPatch(const std::string& oldPack, const std::string& patchPath, PackSummary& pack) {
  RefPtr<KXFileSystem> old = makeRef<KXFileSystem>(oldPack);
  RefPtr<KXFileSystem> patch = makeRef<KXFileSystem>(patchPath);
  std::map<std::string, int64_t> inOld;  // name -> size
  for (const ArchiveFile& record : old->records())
    inOld[record.name] = record.entry_.uncompressedSize;
  for (const ArchiveFile& record : patch->records()) {
    auto before = inOld.find(record.name);
    const int64_t oldSize = before == inOld.end() ? -1 : before->second;
    if (record.header_.flag == kDeleteMarker)
      pack.deletedEntries.push_back({record.name, oldSize, -1});
    else if (before != inOld.end())
      pack.replacedEntries.push_back({record.name, oldSize, record.entry_.uncompressedSize});
    else
      pack.addedEntries.push_back({record.name, -1, record.entry_.uncompressedSize});
  }
  pack.replaced = pack.replacedEntries.size();
  pack.added = pack.addedEntries.size();
  pack.deleted = pack.deletedEntries.size();
  old->closeArchive();
  patch->closeArchive();
  std::error_code code;
  pack.patchBytes = fs::file_size(patchPath, code);
  return !code;
}

bool makePackPatch(const ReleaseRequest& request, int index, const std::string& staging,
                   PackSummary& pack, std::string& error, const ReleaseProgress& progress) {
  const std::string oldPack = joinPath(request.oldDir, kGamePacks[index].name);
  const std::string newPack = joinPath(request.newDir, kGamePacks[index].name);
  const std::string patch = joinPath(staging, kGamePacks[index].patchName);
  pack.pack = kGamePacks[index].name;
  progress("patch for " + pack.pack);
  if (!makePatchArchive(oldPack, newPack, patch)) {
    error = newPack + ": cannot make the patch (an entry of OLD or NEW cannot be read, or the "
                      "patch breaks a limit of the format)";
    return false;
  }
  if (request.delta) {
    progress("deltas for " + pack.pack);
    DeltaCounts counts;
    if (!deltaPatchArchive(oldPack, newPack, patch, staging, counts, error)) return false;
    pack.deltaEntries = counts.deltas;
    pack.wholeEntries = counts.whole;
    pack.deltaBytesSaved = counts.bytesSaved;
  }
  if (!countPatch(oldPack, patch, pack)) {
    error = newPack + ": cannot make the patch (an entry of OLD or NEW cannot be read, or the "
                      "patch breaks a limit of the format)";
    return false;
  }
  // A pack with changes is rewritten whole: each of its entries passes the writer.
  std::string oversized = oversizedEntry(patch);
  if (oversized.empty() && pack.patchBytes > kFooterSize) oversized = oversizedEntry(newPack);
  if (!oversized.empty()) {
    error = newPack + ": entry " + oversized + ": " + kOversizedReason;
    return false;
  }
  progress("rehearsing " + pack.pack + " with the installer's merge");
  const Rehearsal rehearsal = rehearsePatch(oldPack, patch, newPack, patch + ".rehearsal",
                                            request.rehearsalEvents);
  if (!rehearsal.written) {
    error = oldPack + ": the installer's writer could not write the merged pack";
    return false;
  }
  if (rehearsal.firstDifference >= 0) {
    const std::string at = " (first difference at byte " +
                           std::to_string(rehearsal.firstDifference) + ")";
    error = rehearsal.sameEntries
                ? newPack + ": the installer makes a pack with NEW's entries but not NEW's bytes" +
                      at + ", so the fingerprint recorded for NEW would never match; NEW's packs "
                           "must be written as the installer writes them (entries in name order)"
                : newPack + ": the patch would not turn OLD into NEW" + at +
                      " (duplicate names, or a name such as \"p\" next to \"p 1\" that readers "
                      "resolve to another entry)";
    return false;
  }
  return true;
}

bool makeLooseArchive(const ReleaseRequest& request, const char* folder, const char* archive,
                      const std::string& staging, ReleaseSummary& summary, std::string& error) {
  const std::string oldDir = joinPath(request.oldDir, folder);
  std::vector<NamedContent> entries, shipped;
  if (!diffFolders(oldDir, joinPath(request.newDir, folder), entries, error)) {
    error = joinPath(request.newDir, folder) + ": " + error;
    return false;
  }
  LooseSummary changes;
  changes.folder = folder;
  for (NamedContent& entry : entries) {
    if (std::string(folder) == "bin" && isInstallerOwn(entry.first)) continue;
    std::error_code code;
    const std::string oldFile = joinPath(oldDir, entry.first);
    const int64_t size = static_cast<int64_t>(entry.second.size());
    if (entry.second.empty())
      changes.deleted.push_back({entry.first, static_cast<int64_t>(fs::file_size(oldFile, code)), -1});
    else if (fs::exists(oldFile, code))
      changes.changed.push_back({entry.first, static_cast<int64_t>(fs::file_size(oldFile, code)), size});
    else
      changes.added.push_back({entry.first, -1, size});
    shipped.push_back(std::move(entry));
  }
  std::vector<std::string> newFiles, newFolders;
  if (!listFolder(joinPath(request.newDir, folder), newFiles, newFolders, error)) return false;
  if (!checkLooseNames(folder, shipped, newFiles, newFolders, error)) {
    error = joinPath(request.newDir, "") + error;
    return false;
  }
  const std::string problem = archiveLimitProblem(shipped);
  if (!problem.empty()) {
    error = joinPath(request.newDir, folder) + ": " + problem;
    return false;
  }
  summary.looseAdded += changes.added.size();
  summary.looseChanged += changes.changed.size();
  summary.looseDeleted += changes.deleted.size();
  summary.loose.push_back(std::move(changes));
  if (!writeArchive(joinPath(staging, archive), shipped)) {
    error = joinPath(staging, archive) + ": cannot write";
    return false;
  }
  return true;
}

bool buildPayload(const ReleaseRequest& request, const std::string& table,
                  const std::string& staging, ReleaseSummary& summary, std::string& error,
                  const ReleaseProgress& progress) {
  // The loose folders first: their checks are quick, the packs' rehearsals are not.
  progress("bin and cache");
  if (!makeLooseArchive(request, "bin", "binTemp.kx", staging, summary, error) ||
      !makeLooseArchive(request, "cache", "cacheTemp.kx", staging, summary, error))
    return false;
  summary.packs.resize(kGamePackCount);
  for (int i = 0; i < kGamePackCount; ++i)
    if (!makePackPatch(request, i, staging, summary.packs[static_cast<size_t>(i)], error, progress))
      return false;
  if (!writeBytes(joinPath(staging, "MD5.txt"), table)) {
    error = joinPath(staging, "MD5.txt") + ": cannot write";
    return false;
  }
  progress("results table");
  if (!writeResultsTable(staging, request.newDir, summary.from, summary.to, error)) return false;
  std::error_code code;
  for (const auto& file : fs::directory_iterator(staging, code))
    summary.payloadBytes += file.file_size(code);
  return true;
}

// The check table, refused when a fingerprint cannot be taken or the previous table does not
// fit.
bool makeTable(const ReleaseRequest& request, const ReleaseSummary& summary, std::string& table,
               std::string& error) {
  const std::string newBlock = makeCheckTableBlock(request.newDir, summary.to);
  const std::string oldBlock = makeCheckTableBlock(request.oldDir, summary.from);
  for (const auto& block : {std::make_pair(&newBlock, &request.newDir),
                            std::make_pair(&oldBlock, &request.oldDir)}) {
    const std::string problem = checkTableBlockProblem(*block.first);
    if (!problem.empty()) {
      error = *block.second + ": " + problem;
      return false;
    }
  }
  std::string previous;
  if (!request.previousTable.empty()) {
    if (!readBytes(request.previousTable, previous)) {
      error = request.previousTable + ": cannot be read";
      return false;
    }
    if (!checkAgainstPrevious(request, previous, oldBlock, summary.from, error)) return false;
  }
  if (!assembleCheckTable(newBlock, oldBlock, previous, summary.from, summary.to, table, error)) {
    error = request.previousTable + ": " + error;
    return false;
  }
  return true;
}

}  // namespace

bool isInsideFolder(const std::string& path, const std::string& dir) {
  std::error_code code;
  const fs::path folder = fs::weakly_canonical(dir, code);
  const fs::path file = fs::weakly_canonical(path, code);
  if (code) return false;
  auto f = file.begin();
  for (auto d = folder.begin(); d != folder.end(); ++d, ++f)
    if (f == file.end() || *f != *d) return false;
  return true;
}

bool makeRelease(const ReleaseRequest& request, ReleaseSummary& summary, std::string& error,
                 const ReleaseProgress& progress) {
  summary = ReleaseSummary();
  std::string table;
  if (!checkInstallation(request.oldDir, "OLD", error) ||
      !checkInstallerGround(request.oldDir, request.newDir, error) ||
      !checkInstallation(request.newDir, "NEW", error) ||
      !checkVersions(request, summary, error) || !checkOtherFiles(request, error) ||
      !checkPayloadFolder(request, error))
    return false;
  if (request.delta && !deltaEncoderAvailable()) {
    error = "--delta: xdelta3 cannot be run; install it (Debian: apt-get install xdelta3)";
    return false;
  }
  progress("check table " + summary.to + " and " + summary.from);
  if (!makeTable(request, summary, table, error)) return false;

  std::error_code code;
  const std::string staging = request.payloadDir + ".partial";
  fs::remove_all(staging, code);
  if (!fs::create_directory(staging, code)) {
    error = staging + ": cannot make the folder";
    return false;
  }
  bool made = buildPayload(request, table, staging, summary, error, progress);
  if (made) {
    fs::remove(request.payloadDir, code);  // empty, checked above
    fs::rename(staging, request.payloadDir, code);
    if (code) {
      error = request.payloadDir + ": cannot move the payload in place (" + code.message() + ")";
      made = false;
    }
  }
  if (!made) fs::remove_all(staging, code);
  return made;
}

}  // namespace release
