// The whole update run on an intact installation, run by the real installer: the result on
// disk, the console, the logs, the launcher texts, the command line and the single-instance
// guard.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "archive/kx_file_system.h"
#include "integrity/check_table.h"
#include "integrity/fingerprint.h"
#include "sections/data_section.h"
#include "sections/section_factory.h"
#include "tests/app/installer_harness.h"

using namespace installer_test;

namespace {


std::string versionIn(const std::string& pack) {
  RefPtr<KXFileSystem> archive = makeRef<KXFileSystem>(pack);
  BlockRef entry = archive->readFile("scripts_config.xml");
  if (!entry) return "(no entry)";
  SectionRef section = sectionFromBlock("script_config", entry, true, nullptr);
  return section ? section->readText("version", "") : "(no section)";
}

std::vector<std::string> texts(const std::vector<std::pair<uint32_t, std::string>>& messages) {
  std::vector<std::string> out;
  for (const auto& message : messages) out.push_back(message.second);
  return out;
}

TEST(UpdateRun, IntactInstallationEndsAtTheNewVersion) {
  Scratch scratch(defaultRelease());
  auto result = scratch.run();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");

  const std::string table = readFile(scratch.bin() + "/MD5.txt");
  EXPECT_EQ(table, readFile(scratch.payload() + "/MD5.txt"));
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(kGamePacks[i].name);
    const std::string pack = scratch.packPath(i);
    const std::string expected =
        getCheckValue(table, "mox2.651", std::string("Halvoreen\\") + kGamePacks[i].name);
    EXPECT_EQ(i < 4 ? getSizeCRC32Value(pack).text() : getCRC32Value(pack).text(), expected);
    // Merging the patch reproduces the independently written new pack byte for byte.
    EXPECT_EQ(readFile(pack), readFile(scratch.releaseDir() + "/2.651/" + kGamePacks[i].name));
    EXPECT_FALSE(fileExists(pack + "temp"));
  }
  EXPECT_EQ(versionIn(scratch.packPath(5)), "2.651");
  std::vector<std::string> temporaryArchives = {"binTemp.kx", "cacheTemp.kx"};
  for (const GamePack& pack : kGamePacks) temporaryArchives.push_back(pack.patchName);
  for (const std::string& temp : temporaryArchives)
    EXPECT_FALSE(fileExists(scratch.game() + "/" + temp)) << temp;

  const auto log = lines(scratch.runLog());
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), kSuccessLine);
  const std::string runLog = scratch.runLog();
  EXPECT_NE(runLog.find("2.650-2.651Pack.exe->localVersion: 2.650, oldVersion: 2.650, "
                        "newVersion: 2.651"),
            std::string::npos);
  EXPECT_NE(runLog.find("2.650-2.651Pack.exe->do not update: qdres_packed.kx!"), std::string::npos);
  EXPECT_NE(runLog.find("2.650-2.651Pack.exe->create successful: CN_packed.kx!"), std::string::npos);
  EXPECT_NE(runLog.find("2.650-2.651Pack.exe->update successful: vemo_packed.kx!"),
            std::string::npos);

  // Console: progress lines end in CR, results in LF, percent signs shown once.
  EXPECT_EQ(result.out.rfind("------准备更新,请勿关闭,请勿同时运行多个更新程序------\n", 0), 0u);
  for (const std::string& line :
       {std::string("2.650-2.651Pack.exe->准备更新...1%\r"), std::string("2.650-2.651Pack.exe->准备更新...30%\r"),
        std::string("2.650-2.651Pack.exe->准备更新...100%\n"),
        std::string("2.650-2.651Pack.exe->从v2.650升级到v2.651......\n"),
        std::string("2.650-2.651Pack.exe->不更新qdres_packed.kx!\n"),
        std::string("2.650-2.651Pack.exe->更新CN_packed.kx...66%\r"),
        std::string("2.650-2.651Pack.exe->更新CN_packed.kx完成!\n")})
    EXPECT_NE(result.out.find(line), std::string::npos) << line;
}

// A launcher or script that reads the console and goes away early must not end the run
// half-way: the console's pipe is closed for reading before the installer starts.
TEST(UpdateRun, ConsoleReaderThatHasGoneDoesNotStopTheRun) {
  Scratch scratch(defaultRelease());
  const char* closedPipe =
      "import os, subprocess, sys\n"
      "r, w = os.pipe(); os.close(r)\n"
      "code = subprocess.run(sys.argv[1:], stdout=w, stderr=w).returncode\n"
      "sys.exit(code if code >= 0 else 128 - code)\n";
  auto result = testing_support::runProcess({"/usr/bin/env", "python3", "-c", closedPipe, KXPATCH_INSTALLER},
                                            scratch.bin(), scratch.environment());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
  EXPECT_EQ(versionIn(scratch.packPath(5)), "2.651");
}

TEST(UpdateRun, SecondRunStopsAtTheVersionCheckAndTouchesNothing) {
  Scratch scratch(defaultRelease());
  ASSERT_EQ(scratch.run().exitCode, 0);
  std::map<std::string, std::string> before;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.game()))
    if (entry.is_regular_file() && entry.path().filename() != "updater.log")
      before[entry.path().string()] = readFile(entry.path().string());

  auto second = scratch.run();
  EXPECT_EQ(second.err, box("本程序不适用于您当前版本",
                            "您当前版本为v2.651,本程序只适用于v2.650升级到v2.651"));
  std::map<std::string, std::string> after;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.game()))
    if (entry.is_regular_file() && entry.path().filename() != "updater.log")
      after[entry.path().string()] = readFile(entry.path().string());
  EXPECT_EQ(before, after);
  EXPECT_EQ(lines(scratch.runLog()).back(),
            "2.650-2.651Pack.exe->localVersion: 2.651, oldVersion: 2.650, newVersion: 2.651");
}

TEST(UpdateRun, AutoRunReportsProgressToTheLauncherInOrder) {
  Scratch scratch(defaultRelease());
  LauncherListener launcher(scratch.runtime() + "/MOXStartup");
  auto result = scratch.run({"AutoRun", "extra", "arguments"});
  EXPECT_EQ(result.exitCode, 0);
  const auto messages = launcher.messages();
  for (const auto& message : messages) EXPECT_EQ(message.first, 2055u) << message.second;
  const std::vector<std::string> received = texts(messages);
  const std::vector<std::string> milestones = {
      "Begin", "5.0",    "1.0",    "1.0",    "1.0",    "T9.0",  "1.0",     "1.0",  "4.0",
      "5.0",   "T20.0",  "T20.0",  "T20.0",  "T20.0",  "T33.3", "T100.0", "Finish"};
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.front(), "Begin");
  EXPECT_EQ(received.back(), "Finish");
  // The milestones appear in this order; the pack increments fall between them.
  EXPECT_TRUE(inOrder(received, milestones)) << ::testing::PrintToString(received);
  std::vector<std::string> totals;
  for (const std::string& text : received)
    if (text[0] == 'T') totals.push_back(text);
  EXPECT_EQ(totals, (std::vector<std::string>{"T9.0", "T20.0", "T20.0", "T20.0", "T20.0",
                                              "T33.3", "T100.0"}));
  // Under AutoRun no failure box and the success line is written.
  EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
}

TEST(UpdateRun, OnlyAnExactFirstArgumentAutoRunTurnsProgressOn) {
  const std::vector<std::vector<std::string>> quiet = {{}, {"autorun"}, {"AutoRunX"}, {"x", "AutoRun"}};
  for (const auto& args : quiet) {
    Scratch scratch(defaultRelease());
    LauncherListener launcher(scratch.runtime() + "/MOXStartup");
    auto result = scratch.run(args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(launcher.messages().empty()) << (args.empty() ? "(none)" : args[0]);
  }
}

TEST(UpdateRun, SecondInstallerWaitsForTheFirst) {
  Scratch scratch(defaultRelease());
  // A child holds the mutex the way a running installer does and, while it holds it, takes a
  // snapshot of what the waiting installer has logged so far.
  const std::string lockPath = scratch.runtime() + "/packMutex.lock";
  const std::string snapshot = scratch.root() + "/log-while-waiting";
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0666);
    ::flock(fd, LOCK_EX);
    ::usleep(1500 * 1000);
    testing_support::writeFile(snapshot, readFile(scratch.bin() + "/updater.log"));
    ::usleep(300 * 1000);
    ::_exit(0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  auto result = scratch.run();
  const auto waited = std::chrono::steady_clock::now() - start;
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_GE(waited, std::chrono::milliseconds(1000));
  EXPECT_EQ(readFile(snapshot), "--------ready to update--------\n");
  EXPECT_EQ(result.out.rfind("------准备更新", 0), 0u);
  EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
}

// A stand-in game: a process named mox.exe that sleeps `seconds`, started in this test
// program's process scope or, with `scope`, in another one.
pid_t startStandInGame(const Scratch& scratch, const char* seconds, const std::string& scope = "") {
  const std::string game = scratch.root() + "/mox.exe";
  std::filesystem::copy_file("/bin/sleep", game);
  std::map<std::string, std::string> overrides;
  if (!scope.empty()) overrides[testing_support::kProcessScopeVariable] = scope;
  std::vector<std::string> env = testing_support::environmentWith(overrides);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string name = "mox.exe", duration = seconds;
  char* argv[] = {name.data(), duration.data(), nullptr};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execve(game.c_str(), argv, envp.data());
    ::_exit(127);
  }
  return pid;
}

// The game is looked for among this test program's processes only (the scope its children
// share), so that test programs running at the same time do not disturb each other.
TEST(UpdateRun, RunningGameMakesTheRunAskUntilItEnds) {
  Scratch scratch(defaultRelease());
  const pid_t pid = startStandInGame(scratch, "2");
  // Reap the game as soon as it ends: a zombie would still count as running.
  std::thread reaper([pid] {
    int status = 0;
    ::waitpid(pid, &status, 0);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto result = scratch.run();
  reaper.join();
  EXPECT_GE(count(result.err, box("请关闭mox.exe", "请先关闭mox.exe，再点击确定!")), 2u);
  EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
}

TEST(UpdateRun, GameOfAnotherTestProgramIsNotWaitedFor) {
  Scratch scratch(defaultRelease());
  const pid_t pid = startStandInGame(scratch, "20", "another-test-program");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto result = scratch.run();
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(count(result.err, box("请关闭mox.exe", "请先关闭mox.exe，再点击确定!")), 0u);
  EXPECT_EQ(lines(scratch.runLog()).back(), kSuccessLine);
}

}  // namespace
