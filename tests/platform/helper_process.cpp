// The helper side of the cross-process tests and the helpers of platform_test_support.h.
#include "tests/platform/platform_test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace platform_test {
namespace {

constexpr const char* kRoleVariable = "KXTEST_HELPER_ROLE";
constexpr const char* kDirVariable = "KXTEST_HELPER_DIR";
constexpr const char* kArgumentVariable = "KXTEST_HELPER_ARGUMENT";

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::string selfPath() {
#ifdef _WIN32
  char buffer[MAX_PATH + 1] = {};
  DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::string(buffer, n);
#else
  return fs::read_symlink("/proc/self/exe").string();
#endif
}

std::string ownProcessName() {
  std::string name = fs::path(selfPath()).filename().string();
#ifndef _WIN32
  // The kernel keeps the first 15 bytes of a program's name.
  if (name.size() > 15) name.resize(15);
#endif
  return name;
}

uint32_t ownProcessId() {
#ifdef _WIN32
  return ::GetCurrentProcessId();
#else
  return static_cast<uint32_t>(::getpid());
#endif
}

std::future<testing_support::ProcessResult> startHelper(const std::string& role,
                                                        const std::string& dir,
                                                        const std::string& argument) {
  std::vector<std::string> argv = {selfPath(), "--gtest_filter=PlatformHelper.DISABLED_Run",
                                   "--gtest_also_run_disabled_tests"};
  std::map<std::string, std::string> vars = {
      {kRoleVariable, role}, {kDirVariable, dir}, {kArgumentVariable, argument}};
  return std::async(std::launch::async, [argv, vars, dir] {
    return testing_support::runProcess(argv, dir, vars, 120);
  });
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 6000; ++i) {
    if (testing_support::fileExists(path)) return true;
    platform::sleepMs(10);
  }
  return false;
}

void appendText(const std::string& path, const std::string& text) {
  const platform::OpenedFile file = platform::openFile(path, "ab");
  ASSERT_TRUE(file) << path;
  std::fwrite(text.data(), 1, text.size(), file.value().get());
}

std::string uniqueName(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  return prefix + "-" + std::to_string(ownProcessId()) + "-" + std::to_string(counter++);
}

void setReadOnly(const std::string& path, bool readOnly) {
  // On Windows the library maps the owner's write bit to the read-only attribute.
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

bool isWritable(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

}  // namespace platform_test

// Runs only when started by startHelper. Roles:
//   hold-mutex     takes the mutex named by the argument, marks "held", works a while, writes
//                  "helper" to "order" and releases it;
//   abandon-mutex  takes the mutex, marks "held" and ends without releasing it;
//   sleep          writes its process id to "pid" and sleeps until it is ended.
TEST(PlatformHelper, DISABLED_Run) {
  using namespace platform_test;
  const std::string role = env(kRoleVariable);
  const std::string dir = env(kDirVariable);
  const std::string argument = env(kArgumentVariable);
  ASSERT_FALSE(dir.empty());
  const std::string sep = platform::kPathSeparatorText;
  if (role == "hold-mutex" || role == "abandon-mutex") {
    platform::NamedMutex mutex(argument);
    if (!mutex.wait()) return;
    appendText(dir + sep + "held", "");
    if (role == "abandon-mutex") platform::exitProcessNow(0);
    platform::sleepMs(1000);
    appendText(dir + sep + "order", "helper\n");
    mutex.release();
  } else if (role == "sleep") {
    appendText(dir + sep + "pid.tmp", std::to_string(ownProcessId()));
    ASSERT_TRUE(platform::renameFile(dir + sep + "pid.tmp", dir + sep + "pid"));
    platform::sleepMs(60000);
  } else {
    FAIL() << "unknown helper role '" << role << "'";
  }
}
