// Shared by the writer and editing tests: a scratch folder, archives built byte by byte,
// rewriting through createNewZip, reading everything back through the reader, and what the
// library told on the way.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "archive/kx_file_system.h"
#include "tests/archive/reader_archive_builder.h"
#include "tests/archive/recorded_events.h"
#include "tests/support/test_support.h"

namespace kxwrite {

using Contents = std::vector<std::pair<std::string, std::string>>;  // name, content

class ArchiveTest : public ::testing::Test {
 protected:
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
    if (source) (void)target->mergePatch(*source);
    const bool ok = static_cast<bool>(target->createNewZip(installed, source.get()));
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
  testing_support::TempDir dir_;
  kxtest::RecordedEvents events_;
};

}  // namespace kxwrite
