// getCheckValue over any table and any tags. The answer is always one of the four failure
// texts or exactly the text between the key's tags inside the version's block.
#include <cstdint>
#include <cstring>
#include <string>

#include "integrity/check_table.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

bool isFailureText(const std::string& value) {
  for (const char* failure :
       {kParentStartNotFound, kParentEndNotFound, kSearchStartNotFound, kSearchEndNotFound})
    if (value == failure) return true;
  return false;
}

}  // namespace

// Layout: one byte each for the lengths of the version and key tags, the two tags, the table.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t parentLength = data[0] % 16;
  const size_t searchLength = data[1] % 48;
  if (size < 2 + parentLength + searchLength) return 0;
  const char* text = reinterpret_cast<const char*>(data) + 2;
  const std::string parent(text, parentLength);
  const std::string search(text + parentLength, searchLength);
  const std::string table(text + parentLength + searchLength,
                          size - 2 - parentLength - searchLength);

  const std::string value = getCheckValue(table, parent, search);
  if (isFailureText(value)) return 0;
  const std::string openParent = "<" + parent + ">";
  const size_t block = table.find(openParent);
  check(block != std::string::npos);
  const size_t blockEnd = table.find("</" + parent + ">", block);
  check(blockEnd != std::string::npos);
  // The value stands right after the key's first open tag in the block, and its close tag
  // follows it, both inside the block.
  const std::string openKey = "<" + search + ">";
  const size_t key = table.find(openKey, block);
  check(key != std::string::npos);
  const size_t keyEnd = key + openKey.size() + value.size() + search.size() + 3;
  check(keyEnd <= blockEnd + parent.size() + 3);
  check(table.compare(key + openKey.size(), value.size(), value) == 0);
  check(table.compare(key + openKey.size() + value.size(), search.size() + 3,
                      "</" + search + ">") == 0);
  return 0;
}
