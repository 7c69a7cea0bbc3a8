// Path walks, child collection, iteration and the trace replay, over the DataSection interface.
#include <gtest/gtest.h>

#include <vector>

#include "sections/data_section.h"
#include "sections/section_factory.h"
#include "sections/trace_flag.h"
#include "sections/xml_parser.h"
#include "sections/xml_section.h"
#include "xml_test_util.h"

using xml_test::block;
using xml_test::describe;

namespace {

SectionRef sample() {
  SectionRef root = parseXmlSection(
      "root", block("<r>top<a><b>ab</b><b>ab2</b></a><item>1</item><other>2</other>"
                    "<item>3</item><x/y>slash</x/y></r>"));
  EXPECT_TRUE(root);
  return root;
}

TEST(SectionPaths, WalkReachesTheSameSectionWhateverTheSlashes) {
  SectionRef root = sample();
  SectionRef ab = root->findChild("a")->findChild("b");
  const struct {
    const char* path;
    DataSection* expected;
  } cases[] = {
      {"", root.get()},        {"a/b", ab.get()},       {"a//b/", ab.get()},
      {"a///b//", ab.get()},   {"a/", root->findChild("a").get()},
      {"a/c", nullptr},        {"/a", nullptr},         {"A/b", nullptr},
      {"missing/b", nullptr},  {"item", root->childAt(1).get()},
  };
  for (const auto& c : cases) EXPECT_EQ(root->openSection(c.path).get(), c.expected) << c.path;
}

TEST(SectionPaths, ReadTextThroughPaths) {
  SectionRef root = sample();
  EXPECT_EQ(root->readText("", "d"), "top");
  EXPECT_EQ(root->readText("a/b", "d"), "ab");
  EXPECT_EQ(root->readText("version", ""), "");
  EXPECT_EQ(root->readText("a//b", ""), "ab");
  root->addChild("version")->storeText(" 2.651 ");
  EXPECT_EQ(root->readText("version", ""), " 2.651 ");
}

TEST(SectionPaths, CreateAppendsMissingSectionsAndNothingOtherwise) {
  SectionRef root(new XMLSection("r"));
  EXPECT_FALSE(root->openSection("missing/x"));
  EXPECT_EQ(root->childCount(), 0);
  SectionRef x = root->openSection("missing/x", true);
  ASSERT_TRUE(x);
  EXPECT_EQ(describe(root), "r(missing(x))");
  EXPECT_EQ(root->openSection("missing//x/", true), x);
  EXPECT_EQ(describe(root), "r(missing(x))");
}

TEST(SectionPaths, Vector3AtPaths) {
  SectionRef root(new XMLSection("r"));
  EXPECT_TRUE(root->writeVector3At("p/q", Vector3{1, 2, 3}, "%g %g %g"));
  EXPECT_EQ(root->readText("p/q", ""), "1 2 3");
  EXPECT_EQ(root->readVector3At("p/q", Vector3{}), (Vector3{1, 2, 3}));
  EXPECT_EQ(root->readVector3At("p/none", Vector3{4, 5, 6}), (Vector3{4, 5, 6}));
}

TEST(SectionPaths, CollectChildrenMatchesTheLastStepExactly) {
  SectionRef root = sample();
  const struct {
    const char* path;
    const char* found;
  } cases[] = {{"item", "item=1,item=3"},  {"a/b", "b=ab,b=ab2"}, {"a//b", "b=ab,b=ab2"},
               {"other", "other=2"},       {"none", ""},          {"nothing/b", ""},
               {"x/y", ""},                {"a/", ""},            {"x/y/", ""}};
  for (const auto& c : cases) {
    std::vector<SectionRef> out;
    root->collectChildren(c.path, out);
    std::string found;
    for (const SectionRef& s : out) found += (found.empty() ? "" : ",") + describe(s);
    EXPECT_EQ(found, c.found) << c.path;
  }
  // Results are appended to what the caller already holds.
  std::vector<SectionRef> out{root};
  root->collectChildren("item", out);
  EXPECT_EQ(out.size(), 3u);
}

TEST(SectionChildren, IndexOfChildAndNames) {
  SectionRef root = sample();
  EXPECT_EQ(root->indexOfChild(root->childAt(2)), 2);
  EXPECT_EQ(root->indexOfChild(SectionRef(new XMLSection("item"))), -1);
  EXPECT_EQ(root->indexOfChild(SectionRef()), -1);
  EXPECT_EQ(root->childNameAt(3), "item");
  EXPECT_EQ(root->childNameAt(99), "");
}

TEST(SectionChildren, IteratorVisitsEveryChildInOrder) {
  SectionRef root = sample();
  std::vector<std::string> names;
  for (ChildIterator it = root->begin(); it != root->end(); ++it) {
    EXPECT_EQ((*it)->name(), it.name());
    names.push_back(it.name());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a", "item", "other", "item", "x/y"}));
  EXPECT_EQ(root->begin(), ChildIterator(root.get(), 0));
  EXPECT_NE(root->begin(), root->end());
}

TEST(SectionBase, DefaultsOfAFormThatStoresNothing) {
  SectionRef bin = sectionFromBlock("bin", block(std::string("\x01\x02\x03", 3)), true);
  ASSERT_TRUE(bin);
  EXPECT_EQ(bin->getText("dflt", 0), "dflt");
  EXPECT_EQ(bin->getInt(5), 5);
  EXPECT_EQ(bin->getVector2(Vector2{1, 2}), (Vector2{1, 2}));
  EXPECT_FALSE(bin->storeText("x"));
  EXPECT_FALSE(bin->storeInt(1));
  EXPECT_FALSE(bin->insertChild("x", 0));
  EXPECT_FALSE(bin->storeChild(SectionRef(new XMLSection("c")), false));
  EXPECT_EQ(bin->encodeName("a b"), "a b");
  EXPECT_TRUE(bin->hasValidName());
  EXPECT_FALSE(bin->normaliseName());
}

TEST(SectionTrace, ReplaysTheWalkWithTheFlagRaised) {
  SectionRef root = sample();
  std::vector<std::string> lines;
  bool flagSeen = false;
  setTraceSink([&](const std::string& text) {
    lines.push_back(text);
    flagSeen = flagSeen || traceFlagRaised();
  });
  root->startTraceSection("a//b");
  setTraceSink(nullptr);
  EXPECT_FALSE(traceFlagRaised());
  EXPECT_TRUE(flagSeen);
  const std::vector<std::string> expected = {
      "----------------start trace section: a//b\n",
      ">>>traceOpenSection: a//b\n",
      "findChild(a)\n",
      ">>>traceFindChild: a\n",
      "openSection(b)\n",
      ">>>traceOpenSection: b\n",
      "Then find that single child section:b\n",
      ">>>traceFindChild: b\n",
      "return pChild, pChild: b\n",
      "Then find that single child section:a//b\n",
      ">>>traceFindChild: a//b\n",
      "return pChild, pChild is NULL.\n",
  };
  EXPECT_EQ(lines, expected);

  lines.clear();
  setTraceSink([&](const std::string& text) { lines.push_back(text); });
  root->startTraceSection("zz/b");
  root->startTraceSection("");
  setTraceSink(nullptr);
  EXPECT_EQ(lines[4], "can not find child: zz\n");
  EXPECT_EQ(lines.back(), "tag is empty, return this.\n");
}

}  // namespace
