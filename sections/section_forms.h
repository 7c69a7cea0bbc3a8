// Constructors of the packed and binary section forms, as the factory and the child iterator
// need them. Kept apart from those forms' own headers so that the factory does not depend on
// their internals.
#pragma once

#include <string>

#include "sections/data_section.h"

// A packed section tree whose root is named tag, or none when block is not a packed file.
SectionRef makePackedSection(const std::string& tag, const BlockRef& block);
// A binary section named tag whose value is block (never none unless memory is exhausted).
SectionRef makeBinSection(const std::string& tag, const BlockRef& block);
