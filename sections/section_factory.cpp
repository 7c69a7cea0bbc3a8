#include "sections/section_factory.h"

#include "sections/section_forms.h"
#include "sections/xml_parser.h"

namespace {

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when the first byte that is not blank (before any zero byte) is '<'.
bool looksLikeXml(const BinaryBlock& block) {
  const unsigned char* p = block.data();
  for (int32_t i = 0; i < block.length(); ++i) {
    if (isBlank(p[i])) continue;
    return p[i] == '<';
  }
  return false;
}

}  // namespace

SectionRef sectionFromBlock(const std::string& tag, BlockRef block, bool parseInPlace,
                            SectionCreator* creator) {
  if (creator) return creator->create(SectionRef(), tag, block);
  if (!block) block = BlockRef(new BinaryBlock(nullptr, 0, kDataSectionLabel));

  if (looksLikeXml(*block)) {
    if (parseInPlace) return parseXmlSection(tag, block);
    // The parser alters what it parses; the fallbacks below get an untouched copy of the
    // caller's bytes rather than the parser's leftovers.
    BlockRef copy(new BinaryBlock(block->data(), block->length(), kDataSectionLabel));
    if (SectionRef parsed = parseXmlSection(tag, copy)) return parsed;
    block = BlockRef(new BinaryBlock(block->data(), block->length(), kDataSectionLabel));
  }
  if (SectionRef packed = makePackedSection(tag, block)) return packed;
  return makeBinSection(tag, block);
}
