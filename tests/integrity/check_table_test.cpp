#include "integrity/check_table.h"

#include <gtest/gtest.h>

namespace {

// A table laid out as shipped: version blocks newest first (newer ones TAB-indented with LF
// line ends, older ones space-indented with CR LF), then the MiniCheck and PackCheck blocks.
// The 1.051 block lacks kxres_packed.kx, which the later 1.000 block has; the 1.001 block
// opens a CN_packed.kx entry that only a later block closes.
const std::string kTable =
    "<mox2.651>\n"
    "\t<Halvoreen\\gameRes_packed.kx>966039554500cd48</Halvoreen\\gameRes_packed.kx>\n"
    "\t<Halvoreen\\kxres_packed.kx>820068619bae128f2</Halvoreen\\kxres_packed.kx>\n"
    "\t<Halvoreen\\vemo_packed.kx>96cc7892</Halvoreen\\vemo_packed.kx>\n"
    "\t<Halvoreen\\CN_packed.kx>08879f69</Halvoreen\\CN_packed.kx>\n"
    "\t<Halvoreen\\bin\\mox.exe>6c1e1107</Halvoreen\\bin\\mox.exe>\n"
    "</mox2.651>\n"
    "\n"
    "<mox2.650>\n"
    "\t<Halvoreen\\gameRes_packed.kx>966039554500cd48</Halvoreen\\gameRes_packed.kx>\n"
    "\t<Halvoreen\\vemo_packed.kx>56ae60a3</Halvoreen\\vemo_packed.kx>\n"
    "\t<Halvoreen\\CN_packed.kx>b7748241</Halvoreen\\CN_packed.kx>\n"
    "\t<Halvoreen\\bin\\mox.exe>6c1e1107</Halvoreen\\bin\\mox.exe>\n"
    "</mox2.650>\n"
    "\n"
    "<mox1.051>\r\n"
    "    <Halvoreen\\gameRes_packed.kx>69566317</Halvoreen\\gameRes_packed.kx>\r\n"
    "    <Halvoreen\\notes.txt> two words\r\n and a line </Halvoreen\\notes.txt>\r\n"
    "</mox1.051>\r\n"
    "\r\n"
    "<mox1.001>\r\n"
    "    <Halvoreen\\CN_packed.kx>3b1c0f2a\r\n"
    "</mox1.001>\r\n"
    "\r\n"
    "<mox1.000>\r\n"
    "    <Halvoreen\\kxres_packed.kx>123456</Halvoreen\\kxres_packed.kx>\r\n"
    "    <Halvoreen\\CN_packed.kx>0a0b0c0d</Halvoreen\\CN_packed.kx>\r\n"
    "</mox1.000>\r\n"
    "\r\n"
    "<mox0.885>\r\n"
    "    <Halvoreen\\bin\\mox.exe>81CA5C7B7D279EC89F96844349A5DE19</Halvoreen\\bin\\mox.exe>\r\n"
    "\r\n"
    "<MiniCheck>\n"
    "Mini2.651.exe 81CA5C7B7D279EC89F96844349A5DE19 \n"
    "</MiniCheck>\n"
    "\n"
    "<PackCheck>\n"
    "\t<2.642-2.650Pack.exe>6c1e1107</2.642-2.650Pack.exe>\n"
    "</PackCheck>\n";

struct Lookup {
  const char* what;
  const char* parent;
  const char* key;
  const char* expected;
};

const Lookup kLookups[] = {
    {"new block, LF and TAB", "mox2.651", "Halvoreen\\CN_packed.kx", "08879f69"},
    {"old block found after the new one", "mox2.650", "Halvoreen\\CN_packed.kx", "b7748241"},
    {"size plus CRC value", "mox2.651", "Halvoreen\\kxres_packed.kx", "820068619bae128f2"},
    {"executable key with two backslashes", "mox2.650", "Halvoreen\\bin\\mox.exe", "6c1e1107"},
    {"CR LF and spaces", "mox1.051", "Halvoreen\\gameRes_packed.kx", "69566317"},
    {"value with blanks and a line break kept as is", "mox1.051", "Halvoreen\\notes.txt",
     " two words\r\n and a line "},
    {"upper-case legacy value", "mox1.000", "Halvoreen\\CN_packed.kx", "0a0b0c0d"},
    {"step installer in PackCheck", "PackCheck", "2.642-2.650Pack.exe", "6c1e1107"},
    {"version prefix does not match a longer version", "mox2.65", "Halvoreen\\CN_packed.kx",
     kParentStartNotFound},
    {"unknown version", "mox9.999", "Halvoreen\\CN_packed.kx", kParentStartNotFound},
    {"tag case matters", "MOX2.651", "Halvoreen\\CN_packed.kx", kParentStartNotFound},
    {"block without closing tag, later blocks complete", "mox0.885", "Halvoreen\\bin\\mox.exe",
     kParentEndNotFound},
    {"key only in a later block", "mox1.051", "Halvoreen\\kxres_packed.kx",
     kSearchStartNotFound},
    {"key prefix does not match a longer key", "mox2.651", "Halvoreen\\CN_packed",
     kSearchStartNotFound},
    {"key whose closing tag is only in a later block", "mox1.001", "Halvoreen\\CN_packed.kx",
     kSearchEndNotFound},
    {"MiniCheck lines carry no tags", "MiniCheck", "Mini2.651.exe", kSearchStartNotFound},
};

TEST(CheckTable, AnswersEveryLookupFromItsOwnBlock) {
  for (const Lookup& lookup : kLookups) {
    EXPECT_EQ(getCheckValue(kTable, lookup.parent, lookup.key), lookup.expected) << lookup.what;
  }
}

TEST(CheckTable, SmallTablesFailWithTheTextOfTheMissingPart) {
  struct Case {
    const char* table;
    const char* expected;
  } cases[] = {
      {"", kParentStartNotFound},
      // A closing tag before the opening one does not close it.
      {"</mox2.651>\n<mox2.651>\n<k>v</k>\n", kParentEndNotFound},
      {"<mox2.651>\n</mox2.651>\n<k>v</k>\n", kSearchStartNotFound},
      // The closing key tag before the opening one does not end the value.
      {"<mox2.651>\n</k><k>v\n</mox2.651>\n", kSearchEndNotFound},
      {"<mox2.651><k></k></mox2.651>", ""},
      {"<mox2.651><k>v</k><k>w</k></mox2.651>", "v"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(getCheckValue(c.table, "mox2.651", "k"), c.expected) << c.table;
  }
}

TEST(CheckTable, KeyWhoseClosingTagStartsInsideItsOpeningTagHasNoValue) {
  // Key "></": its opening tag "<></>" at 3 and its closing tag "</></>" at 5 overlap, so the
  // value would have a negative length.
  EXPECT_EQ(getCheckValue("<p><></></></p>", "p", "></"), "");
}

}  // namespace
