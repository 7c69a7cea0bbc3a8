// Files and folders as the installer uses them: GBK names, read-only leftovers, replacing a
// file without ever losing the old one, and the special folders.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>

#include <cerrno>
#endif

#include "platform/platform.h"
#include "report/log.h"
#include "tests/platform/platform_test_support.h"

using namespace platform_test;
using testing_support::fileExists;
using testing_support::makeDirs;
using testing_support::readFile;
using testing_support::ScopedCwd;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr platform::SystemCode kNotFound = ERROR_FILE_NOT_FOUND;
constexpr platform::SystemCode kAccessDenied = ERROR_ACCESS_DENIED;
constexpr platform::SystemCode kExists = ERROR_ALREADY_EXISTS;
#else
constexpr platform::SystemCode kNotFound = ENOENT;
constexpr platform::SystemCode kAccessDenied = EACCES;
constexpr platform::SystemCode kExists = EEXIST;
#endif

std::string readStream(FILE* file) {
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  return bytes;
}

class FilesTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path(const std::string& name) const {
    return dir.path() + platform::kPathSeparatorText + name;
  }
};

// The wide open and the narrow calls must agree on what a GBK name means.
TEST_F(FilesTest, GbkAndPlainNamesRoundTripThroughEveryCall) {
  const std::string names[] = {"plain.kx", "with space.txt", "更新日志.log", "安装路径 2.txt"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string p = path(name);
    {
      const platform::OpenedFile out = platform::openFile(p, "wb+");
      ASSERT_TRUE(out);
      std::fwrite("abc\0def", 1, 7, out.value().get());
      EXPECT_TRUE(platform::flushToDisk(out.value().get()));
      EXPECT_EQ(platform::fileSize(out.value().get()), 7);
    }
    EXPECT_TRUE(platform::pathExists(p));
    {
      const platform::OpenedFile in = platform::openFileNarrow(p, "rb");
      ASSERT_TRUE(in);
      EXPECT_EQ(readStream(in.value().get()), std::string("abc\0def", 7));
    }

    EXPECT_TRUE(platform::setFileAttributesNormal(p));
    EXPECT_TRUE(platform::deleteFile(p));
    EXPECT_FALSE(platform::pathExists(p));
    EXPECT_FALSE(platform::deleteFile(p));
  }
}

TEST_F(FilesTest, AMissingFileCannotBeChangedOrOpenedAndTheSystemSaysWhy) {
  EXPECT_FALSE(platform::setFileAttributesNormal(path("missing")));
  const platform::OpenedFile opened = platform::openFile(path("missing"), "rb");
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error(), kNotFound);
}

// A file that has a second name elsewhere (an outside file hard-linked into the installation) is
// read through it, but never written or changed through it: writing anew gives the name a file
// of its own, appending (the logs) and clearing its read-only state leave it alone.
TEST_F(FilesTest, AFileWithASecondNameIsNeverWrittenOrChangedThroughIt) {
  struct Case {
    const char* mode;
    bool opens;
    const char* after;  // the name's bytes after "new" was written, when it opens
  };
  const Case cases[] = {
      {"rb", true, "outside"},   {"wb+", true, "new"}, {"wb", true, "new"},
      {"ab+", false, "outside"}, {"ab", false, "outside"}, {"a+", false, "outside"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    writeFile(path("outside.txt"), "outside");
    ASSERT_TRUE(platform::linkFile(path("outside.txt"), path("inside.txt")));
    {
      const platform::OpenedFile file = platform::openFile(path("inside.txt"), c.mode);
      EXPECT_EQ(static_cast<bool>(file), c.opens);
      if (file && c.mode[0] != 'r') std::fwrite("new", 1, 3, file.value().get());
      if (!file) {
        EXPECT_EQ(file.error(), kAccessDenied);
      }
    }
    EXPECT_EQ(readFile(path("inside.txt")), c.after);
    EXPECT_EQ(readFile(path("outside.txt")), "outside");
    platform::deleteFile(path("inside.txt"));
  }

  ASSERT_TRUE(platform::linkFile(path("outside.txt"), path("inside.txt")));
  setReadOnly(path("outside.txt"), true);
  EXPECT_FALSE(platform::setFileAttributesNormal(path("inside.txt")));
  EXPECT_FALSE(isWritable(path("outside.txt")));
  setReadOnly(path("outside.txt"), false);
}

TEST_F(FilesTest, MakeFolderMakesOneFolderOrFindsOne) {
  EXPECT_TRUE(platform::makeFolder(path("made")));
  EXPECT_TRUE(platform::pathExists(path("made")));
  EXPECT_TRUE(platform::makeFolder(path("made")));  // already there
  writeFile(path("file"), "x");
  const auto overFile = platform::makeFolder(path("file"));
  ASSERT_FALSE(overFile);
  EXPECT_EQ(overFile.error(), kExists);
  EXPECT_FALSE(platform::makeFolder(path("no-parent") + platform::kPathSeparatorText + "child"));
}

// The two ways of putting a file in another's place keep the same contract; one of them only
// leaves out the flush of a file its writer already flushed.
struct ReplaceCall {
  const char* name;
  platform::Result<platform::Done, platform::SystemCode> (*replace)(const std::string& from,
                                                                    const std::string& to);
};
const ReplaceCall kReplaceCalls[] = {
    {"replaceFile", &platform::replaceFile},
    {"replaceWithFlushedFile", &platform::replaceWithFlushedFile},
};

TEST_F(FilesTest, ReplaceMovesTheNewFileIntoPlace) {
  struct Case {
    const char* what;
    bool targetExists;
    bool targetReadOnly;
  };
  const Case cases[] = {
      {"over an existing file", true, false},
      {"where there was none", false, false},
      {"over a read-only leftover", true, true},
  };
  for (const ReplaceCall& call : kReplaceCalls) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(call.name) + " " + c.what);
      writeFile(path("pack.kxtemp"), "new bytes");
      if (c.targetExists) writeFile(path("pack.kx"), "old");
      if (c.targetReadOnly) setReadOnly(path("pack.kx"), true);
      EXPECT_TRUE(call.replace(path("pack.kxtemp"), path("pack.kx")));
      EXPECT_EQ(readFile(path("pack.kx")), "new bytes");
      EXPECT_FALSE(platform::pathExists(path("pack.kxtemp")));
      platform::deleteFile(path("pack.kx"));
    }
  }
}

// The kept old pack: a second name that still holds the old bytes after the pack is replaced,
// and that can be put back over it. A name already taken is refused.
TEST_F(FilesTest, ALinkedNameKeepsTheOldFileThroughAReplaceAndPutsItBack) {
  writeFile(path("CN.kx"), "old pack");
  ASSERT_TRUE(platform::linkFile(path("CN.kx"), path("CN.kxold")));
  EXPECT_FALSE(platform::linkFile(path("CN.kx"), path("CN.kxold")));
  writeFile(path("CN.kxtemp"), "new pack");
  ASSERT_TRUE(platform::replaceFile(path("CN.kxtemp"), path("CN.kx")));
  EXPECT_EQ(readFile(path("CN.kx")), "new pack");
  EXPECT_EQ(readFile(path("CN.kxold")), "old pack");
  ASSERT_TRUE(platform::replaceFile(path("CN.kxold"), path("CN.kx")));
  EXPECT_EQ(readFile(path("CN.kx")), "old pack");
  EXPECT_FALSE(platform::pathExists(path("CN.kxold")));
}

TEST_F(FilesTest, ReplaceThatCannotMoveLeavesBothFilesWhole) {
  for (const ReplaceCall& call : kReplaceCalls) {
    SCOPED_TRACE(call.name);
    // A missing new file, and a target that is a folder with contents.
    platform::deleteFile(path("keep.kx"));
    EXPECT_FALSE(call.replace(path("absent"), path("keep.kx")));
    writeFile(path("keep.kx"), "old pack");
    EXPECT_FALSE(call.replace(path("absent"), path("keep.kx")));
    EXPECT_EQ(readFile(path("keep.kx")), "old pack");

    makeDirs(path("folder"));
    writeFile(path("folder") + platform::kPathSeparatorText + "inside", "kept");
    writeFile(path("new.kx"), "new pack");
    EXPECT_FALSE(call.replace(path("new.kx"), path("folder")));
    EXPECT_EQ(readFile(path("new.kx")), "new pack");
    EXPECT_EQ(readFile(path("folder") + platform::kPathSeparatorText + "inside"), "kept");
  }
}

#ifdef _WIN32
TEST_F(FilesTest, ReplaceWaitsOutAFileHeldOpenForAMoment) {
  writeFile(path("scanned.kx"), "old pack");
  writeFile(path("new.kx"), "new pack");
  platform::OpenedFile opened = platform::openFile(path("scanned.kx"), "rb");
  ASSERT_TRUE(opened);
  FILE* holder = opened.value().release();
  std::thread scanner([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::fclose(holder);
  });
  EXPECT_TRUE(platform::replaceFile(path("new.kx"), path("scanned.kx")));
  scanner.join();
  EXPECT_EQ(readFile(path("scanned.kx")), "new pack");
  EXPECT_FALSE(platform::pathExists(path("new.kx")));
}

TEST_F(FilesTest, ReplaceOfAFileAnotherProgramHasOpenFailsAndKeepsIt) {
  writeFile(path("busy.kx"), "old pack");
  writeFile(path("new.kx"), "new pack");
  {
    const platform::OpenedFile holder = platform::openFile(path("busy.kx"), "rb");
    ASSERT_TRUE(holder);
    EXPECT_FALSE(platform::replaceFile(path("new.kx"), path("busy.kx")));
    EXPECT_EQ(readStream(holder.value().get()), "old pack");
  }
  EXPECT_EQ(readFile(path("busy.kx")), "old pack");
  EXPECT_EQ(readFile(path("new.kx")), "new pack");
}
#endif

TEST_F(FilesTest, RenameNeverReplacesAnExistingFile) {
  writeFile(path("a"), "first");
  writeFile(path("b"), "second");
  EXPECT_FALSE(platform::renameFile(path("a"), path("b")));
  EXPECT_EQ(readFile(path("a")), "first");
  EXPECT_EQ(readFile(path("b")), "second");
  EXPECT_TRUE(platform::renameFile(path("a"), path("c")));
  EXPECT_FALSE(platform::pathExists(path("a")));
  EXPECT_EQ(readFile(path("c")), "first");
}

TEST_F(FilesTest, CheckedOpenOfAReadOnlyFileClearsTheFlagAndSucceeds) {
  for (const char* mode : {"rb", "ab+"}) {
    SCOPED_TRACE(mode);
    writeFile(path("MD5.txt"), "table");
    setReadOnly(path("MD5.txt"), true);
    bool notOpened = false;
    FILE* file = openFileChecked(path("MD5.txt"), mode, &notOpened);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(notOpened);
    std::fclose(file);
    EXPECT_TRUE(isWritable(path("MD5.txt")));
  }
  appendLogLine(path("MD5.txt"), "line");
  EXPECT_EQ(readFile(path("MD5.txt")), "tableline\n");
}

// A folder under a GBK name, made by the narrow call each side takes names in.
bool makeFolder(const std::string& path) {
#ifdef _WIN32
  return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
#else
  return ::mkdir(path.c_str(), 0700) == 0;
#endif
}

// The path limit counts what the system counts. On Windows a Chinese character is one
// character of the wide path but two GBK bytes, so a path of 259 characters holding many
// of them opens there although it is far longer in bytes; one character more is refused.
TEST_F(FilesTest, CheckedOpenCountsAPathAsTheSystemDoes) {
  const std::string name = "安装路径更新日志安装路径更新日志安装路径";  // 20 characters
  std::string folder = dir.path();
  while (platform::pathLength(folder) < 200) {
    folder += platform::kPathSeparatorText + name;
    ASSERT_TRUE(makeFolder(folder)) << folder;
  }
  ScopedCwd cwd(dir.path());
  for (size_t length : {259u, 260u}) {
    SCOPED_TRACE(length);
    std::string file = folder + platform::kPathSeparatorText;
    file += std::string(length - platform::pathLength(file), 'n');
    ASSERT_EQ(platform::pathLength(file), length);
#ifdef _WIN32
    EXPECT_GT(file.size(), 300u) << "the path's GBK bytes";
#endif
    bool notOpened = false;
    FILE* opened = openFileChecked(file, "ab+", &notOpened);
    EXPECT_EQ(opened != nullptr, length == 259);
    EXPECT_EQ(notOpened, length == 260);
    if (opened) std::fclose(opened);
    EXPECT_EQ(platform::pathExists(file), length == 259);
  }
}

TEST_F(FilesTest, CheckedOpenFailuresAreLoggedByKind) {
  makeDirs(path("a folder"));
  struct Case {
    std::string target;
    const char* mode;
    std::string logged;
  };
  const Case cases[] = {
      {path("missing.txt"), "rb", " does not exist!"},
      {path("no folder") + platform::kPathSeparatorText + "x.log", "ab+", " does not exist!"},
      {path("a folder"), "ab+", " file exist but can not open!"},
  };
  ScopedCwd cwd(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    platform::deleteFile("updater.log");
    bool notOpened = false;
    EXPECT_EQ(openFileChecked(c.target, c.mode, &notOpened), nullptr);
    EXPECT_TRUE(notOpened);
    EXPECT_EQ(readFile(path("updater.log")), c.target + c.logged + "\n");
  }
}

TEST_F(FilesTest, CurrentDirectoryIsWhereWeAre) {
  ScopedCwd cwd(dir.path());
  const std::string current = platform::currentDirectory();
  ASSERT_FALSE(current.empty());
  EXPECT_TRUE(fs::equivalent(current, dir.path())) << current;
}

TEST_F(FilesTest, TemporaryFolderFollowsTheEnvironmentAndEndsInASeparator) {
#ifdef _WIN32
  const char* variables[] = {"TMP", "TEMP"};
#else
  const char* variables[] = {"TMPDIR"};
#endif
  const std::string wanted = path("tmp");
  makeDirs(wanted);
  ScopedEnv first(variables[0], wanted.c_str());
  const std::string folder = platform::tempFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), platform::kPathSeparator);
  // Windows' stat refuses a folder name that ends in a separator.
  EXPECT_TRUE(fs::equivalent(folder.substr(0, folder.size() - 1), wanted)) << folder;
}

TEST_F(FilesTest, ApplicationDataFolderExists) {
  const std::string folder = platform::appDataFolder(true);
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), platform::kPathSeparator);
  EXPECT_TRUE(fs::is_directory(folder)) << folder;
  EXPECT_EQ(platform::appDataFolder(false), folder);
}

#ifndef _WIN32
TEST_F(FilesTest, ApplicationDataFolderIsCreatedOnlyWhenAsked) {
  const std::string wanted = path("config");
  ScopedEnv config("XDG_CONFIG_HOME", wanted.c_str());
  EXPECT_EQ(platform::appDataFolder(false), wanted);
  EXPECT_FALSE(fs::exists(wanted));
  EXPECT_EQ(platform::appDataFolder(true), wanted);
  EXPECT_TRUE(fs::is_directory(wanted));
}
#endif

}  // namespace
