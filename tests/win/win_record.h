// What the Windows stand-ins write down: one line per event, "<tag>:<hex>[:<hex>]", appended
// and flushed at once so that a reader sees every event that has happened.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace kxtest {

inline std::string hexOf(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline void appendRecord(const std::string& path, const std::string& line) {
  if (FILE* file = std::fopen(path.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fclose(file);
  }
}

inline bool fileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace kxtest
