// Shared by the writer and editing tests: a scratch folder that is also the current directory
// (the archive code writes "updater.log" and "pack.log" there), archives built byte by byte,
// rewriting through createNewZip, and reading everything back through the reader.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "archive/kx_file_system.h"
#include "report/run_state.h"
#include "tests/archive/reader_archive_builder.h"
#include "tests/archive/run_archive_log.h"
#include "tests/support/test_support.h"

namespace kxwrite {

using Contents = std::vector<std::pair<std::string, std::string>>;  // name, content

// Captures what this process writes to standard output (fd 1) while alive.
class StdoutCapture {
 public:
  explicit StdoutCapture(const std::string& path) : path_(path) {
    std::fflush(stdout);
    saved_ = ::dup(1);
    FILE* file = std::fopen(path.c_str(), "wb");
    ::dup2(::fileno(file), 1);
    std::fclose(file);
  }
  ~StdoutCapture() { restore(); }
  std::string finish() {
    restore();
    return testing_support::readFile(path_);
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

class ArchiveTest : public ::testing::Test {
 protected:
  // The percentages of a rewrite are shown after `label`, as the run shows them after a pack's.
  void setProgressLabel(const std::string& label) {
    events_ = RunArchiveLog(logPath(), label, 0.0f, launcher_);
  }

  std::string put(const std::string& name, const std::vector<kxtest::RawEntry>& entries) {
    const std::string path = dir_ / name;
    testing_support::writeFile(path, kxtest::buildArchive(entries).bytes);
    return path;
  }
  KXFileSystemRef open(const std::string& path) {
    return KXFileSystemRef(new KXFileSystem(path, &events_));
  }
  // Merges `patch` (when given) into `installed`, writes path + "temp" and returns its bytes.
  std::string rewrite(const std::string& installed, const std::string& patch = std::string(),
                      bool* written = nullptr) {
    KXFileSystemRef target = open(installed);
    KXFileSystemRef source = patch.empty() ? KXFileSystemRef() : open(patch);
    if (source) target->mergePatch(*source);
    const bool ok = target->createNewZip(installed, source.get());
    if (written) *written = ok;
    return testing_support::readFile(installed + "temp");
  }
  // Every entry of an archive file, in directory order, read through the reader.
  Contents readBack(const std::string& bytes) {
    const std::string path = dir_ / "readback.kx";
    testing_support::writeFile(path, bytes);
    KXFileSystemRef fs = open(path);
    Contents out;
    for (const ArchiveFile& record : fs->records()) {
      BlockRef content = fs->readFileInternal(record.name);
      out.emplace_back(record.name, content ? content->asString() : std::string("<unreadable>"));
    }
    return out;
  }
  std::string logPath() const { return dir_ / "run.log"; }
  std::string packLog() const { return testing_support::readFile(dir_ / "pack.log"); }

  testing_support::TempDir dir_;
  testing_support::ScopedCwd cwd_{dir_.path()};
  Launcher launcher_;
  RunArchiveLog events_{logPath(), "", 0.0f, launcher_};
};

}  // namespace kxwrite
