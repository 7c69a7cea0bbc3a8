// Typed values through XML text. A packed section stores integers, floats, booleans and blobs
// with their types; XML text holds only characters. A dump marks each element whose value is
// not text with packed="TYPE HEX" (its type code and stored bytes), which the game's XML reader
// ignores; packing reads the marks back, so a dump packs back to the same bytes. A value edited
// since the dump no longer matches its mark: an integer is packed as the integer it now reads,
// anything else as the text it now is. A marker blob (type 6) reads as a plain blob and packs
// back as one: the reader keeps neither its marker nor its scrambling.
#pragma once

#include <string>

#include "sections/data_section.h"
#include "sections/packed_writer.h"

namespace kxtool {

// `xml`, the text writeXmlText made of `root`, with the marks added.
[[nodiscard]] std::string markPackedTypes(DataSection& root, const std::string& xml);

// Gives the nodes of `root` (packedNodeFromSection of the section parsed from `xml`) the types
// their marks in `xml` record. False with `error` set when the marks cannot be matched to the
// elements or do not read.
[[nodiscard]] bool applyPackedTypes(const std::string& xml, PackedNode& root, std::string& error);

}  // namespace kxtool
