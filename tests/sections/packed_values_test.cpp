// Every typed read of a packed value, over one table of stored types and bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "sections/packed_section.h"
#include "sections/packed_writer.h"
#include "sections/section_factory.h"
#include "tests/support/test_support.h"

using testing_support::unhex;

namespace {

constexpr int kIntDefault = 77;
constexpr float kFloatDefault = 7.5f;
const char* const kSkip = "<skip>";

// How getBool(true) and getBool(false) answer: always true, always false, or the default.
enum BoolRead { kTrue, kFalse, kDefault };

struct ValueCase {
  int line;
  uint32_t type;
  const char* hexBytes;
  const char* text;  // getText
  int asInt;         // getInt(kIntDefault)
  float asFloat;     // getFloat(kFloatDefault)
  BoolRead asBool;
  const char* blob;  // getBlobText("dflt"), or kSkip
};

// 1.0f = 0000803F, 1.5f = 0000C03F, 2.0f = 00000040, 3.0f = 00004040, 4.0f = 00008040
const ValueCase kCases[] = {
    // Text is used as it is; numbers go through the scratch section, except getFloat (atof).
    {__LINE__, kPackedText, "616263", "abc", 0, 0.0f, kDefault, kSkip},
    {__LINE__, kPackedText, "3132", "12", 12, 12.0f, kDefault, kSkip},
    {__LINE__, kPackedText, "312E35", "1.5", 1, 1.5f, kDefault, kSkip},
    {__LINE__, kPackedText, "", "", kIntDefault, kFloatDefault, kDefault, ""},
    {__LINE__, kPackedText, "54727565", "True", 0, 0.0f, kTrue, kSkip},
    {__LINE__, kPackedText, "66616c7365", "false", 0, 0.0f, kFalse, kSkip},
    // Signed integers of every stored width.
    {__LINE__, kPackedInt, "", "0", 0, 0.0f, kDefault, kSkip},
    {__LINE__, kPackedInt, "FF", "-1", -1, -1.0f, kDefault, kSkip},
    {__LINE__, kPackedInt, "FFFF", "-1", -1, -1.0f, kDefault, kSkip},
    {__LINE__, kPackedInt, "FFFFFFFF", "-1", -1, -1.0f, kDefault, kSkip},
    {__LINE__, kPackedInt, "7F", "127", 127, 127.0f, kDefault, kSkip},
    {__LINE__, kPackedInt, "0080", "-32768", -32768, -32768.0f, kDefault, kSkip},
    {__LINE__, kPackedInt, "78563412", "305419896", 305419896, 305419896.0f, kDefault, kSkip},
    // An integer whose text is a multiple of 4 characters long is a blob in base64.
    {__LINE__, kPackedInt, "D2040000", "1234", 1234, 1234.0f, kDefault, "\xd7\x6d\xf8"},
    // A width that holds no integer reads as nothing at all (and must not loop forever).
    {__LINE__, kPackedInt, "010203", "", kIntDefault, 0.0f, kDefault, ""},
    // Booleans: any byte, even a zero one, is true.
    {__LINE__, kPackedBool, "00", "true", 0, 0.0f, kTrue, "\xb6\xbb\x9e"},
    {__LINE__, kPackedBool, "", "false", 0, 0.0f, kFalse, kSkip},
    // Floats: one float directly, vectors printed with %f, odd lengths give nothing.
    {__LINE__, kPackedFloats, "", "", kIntDefault, 0.0f, kDefault, kSkip},
    {__LINE__, kPackedFloats, "0000C03F", "1.500000", 1, 1.5f, kDefault, kSkip},
    {__LINE__, kPackedFloats, "0000803F00000040", "1.000000 2.000000", 1, 1.0f, kDefault, kSkip},
    {__LINE__, kPackedFloats, "0000803F0000004000004040", "1.000000 2.000000 3.000000", 1, 1.0f,
     kDefault, kSkip},
    {__LINE__, kPackedFloats, "0000803F000000400000404000008040",
     "1.000000 2.000000 3.000000 4.000000", 1, 1.0f, kDefault, kSkip},
    {__LINE__, kPackedFloats, "0000803F00000040000040400000804000000000", "", kIntDefault,
     kFloatDefault, kDefault, kSkip},
    {__LINE__, kPackedFloats, "0000803F0000", "", kIntDefault, kFloatDefault, kDefault, kSkip},
    // Blobs: text is base64; marker blobs lose their marker, scrambled ones are unscrambled.
    {__LINE__, kPackedBlob, "78797A", "eHl6", 0, 0.0f, kDefault, "xyz"},
    {__LINE__, kPackedBlob, "", "", kIntDefault, kFloatDefault, kDefault, ""},
    {__LINE__, kPackedMarkerBlob, "0078797A", "eHl6", 0, 0.0f, kDefault, "xyz"},
    {__LINE__, kPackedMarkerBlob, "00", "", kIntDefault, kFloatDefault, kDefault, ""},
    // A bad marker, or no marker at all, is an empty text value.
    {__LINE__, kPackedMarkerBlob, "0278797A", "", kIntDefault, kFloatDefault, kDefault, ""},
    {__LINE__, kPackedMarkerBlob, "", "", kIntDefault, kFloatDefault, kDefault, ""},
    // Types the format does not define hold nothing readable.
    {__LINE__, 7, "3132", "", kIntDefault, kFloatDefault, kDefault, kSkip},
    {__LINE__, 15, "", "", kIntDefault, kFloatDefault, kDefault, kSkip},
};

// A packed file whose root holds one child "v" of the given type and bytes.
SectionRef singleValue(uint32_t type, const std::string& bytes) {
  PackedNode root;
  root.add("v", PackedValue{type, bytes});
  std::string file;
  EXPECT_TRUE(writePackedFile(root, file));
  SectionRef tree = sectionFromBlock("t", BinaryBlock::fromString(file, "test"), true);
  EXPECT_TRUE(refCast<PackedSection>(tree));
  return tree ? tree->findChild("v") : SectionRef();
}

bool sameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

TEST(PackedValues, EveryTypedReadFollowsTheStoredType) {
  for (const ValueCase& c : kCases) {
    SCOPED_TRACE("case at line " + std::to_string(c.line));
    SectionRef v = singleValue(c.type, unhex(c.hexBytes));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->getText("dflt"), c.text);
    EXPECT_EQ(v->getInt(kIntDefault), c.asInt);
    EXPECT_EQ(v->getLong(kIntDefault), c.asInt);
    EXPECT_TRUE(sameFloat(v->getFloat(kFloatDefault), c.asFloat)) << v->getFloat(kFloatDefault);
    EXPECT_EQ(v->getDouble(kFloatDefault), static_cast<double>(c.asFloat));
    EXPECT_EQ(v->getBool(true), c.asBool != kFalse);
    EXPECT_EQ(v->getBool(false), c.asBool == kTrue);
    if (std::string(c.blob) != kSkip) {
      EXPECT_EQ(v->getBlobText("dflt"), c.blob);
    }
    EXPECT_EQ(v->childCount(), 0);
  }
}

TEST(PackedValues, VectorsReadDirectlyOnlyAtTheirOwnLength) {
  const Vector2 d2{9, 9};
  const Vector3 d3{9, 9, 9};
  const Vector4 d4{9, 9, 9, 9};
  SectionRef v2 = singleValue(kPackedFloats, unhex("0000803F00000040"));
  SectionRef v3 = singleValue(kPackedFloats, unhex("0000803F0000004000004040"));
  SectionRef v4 = singleValue(kPackedFloats, unhex("0000803F000000400000404000008040"));
  EXPECT_EQ(v2->getVector2(d2), (Vector2{1, 2}));
  EXPECT_EQ(v3->getVector3(d3), (Vector3{1, 2, 3}));
  EXPECT_EQ(v4->getVector4(d4), (Vector4{1, 2, 3, 4}));
  // Other lengths convert through their text: too few components give the default.
  EXPECT_EQ(v2->getVector3(d3), d3);
  EXPECT_EQ(v4->getVector3(d3), (Vector3{1, 2, 3}));

  SectionRef text = singleValue(kPackedText, "4 5 6");
  EXPECT_EQ(text->getVector3(d3), (Vector3{4, 5, 6}));
  EXPECT_EQ(singleValue(kPackedText, "x")->getVector2(d2), d2);
}

TEST(PackedValues, BlobsComeOutAsBlocks) {
  SectionRef blob = singleValue(kPackedBlob, "xyz");
  BlockRef block = blob->getBlock();
  ASSERT_TRUE(block);
  EXPECT_EQ(block->asString(), "xyz");
  // The view keeps the file alive on its own.
  blob = SectionRef();
  EXPECT_EQ(block->asString(), "xyz");

  // Anything else is a fresh block holding the blob text.
  BlockRef fromInt = singleValue(kPackedInt, unhex("D2040000"))->getBlock();
  EXPECT_EQ(fromInt->asString(), "\xd7\x6d\xf8");
}

TEST(PackedValues, ScrambledBlobIsUnscrambledInPlaceOnce) {
  PackedNode root;
  root.add("s", PackedValue::markerBlob("secret", true));
  std::string file;
  ASSERT_TRUE(writePackedFile(root, file));
  EXPECT_EQ(file.find("secret"), std::string::npos);

  BlockRef block = BinaryBlock::fromString(file, "test");
  SectionRef tree = sectionFromBlock("t", block, true);
  EXPECT_EQ(tree->childAt(0)->getBlobText(""), "secret");
  // The block now holds the plain bytes behind a zero marker, and reading again agrees.
  EXPECT_NE(block->asString().find(std::string("\0secret", 7)), std::string::npos);
  EXPECT_EQ(tree->childAt(0)->getBlobText(""), "secret");
  EXPECT_EQ(tree->findChild("s")->getText(""), "c2VjcmV0");
}

TEST(PackedValues, WideTextFollowsTheText) {
  EXPECT_EQ(singleValue(kPackedText, "!abc")->getWideText(u"d"), u"abc");
  // "YQBiAA==" is base64 of the 16-bit characters a, b.
  EXPECT_EQ(singleValue(kPackedText, "YQBiAA==")->getWideText(u"d"), u"ab");
}

}  // namespace
