// section pack then section dump keeps the tree; every source form and bad input.
#include <gtest/gtest.h>

#include "sections/bin_section.h"
#include "sections/packed_writer.h"
#include "tests/tools/tool_fixture.h"

using namespace tool_test;

namespace {

TEST(SectionPackThenDump, KeepsTheTree) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const char* const trees[] = {
      "<root>\n\t<version>\t2.651\t</version>\n</root>\n",
      "<root>\n\t<a>\t1\t</a>\n\t<a>\t2\t</a>\n\t<b>\n\t\t<c>\tdeep\t</c>\n\t</b>\n</root>\n",
      "<root>\n\t<text>\t确定 取消\t</text>\n\t<empty>\t</empty>\n</root>\n",
      // Blanks at the ends of a value, which a reader trims unless they are references.
      "<root>\n\t<c><![CDATA[  keep\t]]></c>\n\t<d>&#32;lead</d>\n\t<e>&#10;</e>\n</root>\n",
  };
  for (const char* tree : trees) {
    writeFile(dir / "in.xml", tree);
    ToolResult packed = runTool({"section", "pack", "in.xml", "-o", "out.packed"});
    ASSERT_EQ(packed.code, 0) << packed.err;
    ToolResult fromXml = runTool({"section", "dump", "in.xml"});
    ToolResult fromPacked = runTool({"section", "dump", "out.packed"});
    EXPECT_EQ(fromPacked.code, 0) << fromPacked.err;
    EXPECT_EQ(fromPacked.out, fromXml.out);
    // The dump is itself a source that packs to the same bytes.
    writeFile(dir / "dumped.xml", fromPacked.out);
    ASSERT_EQ(runTool({"section", "pack", "dumped.xml", "-o", "again.packed"}).code, 0);
    EXPECT_EQ(readFile(dir / "again.packed"), readFile(dir / "out.packed"));
  }
}

// Packed values keep their types through a dump: an unedited dump packs back to the same
// bytes, and an edited integer stays an integer of the width it had.
TEST(SectionDumpThenPack, KeepsTheBytesOfTypedValues) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  PackedNode root;
  root.add("version", PackedValue::text("2.651"));
  root.add("build", PackedValue::integer(26510));
  root.add("wide", PackedValue::integer(-70000));
  root.add("scale", PackedValue::real(0.1f));
  root.add("spawn", PackedValue::vector3({1.5f, -2.0f, 1e-7f}));
  root.add("on", PackedValue::boolean(true));
  root.add("off", PackedValue::boolean(false));
  root.add("icon", PackedValue::blob(std::string("\x00\x01<>&\xff", 6)));
  root.add("pose", PackedValue::matrix(Matrix{}));
  // 26000 in four bytes, where the least width would be two: the game reads either.
  root.add("padded", PackedValue{kPackedInt, std::string("\x90\x65\x00\x00", 4)});
  PackedNode& paths = root.add("paths", PackedValue::integer(7));
  paths.add("scripts", PackedValue::text("scripts/client"));
  std::string original;
  ASSERT_TRUE(writePackedFile(root, original));
  writeFile(dir / "original.packed", original);

  ToolResult dump = runTool({"section", "dump", "original.packed"});
  ASSERT_EQ(dump.code, 0) << dump.err;
  writeFile(dir / "dump.xml", dump.out);
  ASSERT_EQ(runTool({"section", "pack", "dump.xml", "-o", "again.packed"}).code, 0);
  EXPECT_EQ(testing_support::hex(readFile(dir / "again.packed")), testing_support::hex(original))
      << dump.out;

  std::string edited = dump.out;
  edited.replace(edited.find("26510"), 5, "26511");
  edited.replace(edited.find("26000"), 5, "26001");
  writeFile(dir / "edited.xml", edited);
  ASSERT_EQ(runTool({"section", "pack", "edited.xml", "-o", "edited.packed"}).code, 0);
  root.children[1].value = PackedValue::integer(26511);
  root.children[9].value = PackedValue{kPackedInt, std::string("\x91\x65\x00\x00", 4)};
  std::string expected;
  ASSERT_TRUE(writePackedFile(root, expected));
  EXPECT_EQ(testing_support::hex(readFile(dir / "edited.packed")), testing_support::hex(expected));
}

TEST(SectionDump, ReadsAnArchiveEntryByArchiveColonPath) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ASSERT_TRUE(release::writeArchive(dir / "CN.kx", {{"scripts_config.xml",
                                                     release::makeScriptsConfig("2.650")}}));
  ToolResult result = runTool({"section", "dump", "CN.kx:scripts_config.xml", "--tag",
                               "script_config"});
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "<script_config>\n\t<version>\t2.650\t</version>\n</script_config>\n");
  EXPECT_EQ(runTool({"section", "dump", "CN.kx:missing.xml"}).code, 1);
}

TEST(Section, RefusesWhatIsNotASection) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  writeFile(dir / "plain.txt", "just words");
  writeFile(dir / "broken.xml", "<a><b>1</b");
  // Binary containers nested 300 deep: a few KiB whose dump would recurse once a level.
  std::string deep = "leaf";
  for (int i = 0; i < 300; ++i) {
    std::string outer;
    const BinChild child{"c", reinterpret_cast<const unsigned char*>(deep.data()), deep.size()};
    ASSERT_TRUE(encodeBinContainer({child}, outer));
    deep = std::move(outer);
  }
  writeFile(dir / "deep.bin", deep);
  struct Case {
    std::vector<std::string> words;
    const char* error;
  };
  const Case cases[] = {
      {{"section", "dump", "plain.txt"}, "not a data section"},
      {{"section", "dump", "broken.xml"}, "does not parse"},
      {{"section", "pack", "broken.xml", "-o", "x"}, "does not parse"},
      {{"section", "pack", "plain.txt", "-o", "x"}, "not XML text"},
      {{"section", "dump", "missing.xml"}, "no such file"},
      {{"section", "dump", "deep.bin"}, "deeper than 256 levels"},
  };
  for (const Case& c : cases) {
    ToolResult result = runTool(c.words);
    EXPECT_EQ(result.code, 1) << c.words[2];
    EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
  }
  EXPECT_FALSE(testing_support::fileExists(dir / "x"));
}

}  // namespace
