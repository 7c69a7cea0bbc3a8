// Making archives: create (from a folder), diff (a patch between two versions), apply (the
// installer's own merge and rewrite).
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <system_error>

#include "archive/kx_format.h"
#include "platform/platform.h"
#include "report/run_state.h"
#include "tools/kxtool/archive_access.h"
#include "tools/kxtool/commands.h"
#include "tools/release/loose_patch.h"
#include "tools/release/release.h"

namespace kxtool {
namespace {

namespace fs = std::filesystem;

// The reader measures archives with a signed 32-bit length.
constexpr uint64_t kMaxArchiveBytes = uint64_t{1} << 31;

std::string partialName(const std::string& path) { return path + ".partial"; }

bool isFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// Why `files` cannot become one archive, or "" when they can.
std::string archiveLimitProblem(const std::vector<release::NamedContent>& files) {
  if (files.size() > kMaxEntries)
    return std::to_string(files.size()) + " files; an archive holds at most " +
           std::to_string(kMaxEntries);
  uint64_t total = kFooterSize;
  std::map<std::string, std::string> seen;
  for (const release::NamedContent& file : files) {
    const std::string name = normalisePath(file.first);
    if (name.size() > kMaxFieldLength)
      return file.first + ": name longer than " + std::to_string(kMaxFieldLength) + " bytes";
    auto clash = seen.emplace(name, file.first);
    if (!clash.second)
      return file.first + " and " + clash.first->second + " have the same name in an archive";
    total += kLocalHeaderSize + kDirectoryEntrySize + 2 * name.size() + file.second.size();
  }
  if (total >= kMaxArchiveBytes) return "the archive would reach 2 GiB, more than the format allows";
  // Readers take a path for version 1 of itself when another name is that path, a space and
  // more: the game could never read such a file by its name.
  for (const auto& name : seen) {
    const size_t space = name.first.find(' ');
    if (space == std::string::npos) continue;
    auto shadowed = seen.find(name.first.substr(0, space));
    if (shadowed != seen.end())
      return shadowed->second + " could not be read from the archive: with " + name.second +
             " beside it readers look for \"" + shadowed->first + " 1\" instead";
  }
  return std::string();
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
  const std::string problem = archiveLimitProblem(entries);
  if (!problem.empty()) return failure(io, call, problem);
  if (!writeArchiveReplacing(out, entries)) return failure(io, call, out + ": cannot write");
  return kExitOk;
}

// A progress label is used as the start of a printf format by the archive writer.
std::string formatSafe(const std::string& text) {
  std::string safe;
  for (char c : text) safe += c == '%' ? std::string("%%") : std::string(1, c);
  return safe;
}

}  // namespace

bool commitFile(const std::string& from, const std::string& to) {
  if (platform::replaceFile(from, to)) return true;
  platform::deleteFile(from);
  return false;
}

bool writeFileReplacing(const std::string& path, const std::string& bytes) {
  const std::string partial = partialName(path);
  FILE* file = platform::openFile(partial, "wb");
  if (!file) return false;
  const bool written = bytes.empty() || std::fwrite(bytes.data(), bytes.size(), 1, file) == 1;
  if (std::fclose(file) != 0 || !written) {
    platform::deleteFile(partial);
    return false;
  }
  return commitFile(partial, path);
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
  const std::string problem = archiveLimitProblem(files);
  if (!problem.empty()) return failure(io, call, problem);
  if (!writeArchiveReplacing(out, files)) return failure(io, call, out + ": cannot write");
  return kExitOk;
}

int diffCommand(const Invocation& call, ToolIo& io) {
  const std::string oldPath = userPath(io, call.args[0]);
  const std::string newPath = userPath(io, call.args[1]);
  const std::string out = userPath(io, call.value("-o"));
  if (isFolder(oldPath) && isFolder(newPath))
    return diffFoldersCommand(call, io, oldPath, newPath, out);
  if (isFolder(oldPath) || isFolder(newPath))
    return failure(io, call, "OLD and NEW must both be archives or both be folders");
  std::string error;
  for (const std::string& path : {oldPath, newPath}) {
    if (!openArchiveChecked(path, error)) return failure(io, call, error);
  }
  const std::string partial = partialName(out);
  if (!release::makePatchArchive(oldPath, newPath, partial)) {
    platform::deleteFile(partial);
    return failure(io, call, "cannot make the patch (an entry of OLD or NEW cannot be read)");
  }
  if (!commitFile(partial, out)) return failure(io, call, out + ": cannot write");
  return kExitOk;
}

int applyCommand(const Invocation& call, ToolIo& io) {
  const std::string packPath = userPath(io, call.args[0]);
  const std::string patchPath = userPath(io, call.args[1]);
  const std::string out = call.value("-o").empty() ? packPath : userPath(io, call.value("-o"));
  std::string error;
  RefPtr<KXFileSystem> pack = openArchiveChecked(packPath, error);
  if (!pack) return failure(io, call, error);
  RefPtr<KXFileSystem> patch = openArchiveChecked(patchPath, error);
  if (!patch) return failure(io, call, error);

  const std::string logPath = "kxtool-apply.log";
  progressLabel = io.progress ? formatSafe("kxtool apply " + call.args[0] + "...") : "";
  pack->mergePatch(*patch);
  const int32_t expected = pack->entryCount();
  const bool written = pack->createNewZip(out, logPath, patch.get());
  pack->closeArchive();
  patch->closeArchive();
  platform::deleteFile(logPath);
  if (io.progress) consolePrintf("\n");
  const std::string temp = out + "temp";
  if (!written) {
    platform::deleteFile(temp);
    return failure(io, call, out + ": the merged archive cannot be written");
  }
  // The writer reports unreadable entries only to its logs; a result that does not read back
  // whole is never put in place.
  {
    std::string reread;
    RefPtr<KXFileSystem> result = openArchiveChecked(temp, reread);
    if (!result || result->entryCount() != expected) {
      platform::deleteFile(temp);
      return failure(io, call, "the merged archive did not read back whole; " + out +
                                   " is unchanged");
    }
  }
  if (!commitFile(temp, out)) return failure(io, call, out + ": cannot be replaced");
  return kExitOk;
}

}  // namespace kxtool
