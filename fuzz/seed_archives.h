// The small, valid inputs the fuzz targets start from, made with the project's own writers:
// archives through the release library, section files through the section writers, check
// tables through the release library's block maker.
#pragma once

#include <string>
#include <vector>

#include "tools/release/release.h"

namespace fuzz_seeds {

// The entries of the installed pack the merge target patches: folders, versioned names, a
// packed configuration entry, compressible and incompressible content.
std::vector<release::NamedContent> packEntries();

// Writes the seed corpus of every target below `dir` (dir/<target>/<seed>). False on a failure.
[[nodiscard]] bool writeCorpus(const std::string& dir);

}  // namespace fuzz_seeds
