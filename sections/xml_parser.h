// The one-pass, in-place parser of the XML text dialect of configuration data.
#pragma once

#include <string>

#include "sections/data_section.h"

// Parses block as XML text into an XMLSection tree, writing terminators and decoded characters
// into the block, which every parsed section keeps alive. The root is named tag (its own tag
// when tag is empty). None when the text is not accepted; never a partial tree. Never reads or
// writes outside the block, whether or not it ends in a zero byte.
SectionRef parseXmlSection(const std::string& tag, const BlockRef& block);
