// Making archives: create (from a folder), diff (a patch between two versions), apply (the
// installer's own merge and rewrite).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <system_error>
#include <vector>

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

// Whether two paths name the same file, or would once `to` exists.
bool samePlace(const std::string& a, const std::string& b) {
  std::error_code code;
  return a == b || fs::equivalent(a, b, code);
}

// Whether `path` lies inside the folder `dir`.
bool inside(const std::string& path, const std::string& dir) {
  std::error_code code;
  const fs::path folder = fs::weakly_canonical(dir, code);
  const fs::path file = fs::weakly_canonical(path, code);
  if (code) return false;
  auto f = file.begin();
  for (auto d = folder.begin(); d != folder.end(); ++d, ++f)
    if (f == file.end() || *f != *d) return false;
  return true;
}

// Positions of an archive's records in name order.
std::vector<size_t> byName(const KXFileSystem& archive) {
  std::vector<size_t> order(archive.records().size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return archive.records()[a].name < archive.records()[b].name;
  });
  return order;
}

// Whether the patch, merged into OLD and written as the installer does it, gives NEW entry for
// entry. The format's name resolution ("p" beside "p 1") and duplicate names can make a patch
// that does something else; nothing else would tell until a player's pack failed its check.
bool patchReproduces(const std::string& oldPath, const std::string& patchPath,
                     const std::string& newPath) {
  const std::string result = patchPath + ".check";
  bool same = false;
  {
    RefPtr<KXFileSystem> merged = makeRef<KXFileSystem>(oldPath);
    RefPtr<KXFileSystem> patch = makeRef<KXFileSystem>(patchPath);
    merged->mergePatch(*patch);
    const bool written = merged->createNewZip(result, result + ".log", patch.get());
    merged->closeArchive();
    patch->closeArchive();
    if (written) {
      RefPtr<KXFileSystem> got = makeRef<KXFileSystem>(result + "temp");
      RefPtr<KXFileSystem> wanted = makeRef<KXFileSystem>(newPath);
      const std::vector<size_t> a = byName(*got), b = byName(*wanted);
      same = got->isOpen() && a.size() == b.size();
      for (size_t i = 0; same && i < a.size(); ++i) {
        BlockRef x = got->readContentAt(a[i]), y = wanted->readContentAt(b[i]);
        same = got->records()[a[i]].name == wanted->records()[b[i]].name && x && y &&
               x->asString() == y->asString();
      }
      got->closeArchive();
      wanted->closeArchive();
    }
  }
  platform::deleteFile(result + "temp");
  platform::deleteFile(result + ".log");
  return same;
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
  for (const std::string& input : {oldPath, newPath}) {
    // Written over an input it would destroy it; inside an input folder a later diff would
    // ship it.
    if (samePlace(out, input) || (isFolder(input) && inside(out, input)))
      return failure(io, call, out + ": the patch would be written over or inside OLD or NEW");
  }
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
    return failure(io, call,
                   "cannot make the patch (an entry of OLD or NEW cannot be read, or the patch "
                   "breaks a limit of the format)");
  }
  if (!patchReproduces(oldPath, partial, newPath)) {
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
