// The installer killed (SIGKILL) at many moments of a run and then run again to the end, each
// time from the same old installation. Whatever the moment, no pack may be missing or half
// written at the kill, and the second run must leave exactly the new version behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/reliability/installer_runs.h"

using namespace reliability;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

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

// One word per pack ('o' old bytes, 'n' new bytes), then what else lies around: a rewritten
// pack not yet swapped in, patch archives, the loose files' state.
struct KillState {
  std::string packs;
  bool rewrittenPending = false;
  int patchArchives = 0;
  char executable = '?';
  bool tableWritten = false;
  std::string text() const {
    return packs + (rewrittenPending ? " +temp" : "") + " patches:" +
           std::to_string(patchArchives) + " exe:" + executable +
           (tableWritten ? " table" : "");
  }
};

class CrashConsistency : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    release_ = crashRelease(GetParam());
    oldTree_ = readTree(release_ + "/2.650");
    newTree_ = withoutLogs(readTree(release_ + "/2.651"));
  }

  // Checks the state the kill left and describes it. Every pack must be there, byte for byte
  // the old or the new version.
  KillState inspect(const Installation& installation) {
    KillState state;
    for (int i = 0; i < 6; ++i) {
      const std::string name = kGamePacks[i].name;
      const std::string path = installation.packPath(i);
      EXPECT_TRUE(testing_support::fileExists(path)) << name << " missing";
      const std::string bytes = testing_support::readFile(path);
      const char form = bytes == oldTree_[name] ? 'o' : bytes == newTree_[name] ? 'n' : 'x';
      EXPECT_NE(form, 'x') << name << " is neither version (" << bytes.size() << " bytes)";
      state.packs += form;
      if (testing_support::fileExists(path + "temp")) state.rewrittenPending = true;
      if (testing_support::fileExists(installation.game() + "/" + kGamePacks[i].patchName))
        ++state.patchArchives;
    }
    const std::string exe = testing_support::readFile(installation.bin() + "/mox.exe");
    state.executable = exe == oldTree_["bin/mox.exe"] ? 'o' : exe == newTree_["bin/mox.exe"] ? 'n' : 'x';
    EXPECT_NE(state.executable, 'x') << "bin/mox.exe is neither version (" << exe.size()
                                     << " bytes)";
    state.tableWritten = testing_support::fileExists(installation.bin() + "/MD5.txt");
    return state;
  }

  // The second run: from wherever the first stopped to exactly the new version, with nothing
  // of the interrupted run left behind.
  void rerunToTheEnd(Installation& installation, const KillState& state,
                     const std::string& where) {
    SCOPED_TRACE(where + " state " + state.text());
    const Outcome rerun = installation.run();
    EXPECT_TRUE(rerun.exited) << "signal " << rerun.signal;
    EXPECT_EQ(rerun.code, 0);
    const Tree after = withoutLogs(readTree(installation.game()));
    for (const auto& file : newTree_) {
      auto found = after.find(file.first);
      EXPECT_NE(found, after.end()) << file.first << " missing after the rerun";
      if (found != after.end()) {
        EXPECT_TRUE(found->second == file.second) << file.first << " differs after the rerun";
      }
    }
    for (const auto& file : after)
      EXPECT_TRUE(newTree_.count(file.first)) << file.first << " left behind";
  }

  // Runs once from the old installation, killing the installer when `killNow` says so (it is
  // polled as fast as it can be); then inspects and reruns. Returns the state seen, or "" when
  // the run ended before the kill.
  std::string killAndRerun(Installation& installation, const std::function<bool()>& killNow,
                           const std::string& where) {
    installation.reset();
    const pid_t pid = installation.start();
    int status = 0;
    bool ended = false;
    // Polled often enough to catch a small pack's rewritten archive, yet leaving the processor
    // to the installer.
    while (!ended && !killNow()) {
      ended = ::waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ended = !WIFSIGNALED(status);  // it may have finished just before the signal
    }
    const KillState state = inspect(installation);
    rerunToTheEnd(installation, state, where);
    return ended ? std::string() : state.text();
  }

  std::string release_;
  Tree oldTree_;
  Tree newTree_;
};

TEST_P(CrashConsistency, KilledAnywhereThenRerunEndsAtTheNewVersion) {
  Installation installation(release_);
  // The run's own work starts when the payload is written out; before that it only waits,
  // probes the system and checks the version. The sweep covers the work.
  auto workStarted = [&] {
    if (testing_support::fileExists(installation.game() + "/binTemp.kx")) return true;
    for (const GamePack& pack : kGamePacks)
      if (testing_support::fileExists(installation.game() + "/" + pack.patchName)) return true;
    return false;
  };

  // Whole runs, to know how long the work lasts here; the shortest of three, so that a moment
  // of load on the machine does not push the sweep past the end of the later runs.
  Clock::duration work = Clock::duration::max();
  Clock::duration wholeRun{};
  for (int reference = 0; reference < 3; ++reference) {
    installation.reset();
    const auto begin = Clock::now();
    const pid_t pid = installation.start();
    while (!workStarted() && ::waitpid(pid, nullptr, WNOHANG) == 0)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    const auto started = Clock::now();
    const Outcome whole = installation.wait(pid);
    work = std::min(work, Clock::now() - started);
    wholeRun = Clock::now() - begin;
    ASSERT_TRUE(whole.exited);
    ASSERT_EQ(withoutLogs(readTree(installation.game())), newTree_);
  }

  std::map<std::string, int> seen;
  int killed = 0;
  int points = 0;
  auto record = [&](const std::string& state) {
    ++points;
    if (state.empty()) return;
    ++killed;
    ++seen[state];
  };

  // Kills after delays swept evenly over the work's length, counted from its start.
  constexpr int kSweep = 40;
  for (int k = 0; k < kSweep && !HasFatalFailure(); ++k) {
    const auto delay = std::chrono::duration_cast<Clock::duration>(work * (k + 0.5) / kSweep);
    Clock::time_point deadline = Clock::time_point::max();
    record(killAndRerun(
        installation,
        [&] {
          if (deadline == Clock::time_point::max() && workStarted()) deadline = Clock::now() + delay;
          return Clock::now() >= deadline;
        },
        "kill " + std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(delay).count()) +
            " us into the work"));
  }

  // Kills at moments found by watching the files: while a pack's rewritten archive is being
  // written, and right after its patch archive is deleted (the pack is done).
  for (int i = 0; i < 6 && !HasFatalFailure(); ++i) {
    const std::string rewritten = installation.packPath(i) + "temp";
    const std::string patch = installation.game() + "/" + kGamePacks[i].patchName;
    record(killAndRerun(
        installation, [&] { return fs::exists(rewritten); },
        std::string("kill while writing ") + kGamePacks[i].name));
    bool patchSeen = false;
    record(killAndRerun(
        installation,
        [&] {
          const bool present = fs::exists(patch);
          if (present) patchSeen = true;
          return patchSeen && !present;
        },
        std::string("kill after ") + kGamePacks[i].name));
  }

  std::cout << "\n[ STATES   ] " << points << " kill points, " << killed
            << " killed the run; whole run "
            << std::chrono::duration_cast<std::chrono::milliseconds>(wholeRun).count()
            << " ms, its work "
            << std::chrono::duration_cast<std::chrono::milliseconds>(work).count() << " ms\n";
  for (const auto& state : seen)
    std::cout << "[ STATES   ] " << state.second << " x " << state.first << "\n";
  EXPECT_GE(points, 50);
  // Most kill points must land inside the run, or the sweep says little.
  EXPECT_GE(killed, points / 2);
  EXPECT_GE(seen.size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(Entries, CrashConsistency, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "AsDeltas" : "Whole";
                         });

}  // namespace
