#include "tests/app/installer_harness.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "integrity/results_table.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

namespace installer_test {

const std::string& releaseFor(const std::string& key, const release::TestReleaseOptions& options) {
  static std::map<std::string, std::string> made;
  // Generated releases live for the whole test program; the temporary folders go with it.
  static std::vector<std::unique_ptr<testing_support::TempDir>> folders;
  auto found = made.find(key);
  if (found != made.end()) return found->second;
  folders.push_back(std::make_unique<testing_support::TempDir>());
  const std::string dir = folders.back()->path();
  {
    // The fingerprint functions write their diagnostics to the current folder's log.
    testing_support::ScopedCwd cwd(dir);
    if (!release::makeTestRelease(dir + "/release", options))
      throw std::runtime_error("cannot generate the test release " + key);
  }
  return made[key] = dir + "/release";
}

LauncherListener::LauncherListener(const std::string& socketPath) {
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  thread_ = std::thread([this] { receiveLoop(); });
}

LauncherListener::~LauncherListener() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  ::close(fd_);
}

void LauncherListener::receiveLoop() {
  char buffer[1024];
  while (true) {
    pollfd pending{fd_, POLLIN, 0};
    const bool stopping = stop_;
    if (::poll(&pending, 1, stopping ? 0 : 50) <= 0) {
      if (stopping) return;
      continue;
    }
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 4) continue;
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) code |= static_cast<uint32_t>(static_cast<unsigned char>(buffer[i])) << (8 * i);
    std::lock_guard<std::mutex> guard(lock_);
    received_.emplace_back(code, std::string(buffer + 4, static_cast<size_t>(n) - 4));
  }
}

std::vector<std::pair<uint32_t, std::string>> LauncherListener::messages() {
  // The sender has finished: let the thread drain what is still queued, then stop it.
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> guard(lock_);
  return received_;
}

Scratch::Scratch(const std::string& releaseDir, const std::string& gameFolder)
    : gameFolder_(gameFolder), release_(releaseDir), payload_(releaseDir + "/payload") {
  fs::create_directories(fs::path(game()).parent_path());
  fs::copy(releaseDir + "/2.650", game(), fs::copy_options::recursive);
  for (const char* sub : {"run", "config", "home", "tmp"}) fs::create_directories(dir_ / sub);
}

std::string Scratch::packPath(int index) const {
  return game() + "/" + kGamePacks[index].name;
}

void Scratch::usePrivatePayload() {
  const std::string copy = dir_ / "payload";
  if (payload_ == copy) return;
  fs::copy(payload_, copy, fs::copy_options::recursive);
  payload_ = copy;
}

void Scratch::setTableValue(const std::string& version, const std::string& key,
                            const std::string& value) {
  usePrivatePayload();
  installer_test::setTableValue(payload_ + "/MD5.txt", version, key, value);
}

void setTableValue(const std::string& path, const std::string& version, const std::string& key,
                   const std::string& value) {
  std::string table = readFile(path);
  const size_t block = table.find("<mox" + version + ">");
  const std::string open = "<Halvoreen\\" + key + ">";
  const size_t start = table.find(open, block);
  ASSERT_NE(block, std::string::npos);
  ASSERT_NE(start, std::string::npos);
  const size_t end = table.find("</", start);
  table.replace(start + open.size(), end - start - open.size(), value);
  writeFile(path, table);
}

void Scratch::writeInstallPathFile(const std::string& content) {
  fs::create_directories(dir_ / "config/Brightfall/Halvoreen");
  writeFile(dir_ / "config/Brightfall/Halvoreen/installPath.txt", content);
}

std::map<std::string, std::string> Scratch::environment() const {
  return {{"XDG_RUNTIME_DIR", runtime()},
          {"XDG_CONFIG_HOME", dir_ / "config"},
          {"HOME", dir_ / "home"},
          {"TMPDIR", dir_ / "tmp"},
          {"LC_ALL", "C"},
          {"LANG", "C"},
          {"KXPATCH_TEST_PAYLOAD_DIR", payload_}};
}

testing_support::ProcessResult Scratch::run(const std::vector<std::string>& args,
                                            const std::string& cwd, int timeoutSeconds) {
  std::vector<std::string> argv{KXPATCH_INSTALLER};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing_support::runProcess(argv, cwd.empty() ? bin() : cwd, environment(),
                                     timeoutSeconds);
}

void spoilResult(const std::string& path, const std::string& name) {
  const std::string text = readFile(path);
  ResultsTable table, spoilt;
  ResultsError error;
  ASSERT_TRUE(decodeResults(text.data(), text.size(), table, error)) << error.line;
  ASSERT_NE(table.find(name), nullptr) << name;
  spoilt.from = table.from;
  spoilt.to = table.to;
  for (const auto& record : table.records()) {
    ExpectedResult result = record.second;
    if (record.first == name) result.crc ^= 0x00010000;
    ASSERT_TRUE(spoilt.add(record.first, result));
  }
  writeFile(path, encodeResults(spoilt));
}

std::string box(const std::string& caption, const std::string& text) {
  return "[" + caption + "] " + text + "\n";
}

size_t count(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size()))
    ++n;
  return n;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

bool inOrder(const std::vector<std::string>& all, const std::vector<std::string>& wanted) {
  size_t at = 0;
  for (const std::string& line : all)
    if (at < wanted.size() && line == wanted[at]) ++at;
  return at == wanted.size();
}

}  // namespace installer_test
