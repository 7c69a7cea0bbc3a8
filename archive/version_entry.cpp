#include "archive/version_entry.h"

#include "archive/kx_file_system.h"
#include "sections/data_section.h"
#include "sections/section_factory.h"

BlockRef readVersionEntry(KXFileSystem& pack) {
  FileInfo info;
  info.size = 0;
  if (pack.getFileTypeEx(kVersionEntryName, &info) == FileType::NotFound ||
      info.size > kMaxVersionEntryBytes)
    return BlockRef();
  return pack.readFile(kVersionEntryName);
}

bool versionOfEntry(const BlockRef& entry, std::string& version) {
  SectionRef section = sectionFromBlock("script_config", entry, true, nullptr);
  if (!section) return false;
  version = section->readText("version", "");
  return true;
}
