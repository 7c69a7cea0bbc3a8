// Opening sections by resource path, the per-thread cache, and saving through an owner.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sections/section_cache.h"
#include "sections/trace_flag.h"
#include "sections/xml_parser.h"
#include "sections/xml_section.h"
#include "xml_test_util.h"

namespace {

// Installs a root for one test and removes it afterwards.
class ScopedRoot {
 public:
  explicit ScopedRoot(const SectionRef& root) { setResourceRoot(root); }
  ~ScopedRoot() { setResourceRoot(SectionRef()); }
};

// A root that records what it was asked to store.
class StoringSection : public XMLSection {
 public:
  StoringSection() : XMLSection("store") {}
  bool storeChild(SectionRef child, bool binary) override {
    stored.push_back(child);
    storedBinary = binary;
    return true;
  }
  std::vector<SectionRef> stored;
  bool storedBinary = true;
};

TEST(SectionCache, NothingIsFoundWithoutARoot) {
  SectionRef parent;
  std::string leaf = "unchanged";
  EXPECT_FALSE(openResource("a/b"));
  EXPECT_FALSE(resolveParent("a/b", parent, leaf));
  EXPECT_FALSE(resolveParent("b", parent, leaf));
  EXPECT_FALSE(parent);
  EXPECT_EQ(leaf, "unchanged");
  SectionRef s(new XMLSection("s"));
  EXPECT_FALSE(s->saveTo("a/b"));
  EXPECT_FALSE(s->saveTo(""));  // no owner
}

TEST(SectionCache, ResolveParentSplitsAtTheLastSlash) {
  SectionRef root = parseXmlSection("", xml_test::block("<r><a><b/></a></r>"));
  ASSERT_TRUE(root);
  ScopedRoot scoped(root);
  const struct {
    const char* path;
    DataSection* parent;
    const char* leaf;
  } cases[] = {{"leaf", root.get(), "leaf"},
               {"a/leaf", root->findChild("a").get(), "leaf"},
               {"a/b/", root->openSection("a/b").get(), ""},
               {"a/b/c", root->openSection("a/b").get(), "c"},
               {"missing/c", nullptr, ""}};
  for (const auto& c : cases) {
    SectionRef parent;
    std::string leaf;
    EXPECT_EQ(resolveParent(c.path, parent, leaf), c.parent != nullptr) << c.path;
    EXPECT_EQ(parent.get(), c.parent) << c.path;
    EXPECT_EQ(leaf, c.leaf) << c.path;
  }
  EXPECT_EQ(openResource("a/b"), root->openSection("a/b"));
}

TEST(SectionCache, SaveToAsksTheParentToStoreTheSection) {
  RefPtr<StoringSection> root(new StoringSection);
  root->addChild("dir");
  ScopedRoot scoped(SectionRef(root.get()));

  SectionRef xml(new XMLSection("old"));
  // A parent that cannot store answers false, but the section has taken the leaf's name.
  EXPECT_FALSE(xml->saveTo("dir/new.xml"));
  EXPECT_EQ(xml->name(), "new.xml");
  EXPECT_FALSE(xml->saveTo("missing/x"));
  EXPECT_EQ(xml->name(), "new.xml");
  ASSERT_TRUE(xml->saveTo("top"));
  ASSERT_EQ(root->stored.size(), 1u);
  EXPECT_EQ(root->stored[0], xml);
  EXPECT_FALSE(root->storedBinary);
  EXPECT_TRUE(xml->saveTo(""));  // the owner from before
  EXPECT_EQ(root->stored.size(), 2u);
  xml->setOwner(SectionRef());  // break the cycle owner -> stored -> xml
  root->stored.clear();
}

TEST(SectionCache, CachedSectionsAreFoundFirstAndForgottenWhenDestroyed) {
  SectionRef root = parseXmlSection("", xml_test::block("<r><a>tree</a></r>"));
  ScopedRoot scoped(root);
  {
    SectionRef cached(new XMLSection("c"));
    cached->storeText("cached");
    cacheSection("a", cached.get());
    EXPECT_EQ(openResource("a")->getText("", 0), "cached");
    // Another thread has a cache of its own.
    std::string other;
    std::thread([&] { other = openResource("a")->getText("", 0); }).join();
    EXPECT_EQ(other, "tree");
  }
  EXPECT_EQ(openResource("a")->getText("", 0), "tree");
}

TEST(SectionCache, FailedLookupsOfWatchedPathsAreTracedOnce) {
  SectionRef root(new XMLSection("r"));
  ScopedRoot scoped(root);
  int traces = 0;
  setTraceSink([&](const std::string& text) {
    if (text.rfind("----------------start trace section: ", 0) == 0) ++traces;
  });
  const struct {
    const char* path;
    int traced;
  } cases[] = {{"a/b.model", 1},          {"a/b.model", 0},
               {"scripts/common/x", 1},   {"scripts/common/DLLs/x", 0},
               {"spaces/mw_090731/y", 1}, {"plain/path", 0}};
  for (const auto& c : cases) {
    traces = 0;
    EXPECT_FALSE(openResource(c.path));
    EXPECT_EQ(traces, c.traced) << c.path;
  }
  setTraceSink(nullptr);
  EXPECT_TRUE(sectionTraceDone());
}

}  // namespace
