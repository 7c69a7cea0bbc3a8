#include "tests/reliability/installer_runs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

#include "archive/kx_file_system.h"
#include "integrity/fingerprint.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

namespace reliability {

Tree readTree(const std::string& folder) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      tree[fs::relative(entry.path(), folder).generic_string()] = readFile(entry.path().string());
  return tree;
}

Installation::Installation(const std::string& releaseDir, const std::string& gameFolder)
    : release_(releaseDir), game_(dir_ / gameFolder), payload_(releaseDir + "/payload") {
  for (const char* sub : {"run", "config", "home", "tmp"}) fs::create_directories(dir_ / sub);
  reset();
}

void Installation::reset() {
  fs::remove_all(game_);
  fs::create_directories(fs::path(game_).parent_path());
  fs::copy(release_ + "/2.650", game_, fs::copy_options::recursive);
}

void Installation::usePrivatePayload() {
  const std::string copy = dir_ / "payload";
  if (payload_ == copy) return;
  fs::copy(payload_, copy, fs::copy_options::recursive);
  payload_ = copy;
}

void Installation::writePreferences(const std::string& content) {
  fs::create_directories(dir_ / "config/Brightfall/Halvoreen");
  writeFile(dir_ / "config/Brightfall/Halvoreen/preferences.xml", content);
}

pid_t Installation::start(const RunOptions& options) {
  // Everything the child needs is made before the fork: after it only system calls are made.
  std::map<std::string, std::string> overrides = {
      {"XDG_RUNTIME_DIR", options.runtimeFolder.empty() ? dir_ / "run" : options.runtimeFolder},  {"XDG_CONFIG_HOME", dir_ / "config"},
      {"HOME", dir_ / "home"},            {"TMPDIR", dir_ / "tmp"},
      {"LC_ALL", "C"},                    {"LANG", "C"},
      {"KXPATCH_TEST_PAYLOAD_DIR", payload_}};
  if (!options.failCreate.empty() || !options.failReplace.empty() ||
      !options.failRenameFrom.empty() || options.noLinks || options.killAt > 0 ||
      !options.stepTrace.empty()) {
    overrides["LD_PRELOAD"] = KXPATCH_FAULT_SHIM;
    overrides["KXPATCH_FAULT_CREATE"] = options.failCreate;
    overrides["KXPATCH_FAULT_REPLACE"] = options.failReplace;
    overrides["KXPATCH_FAULT_RENAME_FROM"] = options.failRenameFrom;
    overrides["KXPATCH_FAULT_NO_LINKS"] = options.noLinks ? "1" : "";
    overrides["KXPATCH_KILL_UNDER"] = game_;
    overrides["KXPATCH_KILL_AT"] = options.killAt > 0 ? std::to_string(options.killAt) : "";
    overrides["KXPATCH_KILL_TRACE"] = options.stepTrace;
    // A sanitized installer wants its runtime first; the preloaded library only passes calls on.
    const char* asan = std::getenv("ASAN_OPTIONS");
    overrides["ASAN_OPTIONS"] =
        std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
  }
  std::vector<std::string> env = testing_support::environmentWith(overrides);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = KXPATCH_INSTALLER;
  char* argv[] = {program.data(), nullptr};
  const std::string cwd = options.workingFolder.empty() ? bin() : options.workingFolder;
  const std::string outPath = dir_ / ("stdout" + std::to_string(++started_));
  const std::string errPath = dir_ / ("stderr" + std::to_string(started_));
  outputs_[started_] = {outPath, errPath};
  const uint64_t limit = options.fileSizeLimit;

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid > 0) startedAs_[pid] = started_;
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (limit != 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit fileSize{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
      if (::setrlimit(RLIMIT_FSIZE, &fileSize) != 0) ::_exit(126);
    }
    ::execve(argv[0], argv, envp.data());
    ::_exit(127);
  }
  return pid;
}

Outcome Installation::wait(pid_t pid, int timeoutSeconds) {
  Outcome outcome;
  int status = 0;
  rusage usage{};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  // The kernel's own peak for the child counts the test's memory it shared before exec; the
  // installer's own peak is its VmHWM, followed while it runs.
  const std::string statusPath = "/proc/" + std::to_string(pid) + "/status";
  while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
    const std::string procStatus = readFile(statusPath);
    const size_t hwm = procStatus.find("VmHWM:");
    if (hwm != std::string::npos)
      outcome.peakMemoryKiB = std::max(outcome.peakMemoryKiB, std::atol(procStatus.c_str() + hwm + 6));
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  outcome.exited = WIFEXITED(status);
  outcome.code = outcome.exited ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  const auto& files = outputs_[startedAs_[pid]];
  outcome.out = readFile(files.first);
  outcome.err = readFile(files.second);
  return outcome;
}

Outcome Installation::run(const RunOptions& options, int timeoutSeconds) {
  return wait(start(options), timeoutSeconds);
}

void moveVersionToVemo(const std::string& oldInstallation, const std::string& table) {
  const std::string cn = oldInstallation + "/" + kGamePacks[kCNPack].name;
  {
    KXFileSystemRef archive = makeRef<KXFileSystem>(cn);
    if (!archive->eraseFileOrDirectory("scripts_config.xml") ||
        !archive->createNewZip(cn, nullptr))
      throw std::runtime_error("cannot take the version entry out of " + cn);
    archive->closeArchive();
  }
  fs::rename(cn + "temp", cn);
  installer_test::setTableValue(table, "2.650", kGamePacks[kCNPack].name,
                                getCRC32Value(cn).text());
}

const std::string& versionInVemoRelease(const std::string& releaseDir) {
  static std::map<std::string, std::string> made;
  std::string& copy = made[releaseDir];
  if (!copy.empty()) return copy;
  const std::string folder = releaseDir + "-version-in-vemo";
  fs::remove_all(folder);
  fs::copy(releaseDir, folder, fs::copy_options::recursive);
  moveVersionToVemo(folder + "/2.650", folder + "/payload/MD5.txt");
  // The run writes the table it carries.
  fs::copy_file(folder + "/payload/MD5.txt", folder + "/2.651/bin/MD5.txt",
                fs::copy_options::overwrite_existing);
  copy = folder;
  return copy;
}

std::string box(const std::string& caption, const std::string& text) {
  return "[" + caption + "] " + text + "\n";
}

}  // namespace reliability
