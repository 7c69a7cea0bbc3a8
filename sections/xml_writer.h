// Writes a section tree as text of the XML dialect: one element per line, indented by tabs,
// the value escaped (bytes 0x80-0xFF as numeric references, so GBK text survives any reader).
#pragma once

#include <string>

#include "sections/data_section.h"

// The text of section and its subtree, the section at depth 0. A root whose name is not a valid
// element name is written as "root". Empty (a tree always writes something) when the subtree
// has more than kMaxSectionDepth levels. A reader trims blanks (space, tab, CR, LF) at either
// end of a value; keepEdgeBlanks writes those as character references, so that a value read
// back is the value written (a section's own block keeps the plain form).
std::string writeXmlText(DataSection& section, bool keepEdgeBlanks = false);
