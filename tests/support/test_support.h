// Helpers shared by the test programs: scratch folders, whole-file reads and writes, and
// running a program (the real installer) with its output captured.
#pragma once

#include <map>
#include <string>
#include <vector>

// Defined when the program runs under AddressSanitizer, whose shadow memory rules out the cases
// that limit or measure the process's memory.
#if defined(__SANITIZE_ADDRESS__)
#define KXTEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KXTEST_UNDER_ASAN 1
#endif
#endif

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Changes the current directory for the life of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();

 private:
  std::string previous_;
};

// Sets (or with nullptr unsets) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const char* value);
  ~ScopedEnv();

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

std::string readFile(const std::string& path);  // empty when missing
bool fileExists(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
void makeDirs(const std::string& path);
void removeTree(const std::string& path);
std::string hex(const std::string& bytes);
// The bytes of a hex text ("50 4b 05 06 ..." or "504b0506"); spaces are ignored.
std::string unhex(const std::string& text);

struct ProcessResult {
  int exitCode = -1;  // -1 when killed by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs `argv` in `cwd` with `env` added to (or, with an empty value, removed from) this
// process's environment, standard input closed; waits at most `timeoutSeconds`.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::map<std::string, std::string>& env = {},
                         int timeoutSeconds = 120);

// The installer's test hook that limits its look for the game (and the updater) to the
// processes started with the same value (see platform::findProcessId).
inline constexpr char kProcessScopeVariable[] = "KXPATCH_TEST_PROCESS_SCOPE";

// This process's environment with `overrides` applied (an empty value removes the name), as
// NAME=VALUE entries, scoped to this test program: unless the name is given or inherited,
// kProcessScopeVariable is set to a value of this process's own, so that the installers and
// stand-in games a test starts see each other and nothing of another test program. A child
// forked from a process with threads may only make system calls until it execs (another
// thread may have held the allocator's lock at the fork), so its environment is made before
// the fork, with this.
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides);

}  // namespace testing_support
