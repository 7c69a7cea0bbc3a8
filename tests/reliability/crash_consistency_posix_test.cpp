// The installer killed (SIGKILL) right after each step that changes the installation, then run
// again once, each time from the same old installation. Whatever the step, no pack or game
// executable may be missing or half written at the kill, and the rerun must leave exactly the
// new version behind: no temporary file, no kept copy, no payload archive, no journal.
//
// The steps are counted by the library preloaded into the installer (tests/reliability/
// fault_shim.c): every create or truncation, rename, link, unlink and folder creation in the
// installation folder, and the first write of each file it writes (logs aside). A first run
// lists them; then one run is killed after each.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/reliability/installer_runs.h"

using namespace reliability;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitized installer is several times slower: every fourth step, a different fourth for
// each sweep, runs its code paths under the sanitizers; the release build kills at all.
constexpr int kEvery = 4;
#else
constexpr int kEvery = 1;
#endif
// Runs killed at once: the machine's two cores, each installer waiting on the disk part of the
// time.
constexpr int kWorkers = 2;

// Every pack changes, so that each one is merged, written and swapped; the loose files change
// too (one is rewritten, one deleted). With `delta` the replaced entries travel as deltas, so
// that kills also land while entries are being rebuilt from them.
const std::string& crashRelease(bool delta) {
  release::TestReleaseOptions options;
  options.delta = delta;
  options.changedPacks = {0, 1, 2, 3, 4, 5};
  options.binEntries = {{"mox.exe", "game executable 2.651\n"}};
  options.cacheEntries = {{"shaders.bin", "compiled shaders 2.651"}, {"fonts.bin", ""}};
  return releaseFor(delta ? "crash-delta" : "crash", options);
}

// The files the installer writes for its own record; they legitimately differ between runs.
bool isLog(const std::string& relative) {
  return relative == "bin/updater.log" || relative == "bin/pack.log";
}

Tree withoutLogs(Tree tree) {
  for (auto it = tree.begin(); it != tree.end();) it = isLog(it->first) ? tree.erase(it) : ++it;
  return tree;
}

// The box of a run that finds the installation at the new version with no update to finish.
const std::string kRefusedAsNew =
    box("本程序不适用于您当前版本", "您当前版本为v2.651,本程序只适用于v2.650升级到v2.651");

struct Sweep {
  const char* name;
  bool versionInVemo;  // CN_packed.kx has no version entry (its patch brings one)
  bool noLinks;        // hard links are refused, as on a FAT volume
  int sampleOffset;    // which of the sampled steps this sweep kills at, when it samples
  bool delta = false;  // the release carries its replaced entries as deltas
};

void PrintTo(const Sweep& sweep, std::ostream* out) { *out << sweep.name; }

// One letter per pack ('o' old bytes, 'n' new bytes), then what else lies around: a rewritten
// pack not yet swapped in, the old CN kept for a moment, patch archives, the game executable's
// state, the table, the journal.
std::string describe(const Installation& installation, const Tree& oldTree, const Tree& newTree) {
  auto form = [&](const std::string& relative) {
    const std::string path = installation.game() + "/" + relative;
    if (!testing_support::fileExists(path)) return 'x';
    const std::string bytes = testing_support::readFile(path);
    return bytes == oldTree.at(relative) ? 'o' : bytes == newTree.at(relative) ? 'n' : 'x';
  };
  std::string packs;
  bool pendingRewrite = false;
  int patches = 0;
  for (int i = 0; i < kGamePackCount; ++i) {
    const char f = form(kGamePacks[i].name);
    EXPECT_NE(f, 'x') << kGamePacks[i].name << " is missing or neither version";
    packs += f;
    pendingRewrite |= testing_support::fileExists(installation.packPath(i) + "temp");
    patches += testing_support::fileExists(installation.game() + "/" + kGamePacks[i].patchName);
  }
  const char exe = form("bin/mox.exe");
  EXPECT_NE(exe, 'x') << "bin/mox.exe is missing or neither version";
  const std::string game = installation.game() + "/";
  std::ostringstream text;
  text << packs << (pendingRewrite ? " +temp" : "")
       << (testing_support::fileExists(installation.packPath(kCNPack) + "old") ? " +old" : "")
       << " patches:" << patches << " exe:" << exe
       << (testing_support::fileExists(installation.bin() + "/MD5.txt") ? " table" : "")
       << (testing_support::fileExists(game + "packUpdate.journal") ? " journal" : "");
  return text.str();
}

// The steps a whole run takes, as the preloaded library lists them ("N what path" lines).
std::vector<std::string> stepsOfOneRun(Installation& installation, const RunOptions& base,
                                       const Tree& newTree) {
  const std::string trace = installation.root() + "/steps";
  RunOptions options = base;
  options.stepTrace = trace;
  const Outcome whole = installation.run(options);
  EXPECT_TRUE(whole.exited && whole.err.empty()) << whole.err;
  EXPECT_EQ(withoutLogs(readTree(installation.game())), newTree);
  std::vector<std::string> steps;
  std::istringstream lines(testing_support::readFile(trace));
  for (std::string line; std::getline(lines, line);) steps.push_back(line);
  fs::remove(trace);
  return steps;
}

class CrashConsistency : public ::testing::TestWithParam<Sweep> {};

TEST_P(CrashConsistency, KilledAfterEveryStepThenOneRerunEndsAtTheNewVersion) {
  const Sweep& sweep = GetParam();
  const std::string release =
      sweep.versionInVemo ? versionInVemoRelease(crashRelease(sweep.delta))
                          : crashRelease(sweep.delta);
  const Tree oldTree = readTree(release + "/2.650");
  const Tree newTree = withoutLogs(readTree(release + "/2.651"));
  RunOptions base;
  base.noLinks = sweep.noLinks;

  const auto begin = Clock::now();
  std::vector<std::string> steps;
  {
    Installation reference(release);
    steps = stepsOfOneRun(reference, base, newTree);
  }
  ASSERT_GE(steps.size(), 40u) << "the run's steps were not counted";

  std::vector<int> points;
  for (int step = 1; step <= static_cast<int>(steps.size()); ++step)
    if ((step + sweep.sampleOffset) % kEvery == 0) points.push_back(step);

  std::mutex seenLock;
  std::map<std::string, int> seen;
  std::atomic<size_t> next{0};
  auto worker = [&] {
    Installation installation(release);
    for (size_t i = next++; i < points.size(); i = next++) {
      const int step = points[i];
      SCOPED_TRACE("killed after step " + steps[step - 1]);
      installation.reset();
      RunOptions killed = base;
      killed.killAt = step;
      const Outcome cut = installation.run(killed);
      EXPECT_EQ(cut.signal, SIGKILL) << "the run did not reach the step";
      const std::string state = describe(installation, oldTree, newTree);

      // Killed after its last step (the journal's removal), the run had finished: the rerun
      // then stops at the version check, as after any finished update.
      const bool finished = withoutLogs(readTree(installation.game())) == newTree;
      const Outcome rerun = installation.run(base);
      EXPECT_TRUE(rerun.exited) << "signal " << rerun.signal;
      EXPECT_EQ(rerun.err, finished ? kRefusedAsNew : "")
          << "state " << state << "\n" << installation.runLog();
      const Tree after = withoutLogs(readTree(installation.game()));
      for (const auto& file : newTree) {
        auto found = after.find(file.first);
        EXPECT_TRUE(found != after.end() && found->second == file.second)
            << file.first << " is not at the new version after the rerun; state " << state;
      }
      for (const auto& file : after)
        EXPECT_TRUE(newTree.count(file.first)) << file.first << " left behind; state " << state;
      std::lock_guard<std::mutex> hold(seenLock);
      ++seen[state];
    }
  };
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) workers.emplace_back(worker);
  for (std::thread& w : workers) w.join();

  std::cout << "\n[ STATES   ] " << sweep.name << ": " << steps.size() << " steps, "
            << points.size() << " killed and rerun in "
            << std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - begin).count()
            << " s\n";
  for (const auto& state : seen)
    std::cout << "[ STATES   ] " << state.second << " x " << state.first << "\n";
  // The sweep must reach the states where the journal matters: the installation reading as
  // the new version while a pack or the kept copy is still there.
  EXPECT_GE(seen.size(), kEvery == 1 ? 10u : 4u);
}

const Sweep kSweeps[] = {
    {"VersionInCN", false, false, 0},
    {"VersionInVemo", true, false, 1},
    {"VersionInVemoWithoutLinks", true, true, 2},
    {"VersionInVemoAsDeltas", true, false, 3, true},
};

INSTANTIATE_TEST_SUITE_P(AfterEachStep, CrashConsistency, ::testing::ValuesIn(kSweeps),
                         [](const ::testing::TestParamInfo<Sweep>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
