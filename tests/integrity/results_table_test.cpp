#include "integrity/results_table.h"

#include <gtest/gtest.h>

#include <string>

#include "integrity/crc32.h"
#include "integrity/fingerprint.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;

bool decode(const std::string& text, ResultsTable& table, ResultsError& error) {
  return decodeResults(text.data(), text.size(), table, error);
}

TEST(ResultsTable, EncodedTableDecodesToTheSameRecords) {
  ResultsTable table;
  table.from = "2.650";
  table.to = "2.651";
  ASSERT_TRUE(table.add("qdres_packed.kx", {4194304, 0x0a1b2c3d}));
  // GBK name whose second byte is a backslash, below a sub-folder.
  ASSERT_TRUE(table.add(resultPath("cache/sub/\xb1\x5c.dat"), {0, 0}));
  ASSERT_TRUE(table.add(resultPath("bin/mox.exe"), {(uint64_t{1} << 40) + 5, 0xffffffff}));
  EXPECT_FALSE(table.add("bin\\mox.exe", {1, 1})) << "a path recorded twice";

  const std::string text = encodeResults(table);
  EXPECT_EQ(text,
            "# kxpatch results 2.650 2.651\n"
            "bin\\mox.exe\t1099511627781\tffffffff\n"
            "cache\\sub\\\xb1\x5c.dat\t0\t00000000\n"
            "qdres_packed.kx\t4194304\t0a1b2c3d\n");
  ResultsTable decoded;
  ResultsError error;
  ASSERT_TRUE(decode(text, decoded, error)) << error.line;
  EXPECT_EQ(decoded.from, "2.650");
  EXPECT_EQ(decoded.to, "2.651");
  EXPECT_EQ(decoded.records(), table.records());
  ASSERT_NE(decoded.find("qdres_packed.kx"), nullptr);
  EXPECT_EQ(decoded.find("qdres_packed.kx")->crc, 0x0a1b2c3du);
  EXPECT_EQ(decoded.find("QDRES_packed.kx"), nullptr);

  // CR LF line ends, comments, blank lines and no first line are read as well.
  ASSERT_TRUE(decode("# made by hand\r\n\r\nx.kx\t1\t00000001\r\n", decoded, error));
  EXPECT_EQ(decoded.from, "");
  EXPECT_EQ(decoded.size(), 1u);
}

TEST(ResultsTable, LinesThatAreNotRecordsAreRefusedAndNothingIsKept) {
  const struct {
    std::string text;
    ResultsFault fault;
  } cases[] = {
      {"a.kx\t1\n", ResultsFault::NotARecord},
      {"a.kx\t1\t00000001\textra\n", ResultsFault::NotARecord},
      {"\t1\t00000001\n", ResultsFault::BadPath},
      {std::string(1025, 'p') + "\t1\t00000001\n", ResultsFault::BadPath},
      {"a\x01.kx\t1\t00000001\n", ResultsFault::BadPath},
      {"a.kx\t-1\t00000001\n", ResultsFault::BadSize},
      {"a.kx\t\t00000001\n", ResultsFault::BadSize},
      {"a.kx\t9223372036854775808\t00000001\n", ResultsFault::BadSize},
      {"a.kx\t99999999999999999999\t00000001\n", ResultsFault::BadSize},
      {"a.kx\t1\t0000000G\n", ResultsFault::BadCrc},
      {"a.kx\t1\t0000000A\n", ResultsFault::BadCrc},
      {"a.kx\t1\t0000001\n", ResultsFault::BadCrc},
      {"ok.kx\t2\t00000002\n", ResultsFault::RecordedTwice},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    ResultsTable table;
    ASSERT_TRUE(table.add("left.kx", {1, 1}));
    ResultsError error;
    EXPECT_FALSE(decode("ok.kx\t1\t00000001\n" + c.text, table, error));
    EXPECT_EQ(error.fault, c.fault);
    EXPECT_EQ(error.line, 2u);
    EXPECT_TRUE(table.empty());
  }
  ResultsTable table;
  ResultsError error;
  EXPECT_FALSE(decode("# kxpatch results 2.650\nok.kx\t1\t00000001\n", table, error));
  EXPECT_EQ(error.fault, ResultsFault::BadFirstLine);
  EXPECT_EQ(error.line, 1u);
}

TEST(ResultsTable, OversizedInputIsRefusedBeforeItIsRead) {
  ResultsTable table;
  ResultsError error;
  // Longer than the limit: refused on the length alone, the bytes never looked at.
  EXPECT_FALSE(decodeResults(nullptr, kMaxResultsTextBytes + 1, table, error));
  EXPECT_EQ(error.fault, ResultsFault::TooLong);

  std::string many;
  for (size_t i = 0; i <= kMaxResultRecords; ++i) many += std::to_string(i) + "\t1\t00000001\n";
  EXPECT_FALSE(decode(many, table, error));
  EXPECT_EQ(error.fault, ResultsFault::TooManyRecords);
  EXPECT_EQ(error.line, kMaxResultRecords + 1);
}

TEST(ResultsTable, FileMatchesOnlyWithItsSizeAndTheCrcOfEveryByte) {
  TempDir dir;
  const std::string path = dir / "f";
  const std::string bytes = "exactly these bytes";
  writeFile(path, bytes);
  const uint32_t crc = crc32Update(0, bytes.data(), bytes.size());
  std::string found;
  EXPECT_TRUE(fileMatchesResult(path, {bytes.size(), crc}, found));
  EXPECT_EQ(found, std::to_string(bytes.size()) + " " + crcText(crc));
  EXPECT_FALSE(fileMatchesResult(path, {bytes.size() + 1, crc}, found));
  EXPECT_FALSE(fileMatchesResult(path, {bytes.size(), crc ^ 1}, found));
  EXPECT_FALSE(fileMatchesResult(dir / "absent", {0, 0}, found));
  EXPECT_EQ(found, "FileNotExist");
}

}  // namespace
