#include "sections/section_forms.h"

#include "sections/bin_section.h"
#include "sections/packed_section.h"

SectionRef makePackedSection(const std::string& tag, const BlockRef& block) {
  return openPacked(tag, block);
}

SectionRef makeBinSection(const std::string& tag, const BlockRef& block) {
  return SectionRef(new BinSection(tag, block));
}
