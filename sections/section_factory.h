// Builds the right section form for a byte block.
#pragma once

#include <string>

#include "sections/data_section.h"

// The label of blocks the section library allocates for its own use.
inline constexpr const char* kDataSectionLabel = "BinaryBlock/DataSection";

// A section tree over block whose root is named tag. With a creator, the creator alone decides.
// Otherwise a block whose first non-blank byte is '<' is parsed as XML text: in place when
// parseInPlace is set (the block is altered, and a failed parse gives none), else on a copy
// (the caller's block is untouched, and a failed parse falls back to the other forms). Other
// blocks become a packed section when they hold a packed file, else a binary section.
SectionRef sectionFromBlock(const std::string& tag, BlockRef block, bool parseInPlace,
                            SectionCreator* creator = nullptr);
