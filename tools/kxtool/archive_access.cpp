#include "tools/kxtool/archive_access.h"

#include <cstdio>

#include "archive/kx_format.h"
#include "platform/platform.h"

namespace kxtool {
namespace {

constexpr const char* kWorkingLog = "updater.log";

long long fileLength(const char* path) {
  FILE* file = platform::openFileNarrow(path, "rb");
  if (!file) return 0;
  const long long size = platform::fileSize(file);
  std::fclose(file);
  return size < 0 ? 0 : size;
}

}  // namespace

DiagnosticLog::DiagnosticLog() : start_(fileLength(kWorkingLog)) {}

std::string DiagnosticLog::lastLine() const {
  FILE* file = platform::openFileNarrow(kWorkingLog, "rb");
  if (!file) return std::string();
  std::string text;
  if (std::fseek(file, static_cast<long>(start_), SEEK_SET) == 0) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  }
  std::fclose(file);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const size_t lineStart = text.find_last_of('\n');
  return lineStart == std::string::npos ? text : text.substr(lineStart + 1);
}

RefPtr<KXFileSystem> openArchiveChecked(const std::string& path, std::string& error) {
  if (!platform::pathExists(path)) {
    error = path + ": no such file";
    return nullptr;
  }
  DiagnosticLog log;
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(path);
  // A failed open leaves an empty index, as an empty archive does; opening again tells them
  // apart (an empty archive only reopens its handle).
  if (archive->entryCount() == 0 && !archive->openZip()) {
    const std::string reason = log.lastLine();
    error = path + ": not a readable archive" + (reason.empty() ? "" : " (" + reason + ")");
    return nullptr;
  }
  return archive;
}

bool isDeleteMarker(const ArchiveFile& record) {
  return record.header_.flag == kDeleteMarker || record.entry_.flag == kDeleteMarker;
}

std::string methodName(const ArchiveFile& record) {
  if (isDeleteMarker(record)) return "delete";
  switch (record.entry_.compressionMethod) {
    case kMethodStored: return "stored";
    case kMethodDeflated: return "deflate";
    default: return "method " + std::to_string(record.entry_.compressionMethod);
  }
}

}  // namespace kxtool
