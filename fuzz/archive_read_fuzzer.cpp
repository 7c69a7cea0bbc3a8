// Any bytes as an archive file: open, listing, every read and every type query. Nothing may
// crash or read outside its buffer, and every answer must be one the interface allows.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/kx_file_system.h"
#include "fuzz/fuzz_support.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string parentOf(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

void exercise(KXFileSystem& archive) {
  std::vector<std::string> names;
  for (const ArchiveFile& record : archive.records()) names.push_back(record.name);

  for (const std::string& name : names) {
    BlockRef content = archive.readFile(name);
    if (content) check(content->length() >= 0);
    FileInfo info;
    const FileType type = archive.getFileTypeEx(name, &info);
    check(type >= FileType::NotFound && type <= FileType::Archive);
    (void)archive.formatFileTime(info.modificationTime);
    check(archive.getFileType(name, &info) <= FileType::Directory ||
          archive.getFileType(name, nullptr) == FileType::File);
    // The prefix and dot forms callers use for the same entry.
    (void)archive.getFileType(archive.path() + "/" + name + "/.", nullptr);
    (void)archive.getFileTypeEx(archive.path() + "\\" + name, nullptr);

    const std::string dir = parentOf(name);
    const int32_t count = static_cast<int32_t>(archive.readDirectory(dir).size());
    for (int32_t i = -1; i <= count; ++i) (void)archive.readFile(dir, i);
  }
  (void)archive.readDirectory("");

  // The rewriting side loads stored bytes; the loose-file update inflates them.
  archive.loadAllStored();
  for (const ArchiveFile& record : archive.records()) {
    if (record.data && record.entry_.compressionMethod == kMethodDeflated) {
      BlockRef exact = archive.inflateStored(record.data, record.entry_.uncompressedSize);
      if (exact) check(static_cast<uint32_t>(exact->length()) == record.entry_.uncompressedSize);
      (void)archive.inflateStored(record.data);
    }
    (void)archive.getFileTypeEx(record.name, nullptr);
    (void)archive.readFile(record.name);
  }
  for (const std::string& name : names) (void)archive.readStored(name);
  // The tools read by position; one past the end must be refused too.
  for (size_t i = 0; i <= archive.records().size(); ++i) {
    (void)archive.readContentAt(i);
    (void)archive.readStoredAt(i);
  }

  FileSystemRef copy = archive.clone();
  if (copy && !names.empty()) (void)copy->readFile(names.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::InWorkDir inWorkDir;
  fuzz_support::clearLogs();
  const std::string path = fuzz_support::writeInput("input.kx", data, size);
  KXFileSystemRef archive = makeRef<KXFileSystem>(path);
  exercise(*archive);
  archive->closeArchive();
  check(archive->entryCount() == 0);
  check(!archive->readFile("anything"));
  return 0;
}
