// Writes a section tree as text of the XML dialect: one element per line, indented by tabs,
// the value escaped (bytes 0x80-0xFF as numeric references, so GBK text survives any reader).
#pragma once

#include <string>

#include "sections/data_section.h"

// The text of section and its subtree, the section at depth 0. A root whose name is not a valid
// element name is written as "root". Empty (a tree always writes something) when the subtree
// has more than kMaxSectionDepth levels.
std::string writeXmlText(DataSection& section);
