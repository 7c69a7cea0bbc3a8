// Reading archives for the tools: opening with a one-line reason when the file is missing or not
// an archive, and how a record is shown.
#pragma once

#include <string>

#include "archive/kx_file_system.h"

namespace kxtool {

// The archive at `path`, indexed; none with `error` set when it is missing or cannot be read as
// an archive (an empty archive is fine).
RefPtr<KXFileSystem> openArchiveChecked(const std::string& path, std::string& error);

// True for a record that marks its path for deletion when merged.
bool isDeleteMarker(const ArchiveFile& record);
// "stored", "deflate", "delete" (a delete marker) or "method N".
std::string methodName(const ArchiveFile& record);
// A JSON string of a GBK name: ASCII as it is, everything else as \u escapes of its UTF-16
// form, so the output is valid JSON whatever the name's bytes.
std::string jsonString(const std::string& gbk);

}  // namespace kxtool
