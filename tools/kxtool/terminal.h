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
// Sends standard output to the null device (the archive writer prints its progress directly).
void discardStandardOutput();
// A stream where standard output went before it is sent to the null device, so that a command
// can print its own results while the archive writer's progress is discarded. None when the
// handle cannot be duplicated (standard output is then left as it was).
std::FILE* detachStandardOutput();

// A stream buffer over a C stream (flushed on sync).
class FileStreamBuffer : public std::streambuf {
 public:
  explicit FileStreamBuffer(std::FILE* file) : file_(file) {}

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    return std::fputc(c, file_) == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    return static_cast<std::streamsize>(std::fwrite(bytes, 1, static_cast<size_t>(count), file_));
  }
  int sync() override { return std::fflush(file_) == 0 ? 0 : -1; }

 private:
  std::FILE* file_;
};

}  // namespace kxtool
