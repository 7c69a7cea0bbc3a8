// The few facts about the standard streams the program's main needs. Kept here rather than in
// platform/ because only this command-line tool cares.
#pragma once

#include <cstdio>
#include <streambuf>

namespace kxtool {

// Standard output is a terminal (progress lines are shown only there).
bool standardOutputIsTerminal();
// Standard output passes bytes unchanged (no LF to CR LF translation).
void makeStandardOutputBinary();

}  // namespace kxtool
