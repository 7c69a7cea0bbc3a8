// list, cat, extract, create, diff and apply on generated archives.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "archive/kx_file_system.h"
#include "tests/tools/tool_fixture.h"

using namespace tool_test;
using testing_support::makeDirs;

namespace fs = std::filesystem;

namespace {

// Deterministic bytes: `compressible` ones deflate, the others do not.
std::string content(std::mt19937& random, size_t length, bool compressible) {
  std::string out(length, '\0');
  for (char& c : out)
    c = compressible ? static_cast<char>('a' + random() % 4) : static_cast<char>(random());
  return out;
}

std::map<std::string, std::string> folderFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file())
      files[entry.path().lexically_relative(dir).generic_string()] = readFile(entry.path().string());
  return files;
}

TEST(CreateAndExtract, ReproduceAFolderAndTheSameFolderGivesTheSameBytes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  std::mt19937 random(7);
  std::map<std::string, std::string> files = {
      {"readme.txt", content(random, 5000, true)},
      {"textures/town/wall.dds", content(random, 70000, false)},
      {"scripts/client/avatar.pyc 1", content(random, 300, true)},
      {"scripts/client/avatar.pyc 2", content(random, 310, true)},
      {"maps/nested.kx", "PK" + content(random, 400, true)},
      {"empty.txt", ""},
  };
  for (const auto& file : files) {
    makeDirs(fs::path(dir / ("src/" + file.first)).parent_path().string());
    writeFile(dir / ("src/" + file.first), file.second);
  }
  ASSERT_EQ(runTool({"create", "src", "-o", "a.kx"}).code, 0);
  ASSERT_EQ(runTool({"create", "src", "-o", "b.kx"}).code, 0);
  EXPECT_EQ(readFile(dir / "a.kx"), readFile(dir / "b.kx"));

  ToolResult extracted = runTool({"extract", "a.kx", "out"});
  ASSERT_EQ(extracted.code, 0) << extracted.err;
  EXPECT_EQ(folderFiles(dir / "out"), files);

  // Stored the way in-memory editing stores: nested archives and noise as they are.
  std::map<std::string, uint16_t> methods;
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(dir / "a.kx");
  for (const ArchiveFile& record : archive->records())
    methods[record.name] = record.entry_.compressionMethod;
  EXPECT_EQ(methods["maps/nested.kx"], kMethodStored);
  EXPECT_EQ(methods["textures/town/wall.dds"], kMethodStored);
  EXPECT_EQ(methods["readme.txt"], kMethodDeflated);
}

// Folder entries are part of what a pack holds: extract lists which folders had one, create
// makes exactly those again (and one for a folder left empty), so the bytes come back.
TEST(ExtractThenCreate, KeepsFolderEntriesAndTheBytes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "a.kx", {{"maps/", ""},
                                                   {"maps/a.txt", "a"},
                                                   {"maps/deep/b.txt", "b"},
                                                   {"maps/empty/", ""},
                                                   {"readme.txt", "r"}}));
  ToolResult extracted = runTool({"extract", "a.kx", "out"});
  ASSERT_EQ(extracted.code, 0) << extracted.err;
  EXPECT_TRUE(fs::is_directory(dir / "out/maps/empty"));
  ASSERT_EQ(runTool({"create", "out", "-o", "b.kx"}).code, 0);
  EXPECT_EQ(testing_support::hex(readFile(dir / "b.kx")), testing_support::hex(readFile(dir / "a.kx")));

  fs::remove(dir / "out/.kxfolders");
  makeDirs(dir / "out/new_empty");
  ASSERT_EQ(runTool({"create", "out", "-o", "c.kx"}).code, 0);
  std::vector<std::string> folders;
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(dir / "c.kx");
  for (const ArchiveFile& record : archive->records())
    if (record.isFolder) folders.push_back(record.name);
  EXPECT_EQ(folders, (std::vector<std::string>{"maps/empty", "new_empty"}));
}

TEST(Create, DoesNotPackTheArchiveItIsWriting) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  writeFile(dir / "a.txt", "a");
  ASSERT_EQ(runTool({"create", ".", "-o", "self.kx"}).code, 0);
  ASSERT_EQ(runTool({"create", ".", "-o", "self.kx"}).code, 0);
  EXPECT_EQ(entriesOf(dir / "self.kx"), (std::map<std::string, std::string>{{"a.txt", "a"}}));
}

TEST(Create, RefusesANameThatAnotherNameHidesFromReaders) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  makeDirs(dir / "in");
  writeFile(dir / "in/fonts", "plain");
  writeFile(dir / "in/fonts old.bin", "old");
  ToolResult result = runTool({"create", "in", "-o", "out.kx"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("fonts could not be read from the archive"), std::string::npos)
      << result.err;
  EXPECT_FALSE(testing_support::fileExists(dir / "out.kx"));
  // A versioned name on its own is what the format is for.
  fs::remove(dir / "in/fonts");
  writeFile(dir / "in/fonts 1", "first");
  EXPECT_EQ(runTool({"create", "in", "-o", "out.kx"}).code, 0);
}

TEST(Extract, RefusesNamesThatLeaveTheFolderAndWritesNothing) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  makeDirs(dir / "out");
  for (const char* name : {"../up.txt", "a/../../up.txt", "a/./b", "c:evil"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(release::writeArchive(dir / "bad.kx", {{"aaa_first.txt", "1"}, {name, "x"}}));
    ToolResult result = runTool({"extract", "bad.kx", "out"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("refusing"), std::string::npos) << result.err;
    EXPECT_FALSE(testing_support::fileExists(dir / "out/aaa_first.txt"));
    EXPECT_FALSE(testing_support::fileExists(dir / "up.txt"));
  }
}

TEST(ListAndCat, ShowTheDirectoryAndReadEntriesByTheirOwnNames) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "a.kx", {{"b/x.txt", std::string(1000, 'x')},
                                                   {"v.pyc 1", "one"},
                                                   {"v.pyc 2", "two"},
                                                   {"中文.txt", "GBK name"}}));
  ToolResult list = runTool({"list", "a.kx"});
  ASSERT_EQ(list.code, 0);
  EXPECT_EQ(list.out.substr(0, list.out.find('\n')), "deflate          11       1000  b/x.txt");
  EXPECT_NE(list.out.find("total 4 entries, "), std::string::npos);

  ToolResult json = runTool({"list", "--json", "a.kx"});
  ASSERT_EQ(json.code, 0);
  EXPECT_NE(json.out.find("{\"name\": \"b/x.txt\", \"method\": \"deflate\", \"storedSize\": 11, "
                          "\"originalSize\": 1000}"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"\\u4e2d\\u6587.txt\""), std::string::npos) << json.out;

  const std::vector<std::pair<std::string, std::string>> reads = {
      {"v.pyc 2", "two"}, {"v.pyc 1", "one"}, {"v.pyc", "one"}, {"\\b\\\\x.txt/", std::string(1000, 'x')}};
  for (const auto& read : reads) {
    ToolResult cat = runTool({"cat", "a.kx", read.first});
    EXPECT_EQ(cat.code, 0) << read.first;
    EXPECT_EQ(cat.out, read.second) << read.first;
  }
  EXPECT_EQ(runTool({"cat", "a.kx", "nope"}).code, 1);
}

// Random pairs of archive versions: the patch made by diff, merged by the installer's own merge,
// must give the new version's entries exactly.
TEST(DiffThenApply, ReproducesTheNewArchiveForRandomPairs) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  std::string nested;
  ASSERT_TRUE(release::writeArchive(dir / "nested.kx", {{"inner.txt", "inner"}}));
  nested = readFile(dir / "nested.kx");
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    std::vector<release::NamedContent> before, after;
    const int count = 1 + static_cast<int>(random() % 25);
    for (int i = 0; i < count; ++i) {
      std::string name = "dir" + std::to_string(random() % 3) + "/f" + std::to_string(i);
      if (random() % 5 == 0) name += ".pyc " + std::to_string(1 + random() % 3);
      std::string bytes = random() % 6 == 0 ? nested : content(random, random() % 3000, random() % 2);
      const unsigned fate = random() % 4;  // 0 unchanged, 1 changed, 2 removed, 3 added
      if (fate != 3) before.emplace_back(name, bytes);
      if (fate == 1) bytes = random() % 2 ? bytes + "!" : content(random, 50, true);
      if (fate != 2) after.emplace_back(name, bytes);
    }
    ASSERT_TRUE(release::writeArchive(dir / "old.kx", before));
    ASSERT_TRUE(release::writeArchive(dir / "new.kx", after));
    ToolResult diff = runTool({"diff", "old.kx", "new.kx", "-o", "patch.kx"});
    ASSERT_EQ(diff.code, 0) << diff.err;
    ToolResult apply = runTool({"apply", "old.kx", "patch.kx", "-o", "merged.kx"});
    ASSERT_EQ(apply.code, 0) << apply.err;
    EXPECT_EQ(entriesOf(dir / "merged.kx"), entriesOf(dir / "new.kx"));
    // Without -o the pack itself is replaced.
    ASSERT_EQ(runTool({"apply", "old.kx", "patch.kx"}).code, 0);
    EXPECT_EQ(readFile(dir / "old.kx"), readFile(dir / "merged.kx"));
  }
}

TEST(Apply, LeavesThePackAloneWhenThePatchIsNotAnArchive) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "pack.kx", {{"a", "1"}}));
  const std::string pack = readFile(dir / "pack.kx");
  writeFile(dir / "patch.kx", "not an archive at all, no footer here");
  ToolResult result = runTool({"apply", "pack.kx", "patch.kx"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("not a readable archive (bad footer signature in"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(readFile(dir / "pack.kx"), pack);
  EXPECT_FALSE(testing_support::fileExists(dir / "pack.kxtemp"));
}

// "p 1" in OLD and "p" in NEW: the patch ships "p", which the merge takes for a new version of
// "p 1" and stores as "p 2". Checked against NEW before it is written, such a patch is refused.
TEST(Diff, RefusesAPatchThatWouldNotTurnOldIntoNew) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "old.kx", {{"p 1", "versioned"}, {"k", "kept"}}));
  ASSERT_TRUE(release::writeArchive(dir / "new.kx", {{"p", "plain"}, {"k", "kept"}}));
  ToolResult result = runTool({"diff", "old.kx", "new.kx", "-o", "patch.kx"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("the patch would not turn OLD into NEW"), std::string::npos)
      << result.err;
  EXPECT_FALSE(testing_support::fileExists(dir / "patch.kx"));
  EXPECT_FALSE(testing_support::fileExists(dir / "patch.kx.partial"));
}

// Outputs that would destroy an input, or become part of the next run's input, are refused
// before anything is written.
TEST(ArchiveOutputs, NeverReplaceOrJoinTheirInputs) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "old.kx", {{"a", "1"}}));
  ASSERT_TRUE(release::writeArchive(dir / "new.kx", {{"a", "2"}}));
  ASSERT_TRUE(release::writeArchive(dir / "outtemp", {{"a", "1"}}));
  makeDirs(dir / "from");
  makeDirs(dir / "to");
  writeFile(dir / "to/x", "x");
  makeDirs(dir / "full");
  writeFile(dir / "full/here", "something");
  const std::string oldBytes = readFile(dir / "old.kx");
  const std::string tempBytes = readFile(dir / "outtemp");
  const std::vector<std::string> cases[] = {
      {"diff", "old.kx", "new.kx", "-o", "old.kx"},
      {"diff", "old.kx", "new.kx", "-o", "./new.kx"},
      {"diff", "from", "to", "-o", "to/patch.kx"},
      {"apply", "outtemp", "new.kx", "-o", "out"},
      {"apply", "old.kx", "outtemp", "-o", "out"},
      {"demo", "full"},
      {"diff", "old.kx", "new.kx", "-o", "missing/patch.kx"},
      {"create", "from", "-o", "missing/a.kx"},
  };
  for (const auto& words : cases) {
    std::string line;
    for (const std::string& word : words) line += word + " ";
    SCOPED_TRACE(line);
    EXPECT_EQ(runTool(words).code, 1);
  }
  EXPECT_EQ(readFile(dir / "old.kx"), oldBytes);
  EXPECT_EQ(readFile(dir / "outtemp"), tempBytes);
  EXPECT_FALSE(testing_support::fileExists(dir / "to/patch.kx"));
  EXPECT_FALSE(testing_support::fileExists(dir / "out"));
  EXPECT_FALSE(testing_support::fileExists(dir / "full/2.650"));
  EXPECT_NE(runTool({"diff", "old.kx", "new.kx", "-o", "missing/patch.kx"})
                .err.find("missing does not exist"),
            std::string::npos);
  // Two whole installations are a release, not a diff.
  ToolResult installations = runTool(
      {"diff", demoRelease() + "/2.650", demoRelease() + "/2.651", "-o", "installations.kx"});
  EXPECT_EQ(installations.code, 1);
  EXPECT_NE(installations.err.find("kxtool release OLD NEW -o PAYLOAD"), std::string::npos)
      << installations.err;
  EXPECT_FALSE(testing_support::fileExists(dir / "installations.kx"));
}

TEST(Extract, ADamagedEntryLeavesNothingOfTheArchiveBehind) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "a.kx", {{"aaa.txt", "first"},
                                                   {"zzz.txt", std::string(4000, 'z')}}));
  std::string bytes = readFile(dir / "a.kx");
  // The deflated data of the last entry, behind its local header and name.
  const size_t data = bytes.find("zzz.txt") + 7;
  for (size_t i = data; i < data + 8; ++i) bytes[i] = static_cast<char>(0xFF);
  writeFile(dir / "a.kx", bytes);
  ToolResult result = runTool({"extract", "a.kx", "out"});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("zzz.txt: entry cannot be read"), std::string::npos) << result.err;
  EXPECT_FALSE(testing_support::fileExists(dir / "out/aaa.txt"));
}

TEST(DiffOfFolders, ShipsChangedFilesAndDeletesRemovedOnes) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  makeDirs(dir / "old/shaders");
  makeDirs(dir / "new/shaders");
  writeFile(dir / "old/same.bin", "same");
  writeFile(dir / "new/same.bin", "same");
  writeFile(dir / "old/shaders/ui.cache", "old ui");
  writeFile(dir / "new/shaders/ui.cache", "new ui");
  writeFile(dir / "old/gone.cache", "gone");
  writeFile(dir / "new/added.cache", "added");
  ToolResult result = runTool({"diff", "old", "new", "-o", "cache.kx"});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(entriesOf(dir / "cache.kx"),
            (std::map<std::string, std::string>{
                {"added.cache", "added"}, {"gone.cache", ""}, {"shaders/ui.cache", "new ui"}}));

  // What the installer could not carry out is refused: an empty file reads as "delete".
  writeFile(dir / "new/empty.cache", "");
  ToolResult empty = runTool({"diff", "old", "new", "-o", "cache.kx"});
  EXPECT_EQ(empty.code, 1);
  EXPECT_NE(empty.err.find("empty.cache: an empty file cannot be shipped"), std::string::npos);
  fs::remove(dir / "new/empty.cache");
  // A file in a folder OLD lacks ships: the installer makes the folder.
  makeDirs(dir / "new/fresh/deeper");
  writeFile(dir / "new/fresh/deeper/a.cache", "a");
  ASSERT_EQ(runTool({"diff", "old", "new", "-o", "cache.kx"}).code, 0);
  EXPECT_EQ(entriesOf(dir / "cache.kx").count("fresh/deeper/a.cache"), 1u);
}

#ifndef _WIN32  // links are made here with the POSIX call, which Wine does not provide
// A link's target may lie outside the folder: neither create nor diff ships what it points to.
TEST(FolderReaders, RefuseLinks) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  makeDirs(dir / "old");
  makeDirs(dir / "outside");
  writeFile(dir / "outside/secret", "not the game's");
  writeFile(dir / "old/a.cache", "a");
  for (const char* link : {"new/linked.cache", "new/linked folder"}) {
    SCOPED_TRACE(link);
    fs::remove_all(dir / "new");
    makeDirs(dir / "new");
    writeFile(dir / "new/a.cache", "a2");
    const bool folder = std::string(link).find("folder") != std::string::npos;
    fs::create_symlink(folder ? dir / "outside" : dir / "outside/secret", dir / link);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"create", "new", "-o", "out.kx"},
          std::vector<std::string>{"diff", "old", "new", "-o", "out.kx"}}) {
      ToolResult result = runTool(args);
      EXPECT_EQ(result.code, 1) << args[0];
      EXPECT_NE(result.err.find("a link"), std::string::npos) << result.err;
      EXPECT_FALSE(testing_support::fileExists(dir / "out.kx"));
    }
  }
}
#endif

}  // namespace
