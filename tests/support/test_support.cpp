#include "tests/support/test_support.h"

#ifndef _WIN32  // the Windows forms are in test_support_win32.cpp
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace testing_support {

#ifndef _WIN32
TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "kxtest-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}
#endif

TempDir::~TempDir() { removeTree(path_); }

ScopedCwd::ScopedCwd(const std::string& dir) : previous_(fs::current_path().string()) {
  fs::current_path(dir);
}

ScopedCwd::~ScopedCwd() { fs::current_path(previous_); }

#ifndef _WIN32
ScopedEnv::ScopedEnv(const std::string& name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name.c_str())) {
    had_ = true;
    old_ = old;
  }
  if (value)
    ::setenv(name.c_str(), value, 1);
  else
    ::unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}
#endif

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

#ifndef _WIN32
bool fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
#endif

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void makeDirs(const std::string& path) { fs::create_directories(path); }

void removeTree(const std::string& path) {
  std::error_code error;
  // Folders made read-only by a test would stop the removal.
  for (auto it = fs::recursive_directory_iterator(path, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path, error);
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string unhex(const std::string& text) {
  std::string out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>(high * 16 + v);
      high = -1;
    }
  }
  return out;
}

#ifndef _WIN32
namespace {

void drain(int fd, std::string& into) {
  char buffer[65536];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) into.append(buffer, static_cast<size_t>(n));
}

}  // namespace

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overrides) {
  std::vector<std::string> entries;
  bool scoped = overrides.count(kProcessScopeVariable) != 0;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (overrides.count(name)) continue;
    entries.push_back(entry);
    scoped = scoped || name == kProcessScopeVariable;
  }
  for (const auto& [name, value] : overrides)
    if (!value.empty()) entries.push_back(name + "=" + value);
  // The children of one test program look for the game among themselves only; a scope given
  // to the test program (by a script running several) is passed on as it is.
  if (!scoped) entries.push_back(std::string(kProcessScopeVariable) + "=kxtest-" +
                                 std::to_string(::getpid()));
  return entries;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::map<std::string, std::string>& env, int timeoutSeconds) {
  ProcessResult result;
  // Everything the child needs is made before the fork: a test's other threads (a launcher
  // listener, say) may hold the allocator's lock at that moment, and a child that allocates
  // then waits for it forever. The pipes close on exec, so that no other child started
  // meanwhile keeps them open.
  std::vector<std::string> environment = environmentWith(env);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> words = argv;
  std::vector<char*> args;
  for (std::string& word : words) args.push_back(word.data());
  args.push_back(nullptr);
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return result;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) ::close(fd);
    return result;
  }
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull < 0 || ::dup2(devnull, 0) < 0 || ::dup2(outPipe[1], 1) < 0 ||
        ::dup2(errPipe[1], 2) < 0)
      ::_exit(126);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int ready = ::poll(fds, 2, 200);
    if (ready > 0) {
      for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        std::string& into = i == 0 ? result.out : result.err;
        size_t before = into.size();
        drain(fds[i].fd, into);
        if (into.size() == before) (i == 0 ? outOpen : errOpen) = false;
      }
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      break;
    }
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}
#endif

}  // namespace testing_support
