// Helpers for the platform tests, which hold both sides of the platform layer to one contract:
// the test program itself, started again as a helper process, plays the other installer or
// the other program.
#pragma once

#include <future>
#include <string>

#include "tests/support/test_support.h"

namespace platform_test {

// Full path of the running test program.
std::string selfPath();
// The name under which the process list shows the running test program.
std::string ownProcessName();
uint32_t ownProcessId();

// Starts this program again as a helper in `role` (see helper_process.cpp), working in
// `dir`; the result arrives when the helper ends.
std::future<testing_support::ProcessResult> startHelper(const std::string& role,
                                                        const std::string& dir,
                                                        const std::string& argument = "");

// Waits (up to 60 s) until `path` exists; false when it never appears.
bool waitForFile(const std::string& path);

// Appends `text` to the file at `path` in one write.
void appendText(const std::string& path, const std::string& text);

// A name no other run of the tests uses at the same time.
std::string uniqueName(const std::string& prefix);

// Takes or gives back the write permission of a file (the read-only attribute on Windows).
void setReadOnly(const std::string& path, bool readOnly);
bool isWritable(const std::string& path);

}  // namespace platform_test
