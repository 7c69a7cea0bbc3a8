// Windows forms of the test helpers that need the operating system: scratch folders, the
// environment and running a program. Built by the cross builds, whose tests run under Wine.
#ifdef _WIN32
#include "tests/support/test_support.h"

#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace testing_support {
namespace {

// Wine maps the host's root to drive Z:, so a host path baked in by the build (the
// installer's location) is reachable as Z:\...
std::string nativePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string native = "Z:" + path;
  for (char& c : native)
    if (c == '/') c = '\\';
  return native;
}

std::string quoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote itself escaped.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

void setEnv(const std::string& name, const char* value) {
  std::string assignment = name + "=" + (value ? value : "");
  _putenv(assignment.c_str());
}

void readAll(HANDLE pipe, std::string* into) {
  char buffer[65536];
  DWORD n = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) into->append(buffer, n);
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name = "kxtest-" + std::to_string(::GetCurrentProcessId()) + "-" +
                       std::to_string(counter++) + "-" + std::to_string(::GetTickCount());
    std::error_code error;
    if (fs::create_directory(base / name, error)) {
      path_ = (base / name).string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

ScopedEnv::ScopedEnv(const std::string& name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name.c_str())) {
    had_ = true;
    old_ = old;
  }
  setEnv(name, value);
}

ScopedEnv::~ScopedEnv() { setEnv(name_, had_ ? old_.c_str() : nullptr); }

bool fileExists(const std::string& path) { return ::_access(path.c_str(), 0) == 0; }

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::map<std::string, std::string>& env, int timeoutSeconds) {
  ProcessResult result;
  if (argv.empty()) return result;
  std::string commandLine;
  for (size_t i = 0; i < argv.size(); ++i) {
    if (i) commandLine += ' ';
    commandLine += quoteArgument(i == 0 ? nativePath(argv[0]) : argv[i]);
  }

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return result;
  if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    ::CloseHandle(outRead);
    ::CloseHandle(outWrite);
    return result;
  }
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;

  // The child inherits this process's environment, changed for the duration of the start.
  std::vector<std::unique_ptr<ScopedEnv>> changes;
  for (const auto& [name, value] : env)
    changes.push_back(std::make_unique<ScopedEnv>(name, value.empty() ? nullptr : value.c_str()));
  PROCESS_INFORMATION process{};
  std::string workDir = nativePath(cwd);
  BOOL started = ::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  workDir.empty() ? nullptr : workDir.c_str(), &startup, &process);
  while (!changes.empty()) changes.pop_back();

  ::CloseHandle(outWrite);
  ::CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
  if (started) {
    std::thread outReader(readAll, outRead, &result.out);
    std::thread errReader(readAll, errRead, &result.err);
    DWORD waited = ::WaitForSingleObject(process.hProcess,
                                         static_cast<DWORD>(timeoutSeconds) * 1000);
    if (waited != WAIT_OBJECT_0) {
      ::TerminateProcess(process.hProcess, 1);
      ::WaitForSingleObject(process.hProcess, INFINITE);
      result.signal = 9;
    }
    DWORD code = 0;
    if (result.signal == 0 && ::GetExitCodeProcess(process.hProcess, &code))
      result.exitCode = static_cast<int>(code);
    outReader.join();
    errReader.join();
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  ::CloseHandle(outRead);
  ::CloseHandle(errRead);
  return result;
}

}  // namespace testing_support
#endif
