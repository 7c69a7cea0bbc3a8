// Lookup in the check table: the embedded text that records, per released game version, the
// expected fingerprint of every game pack and of the game executable.
//
// The table looks like XML but is read by plain byte search only: a version block runs from
// "<mox" + version + ">" to the matching closing tag, and each entry inside it is the text
// between "<" + key + ">" and "</" + key + ">". Line ends (LF or CR LF) and indentation do not
// matter. Because each tag includes its angle brackets, a version or key never matches a
// longer one that merely begins with it.
#pragma once

#include <string>

// Failure texts returned in place of a value. None can equal a fingerprint, so a caller that
// compares the result with a computed fingerprint sees a mismatch without testing for them.
inline constexpr const char* kParentStartNotFound = "parentTag start not found!";
inline constexpr const char* kParentEndNotFound = "parentTag end not found!";
inline constexpr const char* kSearchStartNotFound = "searchTag start not found!";
inline constexpr const char* kSearchEndNotFound = "searchTag end not found!";

// The value of entry `searchTag` inside the first block named `parentTag` (for example
// "mox2.651" and "Halvoreen\\CN_packed.kx"), exactly as it stands between its tags, or one of
// the four failure texts. The search never leaves the block: a key found only in a later
// block counts as missing. An empty table yields kParentStartNotFound.
[[nodiscard]] std::string getCheckValue(const std::string& table, const std::string& parentTag,
                                        const std::string& searchTag);
