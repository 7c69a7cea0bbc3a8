// The check table read as bytes, whatever it holds: tens of megabytes, zero bytes, GBK keys
// whose second byte is a backslash. Each lookup has one defined answer.
#include <gtest/gtest.h>

#include <string>

#include "integrity/check_table.h"

namespace {

std::string entry(const std::string& key, const std::string& value) {
  return "\t<" + key + ">" + value + "</" + key + ">\n";
}

std::string block(const std::string& version, const std::string& entries) {
  return "<mox" + version + ">\n" + entries + "</mox" + version + ">\n";
}

// Tens of thousands of older blocks before the one asked for, as a table grown over years
// would hold; about 64 MiB.
std::string enormousTable() {
  std::string table;
  table.reserve(70u << 20);
  const std::string filler = entry("Halvoreen\\gameRes_packed.kx", "966039554500cd48") +
                             entry("Halvoreen\\CN_packed.kx", "b7748241");
  std::string older;
  for (int i = 0; i < 16; ++i) older += filler;
  for (int v = 0; table.size() < (64u << 20); ++v) table += block("0." + std::to_string(v), older);
  return table;
}

TEST(CheckTableHardening, EnormousTableFindsTheLastBlockAndReportsWhatIsMissing) {
  const std::string body = enormousTable();
  const std::string last = block("2.651", entry("Halvoreen\\CN_packed.kx", "08879f69"));
  EXPECT_EQ(getCheckValue(body + last, "mox2.651", "Halvoreen\\CN_packed.kx"), "08879f69");
  EXPECT_EQ(getCheckValue(body + last, "mox2.651", "Halvoreen\\vemo_packed.kx"),
            kSearchStartNotFound);
  EXPECT_EQ(getCheckValue(body, "mox2.651", "Halvoreen\\CN_packed.kx"), kParentStartNotFound);
  // An unclosed last block: the search does not run on into the megabytes before it.
  EXPECT_EQ(getCheckValue(body + "<mox2.651>\n" + entry("Halvoreen\\CN_packed.kx", "1"),
                          "mox2.651", "Halvoreen\\CN_packed.kx"),
            kParentEndNotFound);
  // A value that never closes inside its block is not taken from a later block.
  EXPECT_EQ(getCheckValue("<mox2.651>\n\t<k>1\n</mox2.651>\n" + body + "</k>", "mox2.651", "k"),
            kSearchEndNotFound);
}

TEST(CheckTableHardening, ZeroBytesAreOrdinaryBytes) {
  const std::string nul(1, '\0');
  struct Case {
    const char* what;
    std::string table;
    std::string parent;
    std::string key;
    std::string expected;
  };
  const Case cases[] = {
      {"zero byte before the block",
       nul + block("2.651", entry("k", "v")), "mox2.651", "k", "v"},
      {"zero byte inside the value", block("2.651", entry("k", "a" + nul + "b")), "mox2.651",
       "k", "a" + nul + "b"},
      {"zero byte inside the key", block("2.651", entry("k" + nul + "x", "v")), "mox2.651",
       "k" + nul + "x", "v"},
      {"key cut at the zero byte does not match",
       block("2.651", entry("k" + nul + "x", "v")), "mox2.651", "k", kSearchStartNotFound},
      {"zero byte in the version", block("2.6" + nul + "51", entry("k", "v")),
       "mox2.6" + nul + "51", "k", "v"},
      {"zero byte alone is no table", nul, "mox2.651", "k", kParentStartNotFound},
      {"empty tags in a table of zeros", std::string(4096, '\0'), "", "", kParentStartNotFound},
  };
  for (const Case& c : cases)
    EXPECT_EQ(getCheckValue(c.table, c.parent, c.key), c.expected) << c.what;
}

TEST(CheckTableHardening, GbkKeysWithABackslashTrailByteMatchWholeCharacters) {
  // "\xD5\x5C" is one GBK character whose second byte is the backslash.
  const std::string gbk = "Halvoreen\\\xD5\x5C.kx";
  const std::string table =
      block("2.651", entry("Halvoreen\\\xD5", "lead byte only") + entry(gbk, "12345678") +
                         entry("Halvoreen\\\xD5\x5C", "no extension"));
  EXPECT_EQ(getCheckValue(table, "mox2.651", gbk), "12345678");
  EXPECT_EQ(getCheckValue(table, "mox2.651", "Halvoreen\\\xD5"), "lead byte only");
  EXPECT_EQ(getCheckValue(table, "mox2.651", "Halvoreen\\\xD5\x5C"), "no extension");
  EXPECT_EQ(getCheckValue(table, "mox2.651", "Halvoreen\\\xD5/.kx"), kSearchStartNotFound);
}

}  // namespace
