// Any bytes through the section factory, parsed in place and on a copy: XML text, packed files
// and binary containers alike. Every child is visited and every typed read made. A tree that
// the packed writer accepts must read back with the same shape at its root (binary sections
// pack as one blob, so only structured trees are compared).
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "sections/binary_block.h"
#include "sections/packed_writer.h"
#include "sections/section_factory.h"
#include "sections/xml_writer.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

constexpr int kDepthLimit = 16;
constexpr int kNodeBudget = 1000;

void walk(const SectionRef& root) {
  int budget = kNodeBudget;
  fuzz_support::walkSection(root, kDepthLimit, budget);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  SectionRef inPlace =
      sectionFromBlock("root", BinaryBlock::fromString(bytes, kDataSectionLabel), true);
  walk(inPlace);
  inPlace = nullptr;

  BlockRef block = BinaryBlock::fromString(bytes, kDataSectionLabel);
  SectionRef copy = sectionFromBlock("root", block, false);
  check(static_cast<bool>(copy));  // without in-place parsing some form always takes the bytes
  walk(copy);

  // A binary section packs as one blob of its bytes, so only structured trees keep their shape.
  const std::string packed = packSectionTree(copy);
  if (!packed.empty() && copy->isStructured()) {
    SectionRef reread =
        sectionFromBlock("root", BinaryBlock::fromString(packed, kDataSectionLabel), false);
    check(reread && reread->childCount() == copy->childCount());
    walk(reread);
  }
  (void)writeXmlText(*copy);
  return 0;
}
