// Thousands of damaged XML texts through the factory: whatever the bytes, no read or write
// leaves the block (run under the address sanitizer), and every section reached answers every
// read.
#include <gtest/gtest.h>

#include <random>

#include "sections/section_factory.h"
#include "xml_test_util.h"

namespace {

const char* const kSeeds[] = {
    "<script_config>\n\t<version>\t2.651\t</version>\n</script_config>\n",
    "<?xml version=\"1.0\"?><r><!-- a <!-- b --> c --><a k=\"v\">x &amp; y &#65;&#x42;</a>"
    "<b/><c><![CDATA[ <raw> ]]></c><d e=1 /><row0>1 2 3</row0><row1>4 5 6</row1></r>",
    "<m><row0>1 2 3</row0><row1>4 5 6</row1><row2>7 8 9</row2><row3>0 0 1</row3></m>",
    "<w><t>TRUE</t><i>-12</i><f>1.5</f><v>1 2 3 4</v><s>!wide</s><b>YQBiAA==</b></w>",
};

// Pieces that steer mutations into the parser's interesting corners.
const std::string kTokens[] = {"<",   ">",   "/",     "</",   "/>",  "<!--", "-->",
                               "<![CDATA[", "]]>", "<?", "?>",  "&",   ";",    "&#",
                               "&#x", "&amp;", "=",  " ",   "\t",  std::string(1, '\0'), "\xff"};

std::string mutate(std::string text, std::mt19937& rng) {
  auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  for (size_t edits = 1 + pick(4); edits > 0; --edits) {
    const size_t at = text.empty() ? 0 : pick(text.size() + 1);
    switch (pick(5)) {
      case 0:
        if (at < text.size()) text[at] = static_cast<char>(pick(256));
        break;
      case 1:
        text.insert(at, kTokens[pick(sizeof kTokens / sizeof *kTokens)]);
        break;
      case 2:
        if (at < text.size()) text.erase(at, 1 + pick(8));
        break;
      case 3:
        text.resize(at);
        break;
      default:
        if (at < text.size()) text.insert(at, text.substr(at, 1 + pick(16)));
    }
  }
  return text;
}

// Every read of every section below, recursively.
void walk(const SectionRef& section, int depth) {
  ASSERT_TRUE(section);
  section->name();
  section->sizeInBytes();
  section->getText("d", 0);
  section->getBool(false);
  section->getInt(0);
  section->getLong(0);
  section->getDouble(0);
  section->getVector2(Vector2{});
  section->getVector3(Vector3{});
  section->getVector4(Vector4{});
  section->getMatrix(Matrix{});
  section->getBlobText("");
  section->getWideText(u"", 0);
  section->hasValidName();
  std::vector<SectionRef> collected;
  section->collectChildren("row1", collected);
  section->openSection("a/b");
  if (depth > 16) return;
  for (ChildIterator it = section->begin(), end = section->end(); it != end; ++it)
    walk(*it, depth + 1);
  section->getBlock();
}

TEST(XmlMutations, DamagedTextsNeverLeaveTheBlock) {
  std::mt19937 rng(7);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string text = mutate(kSeeds[round % (sizeof kSeeds / sizeof *kSeeds)], rng);
    const bool inPlace = round % 2 == 0;
    BlockRef caller = xml_test::block(text);
    SectionRef root = sectionFromBlock("t", caller, inPlace);
    if (!inPlace) {
      ASSERT_TRUE(root) << text;
      ASSERT_EQ(caller->asString(), text);
    }
    if (!root) continue;
    ++accepted;
    walk(root, 0);
    if (HasFatalFailure()) FAIL() << text;
  }
  // The mutations must leave enough texts intact to exercise the parsed trees too.
  EXPECT_GT(accepted, 1000);
}

}  // namespace
