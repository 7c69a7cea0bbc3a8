#include "tools/kxtool/archive_access.h"

#include <cstdio>

#include "archive/kx_format.h"
#include "platform/platform.h"

namespace kxtool {
RefPtr<KXFileSystem> openArchiveChecked(const std::string& path, std::string& error) {
  if (!platform::pathExists(path)) {
    error = path + ": no such file";
    return nullptr;
  }
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(path);
  if (archive->lastError()) {
    error = path + ": not a readable archive (" + describeArchiveError(archive->lastError()) + ")";
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
