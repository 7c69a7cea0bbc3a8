// Looking into archives: list, cat, extract.
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <ostream>
#include <set>
#include <sstream>
#include <system_error>

#include "archive/kx_format.h"
#include "platform/ansi_text.h"
#include "platform/platform.h"
#include "tools/kxtool/archive_access.h"
#include "tools/kxtool/commands.h"

namespace kxtool {
namespace {

namespace fs = std::filesystem;

// A patch's delta record holds no contents of its own: only a merge with the installed pack
// rebuilds the entry.
constexpr const char* kDeltaNotContent =
    "a delta of the installed entry, not its contents; kxtool apply rebuilds it from the pack";

void listText(const KXFileSystem& archive, std::ostream& out) {
  uint64_t stored = 0, original = 0;
  for (const ArchiveFile& record : archive.records()) {
    out << std::left << std::setw(8) << methodName(record) << std::right << std::setw(11)
        << record.entry_.compressedSize << std::setw(11) << record.entry_.uncompressedSize << "  "
        << record.name << "\n";
    stored += record.entry_.compressedSize;
    original += record.entry_.uncompressedSize;
  }
  out << "total " << archive.records().size() << " entries, " << stored << " bytes stored, "
      << original << " bytes original\n";
}

void listJson(const KXFileSystem& archive, std::ostream& out) {
  uint64_t stored = 0, original = 0;
  out << "{\"entries\": [";
  const char* separator = "\n";
  for (const ArchiveFile& record : archive.records()) {
    out << separator << "  {\"name\": " << jsonString(record.name)
        << ", \"method\": " << jsonString(methodName(record))
        << ", \"storedSize\": " << record.entry_.compressedSize
        << ", \"originalSize\": " << record.entry_.uncompressedSize << "}";
    separator = ",\n";
    stored += record.entry_.compressedSize;
    original += record.entry_.uncompressedSize;
  }
  out << (archive.records().empty() ? "" : "\n") << "],\n \"total\": {\"entries\": "
      << archive.records().size() << ", \"storedSize\": " << stored
      << ", \"originalSize\": " << original << "}}\n";
}

// The position of the entry a user names: the exact stored name first, then the name as the
// installer's reader resolves it (separators normalised, a versioned path read as version 1).
bool findEntry(KXFileSystem& archive, const std::string& wanted, size_t& index) {
  std::string resolved = wanted;
  archive.zip_resolvePath(resolved, false);
  archive.resolveVersionName(resolved);
  for (const std::string& name : {wanted, resolved}) {
    for (size_t i = 0; i < archive.records().size(); ++i) {
      if (archive.records()[i].name == name) {
        index = i;
        return true;
      }
    }
  }
  return false;
}

// The place under `root` where entry `name` goes, or "" when the name would leave the folder
// (a ".." step, an empty or "." step, a drive or stream colon).
std::string placeUnder(const fs::path& root, const std::string& name) {
  if (name.empty()) return std::string();
  fs::path relative;
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = name.find('/', start);
    if (slash == std::string::npos) slash = name.size();
    const std::string step = name.substr(start, slash - start);
    if (step.empty() || step == "." || step == ".." || step.find(':') != std::string::npos)
      return std::string();
    relative /= step;
    start = slash + 1;
  }
  // Folders already under the root may be links to elsewhere: the resolved place must still be
  // inside the resolved root.
  std::error_code error;
  const fs::path target = fs::weakly_canonical(root / relative, error);
  if (error) return std::string();
  const fs::path inside = target.lexically_relative(root);
  if (inside.empty() || *inside.begin() == "..") return std::string();
  return target.string();
}

bool writeWhole(const std::string& path, const BinaryBlock& content) {
  platform::OpenedFile opened = platform::openFile(path, "wb");
  if (!opened) return false;
  FILE* file = opened.value().release();
  const size_t length = static_cast<size_t>(content.length());
  const bool written = length == 0 || std::fwrite(content.data(), length, 1, file) == 1;
  return std::fclose(file) == 0 && written;
}

}  // namespace

int listCommand(const Invocation& call, ToolIo& io) {
  std::string error;
  RefPtr<KXFileSystem> archive = openArchiveChecked(userPath(io, call.args[0]), error);
  if (!archive) return failure(io, call, error);
  if (call.has("--json"))
    listJson(*archive, io.out);
  else
    listText(*archive, io.out);
  return kExitOk;
}

int catCommand(const Invocation& call, ToolIo& io) {
  std::string error;
  RefPtr<KXFileSystem> archive = openArchiveChecked(userPath(io, call.args[0]), error);
  if (!archive) return failure(io, call, error);
  size_t index = 0;
  if (!findEntry(*archive, call.args[1], index))
    return failure(io, call, call.args[0] + ": no entry " + call.args[1]);
  if (archive->records()[index].entry_.compressionMethod == kMethodDelta)
    return failure(io, call, call.args[1] + ": " + kDeltaNotContent);
  BlockRef content = archive->readContentAt(index);
  if (!content) return failure(io, call, call.args[1] + ": entry cannot be read (damaged data)");
  io.out.write(content->cdata(), content->length());
  io.out.flush();
  return io.out ? kExitOk : failure(io, call, "cannot write the output");
}

int extractCommand(const Invocation& call, ToolIo& io) {
  std::string error;
  RefPtr<KXFileSystem> archive = openArchiveChecked(userPath(io, call.args[0]), error);
  if (!archive) return failure(io, call, error);
  std::error_code code;
  fs::create_directories(userPath(io, call.args[1]), code);
  const fs::path root = fs::canonical(userPath(io, call.args[1]), code);
  if (code) return failure(io, call, call.args[1] + ": cannot make the folder");

  // Every name is checked before anything is written: a refused archive leaves no files.
  const std::vector<ArchiveFile>& records = archive->records();
  std::vector<std::string> targets;
  std::set<std::string> parents;
  for (const ArchiveFile& record : records) {
    targets.push_back(placeUnder(root, record.name));
    if (targets.back().empty())
      return failure(io, call, "refusing entry \"" + record.name + "\": it would leave the folder");
    for (size_t slash = record.name.find('/'); slash != std::string::npos;
         slash = record.name.find('/', slash + 1))
      parents.insert(record.name.substr(0, slash));
  }
  std::string folderEntries;
  for (const ArchiveFile& record : records) {
    if (parents.count(record.name) != 0 && record.entry_.uncompressedSize != 0 && !record.isFolder)
      return failure(io, call, record.name + ": both a file and a folder in the archive");
    if (!record.isFolder) continue;
    if (record.name.find_first_of("\r\n") != std::string::npos)
      return failure(io, call, "refusing folder entry \"" + record.name + "\": a line break in its name");
    folderEntries += record.name + "\n";
  }
  for (const ArchiveFile& record : records)
    if (!folderEntries.empty() && record.name == kFolderEntriesFile)
      return failure(io, call, std::string("an entry named ") + kFolderEntriesFile +
                                   ", where the folder entries would be listed");

  // Damaged data is found only when it is read: what was written before it goes again, so
  // that a failed extraction leaves no part of the archive behind as if it were whole.
  std::vector<std::string> written;
  auto fail = [&](const std::string& problem) {
    for (const std::string& path : written) fs::remove(path, code);
    return failure(io, call, problem);
  };
  for (size_t i = 0; i < records.size(); ++i) {
    const bool folder = records[i].isFolder || parents.count(records[i].name) != 0;
    fs::create_directories(folder ? fs::path(targets[i]) : fs::path(targets[i]).parent_path(),
                           code);
    if (code) return fail(targets[i] + ": cannot make the folder");
    if (folder) continue;
    if (records[i].entry_.compressionMethod == kMethodDelta)
      return fail(records[i].name + ": " + kDeltaNotContent);
    BlockRef content = archive->readContentAt(i);
    if (!content) return fail(records[i].name + ": entry cannot be read (damaged data)");
    if (!writeWhole(targets[i], *content)) return fail(targets[i] + ": cannot write");
    written.push_back(targets[i]);
  }
  // Which folders had an entry of their own, for create to give them back.
  if (!folderEntries.empty()) {
    const std::string list = (root / kFolderEntriesFile).string();
    if (!writeFileReplacing(list, folderEntries)) return fail(list + ": cannot write");
  }
  return kExitOk;
}

}  // namespace kxtool
