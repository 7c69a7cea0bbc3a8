#include "tools/kxtool/archive_access.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

#include "archive/entry_methods.h"
#include "archive/kx_format.h"
#include "platform/ansi_text.h"
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
  const char* name = ::methodName(record.entry_.compressionMethod);
  return name ? name : "method " + std::to_string(record.entry_.compressionMethod);
}

std::string jsonString(const std::string& gbk) {
  std::ostringstream out;
  out << '"';
  for (char16_t c : platform::ansiToUtf16(gbk)) {
    if (c == '"' || c == '\\') {
      out << '\\' << static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out << static_cast<char>(c);
    } else {
      out << "\\u" << std::hex << std::setw(4) << std::setfill('0') << static_cast<unsigned>(c)
          << std::dec;
    }
  }
  out << '"';
  return out.str();
}

}  // namespace kxtool
