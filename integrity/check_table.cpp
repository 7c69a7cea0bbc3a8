#include "integrity/check_table.h"

std::string getCheckValue(const std::string& table, const std::string& parentTag,
                          const std::string& searchTag) {
  const std::string parentOpen = "<" + parentTag + ">";
  const std::string parentClose = "</" + parentTag + ">";
  const std::string searchOpen = "<" + searchTag + ">";
  const std::string searchClose = "</" + searchTag + ">";

  size_t blockStart = table.find(parentOpen);
  if (blockStart == std::string::npos) return kParentStartNotFound;
  size_t closeAt = table.find(parentClose, blockStart);
  if (closeAt == std::string::npos) return kParentEndNotFound;
  // The block includes its own tags; the entry search stays inside it.
  const std::string block =
      table.substr(blockStart, closeAt + parentClose.size() - blockStart);

  size_t entryStart = block.find(searchOpen);
  if (entryStart == std::string::npos) return kSearchStartNotFound;
  size_t entryEnd = block.find(searchClose, entryStart);
  if (entryEnd == std::string::npos) return kSearchEndNotFound;
  size_t valueStart = entryStart + searchOpen.size();
  // A key holding "<" can have its closing tag start inside its own opening tag; such an entry
  // has no value rather than a negative length.
  if (entryEnd < valueStart) return std::string();
  return block.substr(valueStart, entryEnd - valueStart);
}
