// Delta entries end to end: a patch made with deltas rebuilds NEW's pack byte for byte through
// the installer's merge, and an installed entry other than the one the delta was made from is
// refused, never guessed, by the merge, kxtool apply, extract and cat alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "archive/kx_file_system.h"
#include "platform/replacement_file.h"
#include "tests/tools/tool_fixture.h"

using namespace tool_test;

namespace {

namespace fs = std::filesystem;

std::string scriptTable(int edited, int table = 0, int lines = 2000) {
  std::string text;
  for (int line = 0; line < lines; ++line)
    text += "item " + std::to_string(line) + " damage " +
            std::to_string(line == edited ? 99999 : (line + table) * 7 % 113) + " level " +
            std::to_string((line + table) % 60) + "\n";
  return text;
}

struct InstalledCase {
  const char* behaviour;
  // What the installed pack holds in place of OLD's "data/items.txt"; absent: no such entry.
  const char* items;
  ArchiveFailure failure;  // None: the merge and write rebuild NEW
  // Found by the merge, which reads nothing of the entry, or by the write, which rebuilds it.
  bool foundByMerge;
};

TEST(DeltaEntries, RebuildNewExactlyOrRefuseTheEntryTheDeltaWasNotMadeFrom) {
  TempDir dir;
  const std::string oldPack = dir.path() + "/old.kx", newPack = dir.path() + "/new.kx";
  const std::string patch = dir.path() + "/patch.kx";
  const std::string oldItems = scriptTable(-1);
  ASSERT_TRUE(release::writeArchive(oldPack, {{"data/items.txt", oldItems}, {"s", "same"}}));
  ASSERT_TRUE(release::writeArchive(newPack, {{"data/items.txt", scriptTable(1234)},
                                              {"s", "same"}}));
  ASSERT_TRUE(release::makePatchArchive(oldPack, newPack, patch));
  release::DeltaCounts counts;
  std::string error;
  ASSERT_TRUE(release::deltaPatchArchive(oldPack, newPack, patch, dir.path(), counts, error))
      << error;
  EXPECT_EQ(counts.deltas, 1u);
  EXPECT_EQ(counts.whole, 0u);
  EXPECT_GT(counts.bytesSaved, 0u);
  EXPECT_LT(fs::file_size(patch), 1024u) << "the edit travels, not the table";

  std::string oneByteOff = oldItems;
  oneByteOff[oldItems.size() / 2] ^= 0x01;
  const std::string longer = oldItems + "x";
  const InstalledCase cases[] = {
      {"the entry the delta was made from", oldItems.c_str(), ArchiveFailure::None, false},
      {"one byte differs", oneByteOff.c_str(), ArchiveFailure::DeltaOldEntryDiffers, false},
      {"another size", longer.c_str(), ArchiveFailure::DeltaOldEntryDiffers, true},
      {"no such entry", nullptr, ArchiveFailure::DeltaOldEntryMissing, true},
  };
  for (const InstalledCase& c : cases) {
    SCOPED_TRACE(c.behaviour);
    const std::string installed = dir.path() + "/installed.kx";
    std::vector<release::NamedContent> entries = {{"s", "same"}};
    if (c.items) entries.emplace_back("data/items.txt", c.items);
    ASSERT_TRUE(release::writeArchive(installed, entries));
    const std::string before = readFile(installed);

    // The merge and the write: which entry failed and why; the entry stays old (a merge
    // refusal) or nothing is left (a write refusal), and the delta record's bytes are never
    // written as an entry's.
    {
      const std::string mergedPath = installed + ".mergedtemp";
      KXFileSystemRef pack = makeRef<KXFileSystem>(installed);
      KXFileSystemRef source = makeRef<KXFileSystem>(patch);
      const auto merged = pack->mergePatch(*source);
      ASSERT_EQ(static_cast<bool>(merged), !c.foundByMerge);
      const bool written =
          static_cast<bool>(pack->createNewZip(installed + ".merged", source.get()));
      EXPECT_EQ(written, c.failure == ArchiveFailure::None || c.foundByMerge);
      const ArchiveError refusal = merged ? pack->lastError() : merged.error();
      pack->closeArchive();
      source->closeArchive();
      if (c.failure == ArchiveFailure::None) {
        EXPECT_EQ(merged.value().fromDeltas, 1u);
        EXPECT_EQ(readFile(mergedPath), readFile(newPack));
      } else {
        EXPECT_EQ(refusal.failure, c.failure);
        EXPECT_EQ(refusal.subject, "data/items.txt");
        if (c.foundByMerge) EXPECT_EQ(entriesOf(mergedPath), entriesOf(installed));
        else EXPECT_FALSE(fs::exists(mergedPath)) << "a rewrite lacking the entry is left";
      }
      if (fs::exists(mergedPath)) {
        KXFileSystemRef result = makeRef<KXFileSystem>(mergedPath);
        for (const ArchiveFile& record : result->records())
          EXPECT_NE(record.entry_.compressionMethod, kMethodDelta) << record.name;
        result->closeArchive();
        fs::remove(mergedPath);
      }
    }

    // kxtool apply: NEW byte for byte, or refused with the pack untouched.
    const ToolResult applied = runTool({"apply", installed, patch});
    if (c.failure == ArchiveFailure::None) {
      EXPECT_EQ(applied.code, 0) << applied.err;
      EXPECT_EQ(readFile(installed), readFile(newPack));
    } else {
      EXPECT_NE(applied.code, 0);
      EXPECT_NE(applied.err.find("data/items.txt"), std::string::npos) << applied.err;
      EXPECT_EQ(readFile(installed), before);
    }
  }

  // A delta record has no contents of its own: extract and cat refuse it by name.
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"extract", patch, dir.path() + "/out"},
        std::vector<std::string>{"cat", patch, "data/items.txt"}}) {
    const ToolResult refused = runTool(command);
    EXPECT_NE(refused.code, 0) << command[0];
    EXPECT_NE(refused.err.find("a delta of the installed entry"), std::string::npos)
        << command[0] << ": " << refused.err;
  }
  EXPECT_FALSE(fs::exists(dir.path() + "/out/data/items.txt"));
}

// Entries encoded at once (each with its own encoder files) give the patch one entry at a time
// gives, byte for byte: deltas and entries whose delta is larger, among records only copied.
TEST(DeltaEntries, ThePatchIsTheSameWhateverTheNumberOfEntriesEncodedAtOnce) {
  if (!release::deltaEncoderAvailable()) GTEST_SKIP() << "xdelta3 is not installed";
  TempDir dir;
  std::vector<release::NamedContent> oldEntries = {{"same", "same"}, {"gone.txt", "removed"}};
  std::vector<release::NamedContent> newEntries = {{"same", "same"}, {"added.txt", "new"}};
  std::mt19937 random(7);
  for (int k = 0; k < 6; ++k) {
    const std::string table = "tables/" + std::to_string(k) + ".txt";
    oldEntries.emplace_back(table, scriptTable(-1) + std::to_string(k));
    newEntries.emplace_back(table, scriptTable(k * 300) + std::to_string(k));
    if (k % 3 == 0) {
      std::string noise(4000, '\0');
      for (auto* entries : {&oldEntries, &newEntries}) {
        for (char& c : noise) c = static_cast<char>(random());
        entries->emplace_back("noise/" + std::to_string(k), noise);
      }
    }
  }
  const std::string oldPack = dir.path() + "/old.kx", newPack = dir.path() + "/new.kx";
  ASSERT_TRUE(release::writeArchive(oldPack, oldEntries));
  ASSERT_TRUE(release::writeArchive(newPack, newEntries));
  const std::string patch = dir.path() + "/patch.kx";
  ASSERT_TRUE(release::makePatchArchive(oldPack, newPack, patch));

  std::string first;
  for (unsigned workers : {1u, 4u}) {
    SCOPED_TRACE(workers);
    const std::string copy = dir.path() + "/patch" + std::to_string(workers) + ".kx";
    fs::copy_file(patch, copy);
    release::DeltaCounts counts;
    std::string error;
    ASSERT_TRUE(release::deltaPatchArchive(oldPack, newPack, copy, dir.path(), counts, error,
                                           workers))
        << error;
    EXPECT_EQ(counts.deltas, 6u);
    EXPECT_EQ(counts.whole, 2u) << "the noise entries";
    if (first.empty()) first = readFile(copy);
    else EXPECT_EQ(readFile(copy), first);
    EXPECT_EQ(runTool({"apply", oldPack, copy, "-o", copy + ".applied"}).code, 0);
    EXPECT_EQ(readFile(copy + ".applied"), readFile(newPack));
  }
}

// Failures and writer steps in the one order they were told.
struct ToldInOrder : ArchiveEvents {
  void failed(const ArchiveError& error) override { told.push_back("failed " + error.subject); }
  void writerStep(WriterStep step, int64_t) override {
    if (step == WriterStep::WritingEntries || step == WriterStep::EntriesWritten)
      told.push_back(step == WriterStep::WritingEntries ? "writing" : "written");
  }
  std::vector<std::string> told;
};

// Several delta entries are rebuilt ahead of the writer while it writes earlier ones. Two in
// the middle were not made from the installed entries: each is told when the writer reaches
// it, in entry order, and the entries around them are rebuilt as NEW has them; a write that
// stops at the first leaves no file behind and nothing rebuilt ahead held.
TEST(DeltaEntries, EntriesRebuiltAheadKeepTheWritersOrderAroundFailures) {
  TempDir dir;
  constexpr int kTables = 6;
  const auto tableName = [](int t) { return "data/t" + std::to_string(t) + ".txt"; };
  std::vector<release::NamedContent> oldEntries, newEntries, installedEntries, keptEntries;
  for (int t = 0; t < kTables; ++t) {
    const std::string old = scriptTable(-1, t, 20000);
    std::string installed = old;
    if (t == 2 || t == 4) installed[old.size() / 3] ^= 0x01;
    const std::string edited = scriptTable(100 * t + 7, t, 20000);
    const std::string unchanged = "between " + std::to_string(t);
    for (auto* entries : {&oldEntries, &newEntries, &installedEntries, &keptEntries})
      entries->emplace_back(tableName(t) + ".note", unchanged);
    oldEntries.emplace_back(tableName(t), old);
    newEntries.emplace_back(tableName(t), edited);
    installedEntries.emplace_back(tableName(t), installed);
    keptEntries.emplace_back(tableName(t), installed == old ? edited : installed);
  }
  const std::string oldPack = dir / "old.kx", newPack = dir / "new.kx", patch = dir / "patch.kx";
  const std::string installed = dir / "installed.kx", kept = dir / "kept.kx";
  ASSERT_TRUE(release::writeArchive(oldPack, oldEntries));
  ASSERT_TRUE(release::writeArchive(newPack, newEntries));
  ASSERT_TRUE(release::writeArchive(installed, installedEntries));
  ASSERT_TRUE(release::writeArchive(kept, keptEntries));
  ASSERT_TRUE(release::makePatchArchive(oldPack, newPack, patch));
  release::DeltaCounts counts;
  std::string error;
  ASSERT_TRUE(release::deltaPatchArchive(oldPack, newPack, patch, dir.path(), counts, error))
      << error;
  ASSERT_EQ(counts.deltas, static_cast<size_t>(kTables));

  for (const bool keepOld : {true, false}) {
    SCOPED_TRACE(keepOld ? "the failed entries kept old" : "the write stops at the first");
    ToldInOrder events;
    KXFileSystemRef pack = makeRef<KXFileSystem>(installed, &events);
    KXFileSystemRef source = makeRef<KXFileSystem>(patch);
    ASSERT_TRUE(pack->mergePatch(*source));
    platform::ReplacementFile output(installed);
    ArchiveError keptOld;
    const bool written =
        static_cast<bool>(pack->createNewZip(output, source.get(), keepOld ? &keptOld : nullptr));
    pack->closeArchive();
    source->closeArchive();
    EXPECT_EQ(written, keepOld);
    if (keepOld) {
      EXPECT_EQ(keptOld.failure, ArchiveFailure::DeltaOldEntryDiffers);
      EXPECT_EQ(keptOld.subject, tableName(2));
      EXPECT_EQ(events.told, (std::vector<std::string>{"writing", "failed " + tableName(2),
                                                       "failed " + tableName(4), "written"}));
      EXPECT_TRUE(readFile(output.temporaryPath()) == readFile(kept))
          << "NEW's entries, the two failed ones as installed";
    } else {
      EXPECT_EQ(pack->lastError().subject, tableName(2));
      EXPECT_EQ(events.told, (std::vector<std::string>{"writing", "failed " + tableName(2)}));
      EXPECT_FALSE(fs::exists(output.temporaryPath()));
    }
  }
}

}  // namespace
