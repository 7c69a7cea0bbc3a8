// Making archives: create (from a folder), diff (a patch between two versions), apply (the
// installer's own merge and rewrite).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <ostream>
#include <system_error>
#include <vector>

#include "archive/kx_format.h"
#include "integrity/game_packs.h"
#include "platform/platform.h"
#include "platform/replacement_file.h"
#include "tools/kxtool/archive_access.h"
#include "tools/kxtool/commands.h"
#include "tools/kxtool/progress_bar.h"
#include "tools/release/loose_patch.h"
#include "tools/release/release.h"

namespace kxtool {
namespace {

namespace fs = std::filesystem;

std::string partialName(const std::string& path) { return path + ".partial"; }

bool isFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// Writes `entries` as an archive under `path`, through a partial file.
bool writeArchiveReplacing(const std::string& path,
                           const std::vector<release::NamedContent>& entries) {
  const std::string partial = partialName(path);
  if (!release::writeArchive(partial, entries)) {
    platform::deleteFile(partial);
    return false;
  }
  return commitFile(partial, path);
}

int diffFoldersCommand(const Invocation& call, ToolIo& io, const std::string& oldDir,
                       const std::string& newDir, const std::string& out) {
  std::vector<release::NamedContent> entries;
  std::string error;
  if (!release::diffFolders(oldDir, newDir, entries, error)) return failure(io, call, error);
  const std::string problem = release::archiveLimitProblem(entries);
  if (!problem.empty()) return failure(io, call, problem);
  if (!writeArchiveReplacing(out, entries)) return failure(io, call, out + ": cannot write");
  return kExitOk;
}

// Whether `path` is a folder holding a game pack: the root of an installation.
bool isInstallation(const std::string& path) {
  std::error_code code;
  for (const GamePack& pack : kGamePacks)
    if (fs::is_regular_file(fs::path(path) / pack.name, code)) return true;
  return false;
}

// Whether two paths name the same file, or would once `to` exists.
bool samePlace(const std::string& a, const std::string& b) {
  std::error_code code;
  return a == b || fs::equivalent(a, b, code);
}

}  // namespace

bool commitFile(const std::string& from, const std::string& to) {
  if (platform::replaceFile(from, to)) return true;
  platform::deleteFile(from);
  return false;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
  // Inputs of the tool are files of the format, all below 2 GiB.
  constexpr size_t kLimit = size_t{1} << 31;
  return platform::readRegularFile(path, kLimit, &bytes);
}

bool writeFileReplacing(const std::string& path, const std::string& bytes) {
  platform::ReplacementFile output(path, ".partial");
  return output.open() && output.write(bytes.data(), bytes.size()) && output.finish() &&
         output.commit();
}

int createCommand(const Invocation& call, ToolIo& io) {
  const std::string dir = userPath(io, call.args[0]);
  const std::string out = userPath(io, call.value("-o"));
  std::vector<release::NamedContent> files;
  std::string error;
  if (!release::readFolder(dir, files, error)) return failure(io, call, error);
  // The archive being made may lie inside the folder it is made from.
  std::error_code code;
  for (auto it = files.begin(); it != files.end();) {
    const fs::path path = fs::path(dir) / it->first;
    bool self = fs::equivalent(path, out, code) || path == fs::path(partialName(out));
    it = self ? files.erase(it) : it + 1;
  }
  // Folder entries: those extract listed whose folders are still there, and every empty
  // folder (which would otherwise vanish).
  std::set<std::string> folders;
  std::string listed;
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (it->first != kFolderEntriesFile) continue;
    listed = it->second;
    files.erase(it);
    break;
  }
  for (size_t start = 0, end; start < listed.size(); start = end + 1) {
    end = listed.find('\n', start);
    if (end == std::string::npos) end = listed.size();
    const std::string name = listed.substr(start, end - start);
    if (!name.empty() && fs::is_directory(fs::path(dir) / name, code)) folders.insert(name);
  }
  for (fs::recursive_directory_iterator it(dir, code), last; !code && it != last;
       it.increment(code))
    if (it->is_directory(code) && !it->is_symlink(code) && fs::is_empty(it->path(), code))
      folders.insert(it->path().lexically_relative(dir).generic_string());
  for (const std::string& folder : folders) files.emplace_back(folder + "/", std::string());
  const std::string problem = release::archiveLimitProblem(files);
  if (!problem.empty()) return failure(io, call, problem);
  if (!writeArchiveReplacing(out, files)) return failure(io, call, out + ": cannot write");
  return kExitOk;
}

int diffCommand(const Invocation& call, ToolIo& io) {
  const std::string oldPath = userPath(io, call.args[0]);
  const std::string newPath = userPath(io, call.args[1]);
  const std::string out = userPath(io, call.value("-o"));
  for (const std::string& input : {oldPath, newPath}) {
    // Written over an input it would destroy it; inside an input folder a later diff would
    // ship it.
    if (samePlace(out, input) || (isFolder(input) && release::isInsideFolder(out, input)))
      return failure(io, call, out + ": the patch would be written over or inside OLD or NEW");
  }
  if (isInstallation(oldPath) && isInstallation(newPath))
    return failure(io, call, "OLD and NEW are whole installations: \"kxtool release OLD NEW -o "
                             "PAYLOAD\" makes all ten payload files and checks them; diff takes "
                             "two packs, or two bin or cache folders");
  if (isFolder(oldPath) && isFolder(newPath))
    return diffFoldersCommand(call, io, oldPath, newPath, out);
  if (isFolder(oldPath) || isFolder(newPath))
    return failure(io, call, "OLD and NEW must both be archives or both be folders");
  std::string error;
  std::error_code code;
  for (const std::string& path : {oldPath, newPath}) {
    if (!openArchiveChecked(path, error)) return failure(io, call, error);
  }
  const std::string partial = partialName(out);
  if (!release::makePatchArchive(oldPath, newPath, partial)) {
    platform::deleteFile(partial);
    return failure(io, call,
                   "cannot make the patch (an entry of OLD or NEW cannot be read, or the patch "
                   "breaks a limit of the format)");
  }
  if (call.has("--delta")) {
    release::DeltaCounts counts;
    const std::string work = fs::absolute(out, code).parent_path().string();
    if (!release::deltaEncoderAvailable()) {
      platform::deleteFile(partial);
      return failure(io, call, "--delta: xdelta3 cannot be run; install it");
    }
    if (!release::deltaPatchArchive(oldPath, newPath, partial, work, counts, error)) {
      platform::deleteFile(partial);
      return failure(io, call, error);
    }
    io.out << counts.deltas << " entries as deltas, " << counts.whole << " whole, "
           << counts.bytesSaved << " bytes saved\n";
  }
  const std::string oversized = release::oversizedEntry(partial);
  if (!oversized.empty()) {
    platform::deleteFile(partial);
    return failure(io, call, oversized + ": " + release::kOversizedReason);
  }
  const release::Rehearsal rehearsal =
      release::rehearsePatch(oldPath, partial, newPath, partial + ".check");
  if (!rehearsal.written || !rehearsal.sameEntries) {
    platform::deleteFile(partial);
    return failure(io, call,
                   "the patch would not turn OLD into NEW (duplicate names, or a name such as "
                   "\"p\" next to \"p 1\" that readers resolve to another entry)");
  }
  if (!commitFile(partial, out)) return failure(io, call, out + ": cannot write");
  return kExitOk;
}

int applyCommand(const Invocation& call, ToolIo& io) {
  const std::string packPath = userPath(io, call.args[0]);
  const std::string patchPath = userPath(io, call.args[1]);
  const std::string out = call.value("-o").empty() ? packPath : userPath(io, call.value("-o"));
  // The writer creates OUT + "temp" and renames it to OUT: an input of that name would be
  // overwritten, then moved away or deleted.
  for (const std::string& input : {packPath, patchPath}) {
    if (samePlace(out + "temp", input))
      return failure(io, call, input + ": an input may not be named OUT + \"temp\"");
  }
  std::string error;
  RefPtr<KXFileSystem> pack = openArchiveChecked(packPath, error);
  if (!pack) return failure(io, call, error);
  RefPtr<KXFileSystem> patch = openArchiveChecked(patchPath, error);
  if (!patch) return failure(io, call, error);
  // Checked on the indexes just read: a second open of a large pack would read every one of
  // its local headers again.
  std::string input = packPath;
  std::string oversized = release::oversizedEntry(*pack);
  if (oversized.empty()) input = patchPath, oversized = release::oversizedEntry(*patch);
  if (!oversized.empty())
    return failure(io, call, input + ": " + oversized + ": " + release::kOversizedReason);

  ProgressBar bar(io.out, "kxtool apply " + call.args[0], io.progress);
  pack->setEvents(&bar);
  const auto merged = pack->mergePatch(*patch);
  if (!merged) {
    bar.finish();
    pack->closeArchive();
    patch->closeArchive();
    pack->setEvents(nullptr);
    return failure(io, call, patchPath + " cannot update " + packPath + ": " +
                                 describeArchiveError(merged.error()) + "; " + out +
                                 " is unchanged");
  }
  const int32_t expected = pack->entryCount();
  platform::ReplacementFile output(out);
  const KXFileSystem::Outcome written = pack->createNewZip(output, patch.get());
  bar.finish();
  pack->closeArchive();
  patch->closeArchive();
  pack->setEvents(nullptr);
  // A delta whose installed entry is not the one it was made from is found as it is rebuilt.
  if (!written && isDeltaFailure(written.error().failure))
    return failure(io, call, patchPath + " cannot update " + packPath + ": " +
                                 describeArchiveError(written.error()) + "; " + out +
                                 " is unchanged");
  if (!written)
    return failure(io, call, out + ": the merged archive cannot be written: " +
                                 describeArchiveError(written.error()));
  // The writer reports unreadable entries only to its logs; a result that does not read back
  // whole is never put in place.
  {
    std::string reread;
    RefPtr<KXFileSystem> result = openArchiveChecked(output.temporaryPath(), reread);
    if (!result || result->entryCount() != expected)
      return failure(io, call, "the merged archive did not read back whole; " + out +
                                   " is unchanged");
  }
  if (!output.commit()) return failure(io, call, out + ": cannot be replaced");
  return kExitOk;
}

}  // namespace kxtool
