// The demo release: a complete sample installation at 2.650, the state the installer must turn
// it into, and the payload between them, made the way a release engineer makes a real one
// (patch archives by diff, loose-file archives from the folders, check-table blocks from the
// installations). Every byte follows from the code: the same call always writes the same files.
#pragma once

#include <string>

namespace release {

// Writes `dir`/2.650, `dir`/2.651 and `dir`/payload (the eight archives, "MD5.txt" and
// "Results.txt" under the names the build embeds). False with `error` set on a failure.
[[nodiscard]] bool makeDemoRelease(const std::string& dir, std::string& error);

// A check table in the shipped layout around two real blocks (each ending in LF): `newBlock`,
// `oldBlock`, older versions' blocks (TAB and LF in newer ones, four spaces and CR LF in the
// oldest, size-only and 32-digit values where those versions had them), then the MiniCheck and
// PackCheck blocks. The older values are made up but have the forms of their versions.
[[nodiscard]] std::string makeDemoCheckTable(const std::string& newBlock,
                                             const std::string& oldBlock);

}  // namespace release
