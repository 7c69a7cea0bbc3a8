// What every fuzz target shares: a private working folder (the libraries append their
// diagnostics to logs in the current folder, and archives are read from files), a silenced
// console, and the walk over a section tree that touches every read a caller can make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sections/data_section.h"

namespace fuzz_support {

// Makes the private folder on the first call (on tmpfs when there is one: the archive writer
// syncs what it writes, which a disk would make slow) and silences standard output (the
// writer prints progress lines). Returns the folder.
const std::string& workDir();

// Makes the private folder the current one for the life of the object, so that the logs the
// libraries write land there while libFuzzer's own relative paths keep working between inputs.
class InWorkDir {
 public:
  InWorkDir();
  ~InWorkDir();
  InWorkDir(const InWorkDir&) = delete;
  InWorkDir& operator=(const InWorkDir&) = delete;

 private:
  std::string previous_;
};

// Writes `size` bytes to `name` inside the private folder; returns the file's path.
std::string writeInput(const std::string& name, const uint8_t* data, size_t size);

// Removes the log files the libraries append to, so that a long run does not fill the disk.
void clearLogs();

// Calls every typed read, the child accessors and the path helpers on `section` and on each
// child, depth first, at most `depthLimit` levels and `nodeBudget` sections in all.
void walkSection(const SectionRef& section, int depthLimit, int& nodeBudget);

}  // namespace fuzz_support
