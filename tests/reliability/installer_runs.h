// Running the real installer on a generated test installation in ways an ordinary test does
// not: started and killed at a chosen moment, or with a limit on the size of every file it
// writes. POSIX only: processes are forked here so that the test can kill them or limit them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/app/installer_harness.h"
#include "tests/support/test_support.h"
#include "tools/release/release.h"

namespace reliability {

// Generated releases are shared with the installer's end-to-end tests.
using installer_test::releaseFor;

// Every file of an installation folder (path relative to it, "/" separated) and its bytes.
using Tree = std::map<std::string, std::string>;
Tree readTree(const std::string& folder);

struct Outcome {
  bool exited = false;   // ended by itself (else killed by a signal)
  int code = -1;         // exit code when it exited
  int signal = 0;        // the signal that ended it otherwise
  std::string out;       // standard output
  std::string err;       // standard error (message boxes are lines here)
  long peakMemoryKiB = 0;  // the largest resident size the installer reached
};

struct RunOptions {
  // RLIMIT_FSIZE for the installer in bytes (0: none). SIGXFSZ is ignored, so a write past
  // the limit fails with EFBIG the way a write to a full disk fails.
  uint64_t fileSizeLimit = 0;
  // Faults of single files, made by a library preloaded into the installer: creating the file
  // `failCreate` fails as on a full disk, renaming a file onto `failReplace` fails as onto a
  // file another program holds.
  std::string failCreate;
  std::string failReplace;
  // Renaming the file `failRenameFrom` fails, as for a file another program holds.
  std::string failRenameFrom;
  // Hard links cannot be made, as on a FAT volume.
  bool noLinks = false;
  // The steps that change the installation (creates, renames, links, unlinks, folders made,
  // each file's first write), counted by the same library: with `killAt` (from 1) the installer
  // is killed right after that step; `stepTrace` names a file that gets a line per step.
  int killAt = 0;
  std::string stepTrace;
  // The per-user runtime folder (mutex, launcher socket); empty: the installation's own.
  std::string runtimeFolder;
  // Where the installer starts; empty: the installation's bin folder.
  std::string workingFolder;
};

inline RunOptions limitedTo(uint64_t fileSizeLimit) {
  RunOptions options;
  options.fileSizeLimit = fileSizeLimit;
  return options;
}

// A scratch root holding the installation ("game", copied from the release's old version), the
// per-user folders and a runtime folder for the mutex, with the release's payload.
class Installation {
 public:
  explicit Installation(const std::string& releaseDir, const std::string& gameFolder = "game");

  // The installation becomes the release's old version again (logs and leftovers removed).
  void reset();
  std::string root() const { return dir_.path(); }
  std::string game() const { return game_; }
  std::string bin() const { return game_ + "/bin"; }
  std::string payload() const { return payload_; }
  std::string packPath(int index) const { return game_ + "/" + kGamePacks[index].name; }
  std::string runLog() const { return testing_support::readFile(bin() + "/updater.log"); }
  // A private copy of the payload that the test may change.
  void usePrivatePayload();
  // The per-user preferences file the account name is read from.
  void writePreferences(const std::string& content);

  // Starts the installer in bin; returns its process id.
  pid_t start(const RunOptions& options = {});
  // Waits for a started installer (at most `timeoutSeconds`, then kills it).
  Outcome wait(pid_t pid, int timeoutSeconds = 120);
  Outcome run(const RunOptions& options = {}, int timeoutSeconds = 120);

 private:
  testing_support::TempDir dir_;
  std::string release_;
  std::string game_;
  std::string payload_;
  // Each started installer writes its own standard output and error files.
  int started_ = 0;
  std::map<pid_t, int> startedAs_;
  std::map<int, std::pair<std::string, std::string>> outputs_;
};

// The release's old version with CN_packed.kx lacking its version entry (the table's 2.650 CRC of
// CN changed to match), so that the installer reads the version from vemo_packed.kx while CN's
// patch still brings the entry. Made once per release, in a folder beside it; `table` is the
// payload table to change when the installation has one of its own.
void moveVersionToVemo(const std::string& oldInstallation, const std::string& table);
// A copy of `releaseDir` (old and new versions, payload) whose old version reads its version from
// vemo_packed.kx; made once, then shared.
const std::string& versionInVemoRelease(const std::string& releaseDir);

// The message-box line the POSIX installer writes to standard error.
std::string box(const std::string& caption, const std::string& text);

}  // namespace reliability
