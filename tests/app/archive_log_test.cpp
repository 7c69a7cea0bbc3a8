// What the run makes of the archive library's events: the reader's failures as the lines the
// working folder's log has always had, and a pack's rewrite as its run-log steps, console
// percentages and launcher shares, byte for byte. The library's side (which events, in which
// order, with which counts) is pinned by the archive tests.
#include "app/archive_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "report/run_state.h"
#include "tests/app/installer_harness.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::readFile;

TEST(RunArchiveLog, ReaderFailuresKeepTheirWorkingFolderLines) {
  testing_support::TempDir dir;
  testing_support::ScopedCwd cwd(dir.path());
  const std::string path = "D:\\game\\CN_packed.kx";
  // Flat rows: an ArchiveError built in each row of an aggregate table trips GCC's
  // maybe-uninitialized warning at -O3.
  const struct {
    ArchiveFailure failure;
    uint32_t systemCode;
    std::string subject;
    std::string line;  // "" for none
  } cases[] = {
      {ArchiveFailure::CannotOpen, ENOENT, path,
       "->can not open kx file:" + path + std::to_string(ENOENT)},
      {ArchiveFailure::FooterNotFound, 0, path, "openZip Failed to seek to footer"},
      {ArchiveFailure::FooterUnreadable, 0, path, "openZip Failed to read footer"},
      {ArchiveFailure::BadFooterSignature, 0, path, "openZip Invalid footer signature"},
      {ArchiveFailure::DirectoryNotFound, 0, path, "openZip Failed to seek to directory start"},
      {ArchiveFailure::DirectoryUnreadable, 0, path, "openZip Failed to read directory block"},
      {ArchiveFailure::DirectoryNoMemory, 0, path, "openZip Failed to new ram"},
      {ArchiveFailure::BadDirectorySignature, 0, path, "openZip Invalid directory signature"},
      {ArchiveFailure::NameTooLong, 0, path, "openZip Filename is too long "},
      {ArchiveFailure::ExtraFieldTooLong, 0, path, "openZip Extra field is too long"},
      {ArchiveFailure::CommentTooLong, 0, path, "openZip File comment is too long"},
      {ArchiveFailure::BadLocalHeaderOffset, 0, path, "openZip Invalid local header offset"},
      {ArchiveFailure::NoArchivePath, 0, "a", "error:this->path_ is NULL"},
      {ArchiveFailure::EntryNotIndexed, 0, "a", "error:file is missing in fileMap"},
      {ArchiveFailure::EntryNotInFile, 0, "a", "error:localHeaderOffset is less than zero"},
      {ArchiveFailure::ReopenFailed, 2, path, "failed to open file:" + path},
      {ArchiveFailure::SeekFailed, 0, "a",
       "KXFileSystem::readFile Failed to seek past local header"},
      {ArchiveFailure::UnknownMethod, 0, "a",
       "KXFileSystem::readFile Compression method  not yet supported"},
      {ArchiveFailure::EntryNoMemory, 0, "a", "KXFileSystem::readFile Failed to alloc data buffer"},
      {ArchiveFailure::ReadFailed, 0, "a", "KXFileSystem::readFile Data read error"},
      // The writer's failures are the pack stage's to report.
      {ArchiveFailure::WriteFailed, 28, path + "temp", ""},
      {ArchiveFailure::EntrySizeMismatch, 0, "a", ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir / "updater.log");
    RunArchiveLog log;
    log.failed(ArchiveError{c.failure, c.systemCode, c.subject});
    EXPECT_EQ(readFile(dir / "updater.log"), c.line.empty() ? "" : c.line + "\n") << c.line;
  }
}

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
    return readFile(path_);
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

// A rewrite of a pack large enough for two flushes of the writer's buffer before the last:
// the console counts each flush from 71 on, whatever the bytes, and the launcher takes a tenth
// of the pack's weight for each.
TEST(RunArchiveLog, RewriteOfSeveralFlushesKeepsItsPercentagesAndShares) {
  testing_support::TempDir dir;
  testing_support::ScopedCwd cwd(dir.path());
  testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().c_str());
  installer_test::LauncherListener window(dir / "MOXStartup");
  const std::string runLog = dir / "run.log";
  const int64_t buffer = 104857600;
  const int64_t total = 2 * buffer + 12345;
  {
    Launcher launcher(true);
    RunArchiveLog log(runLog, "->res_packed.kx: ", 20.0f, launcher);
    StdoutCapture console(dir / "console.txt");
    log.writerStep(WriterStep::Merging, 0);
    log.writerStep(WriterStep::Started, 0);
    log.writerStep(WriterStep::Sorted, 0);
    log.writerStep(WriterStep::OutputReady, 0);
    log.writerStep(WriterStep::WritingEntries, 0);
    log.written(buffer - 7, total);
    log.written(buffer - 7, total);  // an item larger than the buffer follows: nothing new
    log.written(2 * buffer - 100, total);
    log.writerStep(WriterStep::EntriesWritten, 0);
    log.writerStep(WriterStep::DirectoryWritten, 0);
    log.writerStep(WriterStep::FooterWritten, total);
    log.writerStep(WriterStep::OffsetMismatch, total - 1);
    log.writerStep(WriterStep::Released, total);
    log.written(total, total);
    log.writerStep(WriterStep::Flushed, 0);
    EXPECT_EQ(console.finish(),
              "->res_packed.kx: 36%\r->res_packed.kx: 68%\r->res_packed.kx: 70%\r"
              "->res_packed.kx: 71%\r->res_packed.kx: 72%\r->res_packed.kx: 73%\r"
              "->res_packed.kx: 74%\r->res_packed.kx: 99%\r");
  }
  const std::string size = std::to_string(total);
  EXPECT_EQ(readFile(runLog), "One.....\nOne-0\nOne-1\nOne-2\nTwo.....\nThree.....\nFour....." +
                                  size + "\noffset:" + std::to_string(total - 1) +
                                  "\nFive....." + size + "\nSix......\n");
  using Message = std::pair<uint32_t, std::string>;
  const uint32_t progress = kLauncherProgress;
  EXPECT_EQ(window.messages(),
            (std::vector<Message>{{progress, "1.0"}, {progress, "2.0"}, {progress, "2.0"},
                                  {progress, "2.0"}, {progress, "1.0"}, {progress, "2.0"}}));
}

}  // namespace
