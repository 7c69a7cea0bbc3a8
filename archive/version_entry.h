// The installed version of a game installation is the "version" text of the packed
// "scripts_config.xml" inside one of its packs (kVersionPacks, in order). The installer and the
// release tools read it through these functions alone, so they agree on which entries count.
#pragma once

#include <cstdint>
#include <string>

#include "sections/binary_block.h"

class KXFileSystem;

inline constexpr char kVersionEntryName[] = "scripts_config.xml";
// The entry holds a few hundred bytes. One that declares more is not read: a small archive can
// declare hundreds of megabytes that would all be inflated and parsed.
inline constexpr uint64_t kMaxVersionEntryBytes = 256 * 1024;

// The version entry of `pack`; none when it is missing, unreadable or declares more than
// kMaxVersionEntryBytes.
[[nodiscard]] BlockRef readVersionEntry(KXFileSystem& pack);

// The "version" value of a version entry ("" when it has none) in `version`; false when the
// entry is not a data section.
[[nodiscard]] bool versionOfEntry(const BlockRef& entry, std::string& version);
