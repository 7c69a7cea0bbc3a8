// Running the real installer on a generated test installation: a scratch root holding the
// installation ("game"), the per-user folders, a runtime folder for the mutex and the launcher
// socket, and the payload of a generated release handed over through the test hook.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/release/release.h"

namespace installer_test {

// What every installer test reads and writes with.
using testing_support::fileExists;
using testing_support::readFile;
using testing_support::writeFile;

// The run log's last line after a successful run, and the prefix of most lines.
inline const std::string kSuccessLine = "--------update successful，new version: v2.651--------";
inline const std::string kTitle = "2.650-2.651Pack.exe";

// The folder of a generated release for `options`, made once per test program and `key`.
const std::string& releaseFor(const std::string& key, const release::TestReleaseOptions& options);
inline const std::string& defaultRelease() { return releaseFor("default", {}); }

// Receives the launcher's datagrams (4-byte little-endian code, then the text) on a thread,
// so that a sender is never blocked by a full socket queue.
class LauncherListener {
 public:
  explicit LauncherListener(const std::string& socketPath);
  ~LauncherListener();
  LauncherListener(const LauncherListener&) = delete;
  LauncherListener& operator=(const LauncherListener&) = delete;
  // Everything received, as (code, text). Call once the sender has ended: it stops listening.
  std::vector<std::pair<uint32_t, std::string>> messages();

 private:
  void receiveLoop();
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::pair<uint32_t, std::string>> received_;
  std::mutex lock_;
};

class Scratch {
 public:
  // Copies the release's old installation to the folder `gameFolder` of the scratch root.
  explicit Scratch(const std::string& releaseDir, const std::string& gameFolder = "game");

  std::string root() const { return dir_.path(); }
  std::string game() const { return dir_ / gameFolder_; }
  std::string bin() const { return game() + "/bin"; }
  std::string payload() const { return payload_; }
  std::string runtime() const { return dir_ / "run"; }
  std::string releaseDir() const { return release_; }
  std::string runLog() const { return testing_support::readFile(bin() + "/updater.log"); }
  std::string packPath(int index) const;
  // A private copy of the payload the test may change.
  void usePrivatePayload();
  // Replaces the value of `key` in the `version` block of the payload's check table.
  void setTableValue(const std::string& version, const std::string& key, const std::string& value);
  // The per-user file naming the installation folder.
  void writeInstallPathFile(const std::string& content);

  testing_support::ProcessResult run(const std::vector<std::string>& args = {},
                                     const std::string& cwd = "", int timeoutSeconds = 120);
  std::map<std::string, std::string> environment() const;

 private:
  testing_support::TempDir dir_;
  std::string gameFolder_;
  std::string release_;
  std::string payload_;
};

// Replaces the value of `key` in the `version` block of the check table at `path`.
void setTableValue(const std::string& path, const std::string& version, const std::string& key,
                   const std::string& value);

// Replaces what the results table at `path` records for `name` (as the table names it) with a
// size and CRC no file has.
void spoilResult(const std::string& path, const std::string& name);

// The message-box line the POSIX installer writes to standard error.
std::string box(const std::string& caption, const std::string& text);
// Occurrences of `needle` in `haystack`.
size_t count(const std::string& haystack, const std::string& needle);
// Lines of the run log (split at LF).
std::vector<std::string> lines(const std::string& text);
// True when every one of `wanted` occurs among `all`, in this order (others may come between).
bool inOrder(const std::vector<std::string>& all, const std::vector<std::string>& wanted);

}  // namespace installer_test
