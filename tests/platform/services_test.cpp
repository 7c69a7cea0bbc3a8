// The embedded payload, the launcher channel, time and identity, held to one contract on both
// sides. The payload is tests/platform/payload, built into this program the way the installer
// carries its own (resources on Windows, the linked table elsewhere).
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/platform_test_support.h"

#ifdef _WIN32
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::unhex;

namespace {

std::string bytesOf(const platform::Resource& resource) {
  return resource.data ? std::string(reinterpret_cast<const char*>(resource.data), resource.size)
                       : std::string();
}

TEST(Payload, ResourcesComeBackByteForByteWhateverTheirLanguage) {
  // An empty archive (a bare end record) and a check table filed under Chinese (PRC).
  const std::string emptyArchive = unhex("504b0506 00000000 00000000 00000000 00000000 0000");
  const std::string checkTable =
      "2.651\r\nHalvoreen\\bin\\mox.exe\t1234abcd\r\n" + unhex("b8fcd0c2") + "\r\n";
  EXPECT_EQ(bytesOf(platform::findResource("KX", 122)), emptyArchive);
  EXPECT_EQ(bytesOf(platform::findResource("KX", 220)), checkTable);
}

TEST(Payload, AbsentResourcesAreEmpty) {
  struct Case {
    const char* type;
    int id;
  };
  const Case cases[] = {{"KX", 123}, {"KX", 0}, {"KX", -1}, {"KX", 0x10000 + 122},
                        {"RCDATA", 122}, {"kx-other", 220}};
  for (const Case& c : cases) {
    platform::Resource r = platform::findResource(c.type, c.id);
    EXPECT_EQ(r.data, nullptr) << c.type << " " << c.id;
    EXPECT_EQ(r.size, 0u) << c.type << " " << c.id;
  }
}

// A stand-in for the launcher: whatever the platform's channel is, it records (code, bytes).
#ifdef _WIN32
class LauncherProbe {
 public:
  // A probe that is not listening has its window but does not handle its messages (a hung
  // window) until listen().
  explicit LauncherProbe(bool listening = true) : listening_(listening) {
    thread_ = std::thread([this] { run(); });
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }
  ~LauncherProbe() {
    listen();
    if (window_) ::PostMessageA(window_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  void listen() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      listening_ = true;
    }
    ready_.notify_all();
  }
  // What arrived since the last call.
  std::vector<std::pair<uint32_t, std::string>> received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(received_, {});
  }

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<LauncherProbe*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (message == WM_COPYDATA && self) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->received_.emplace_back(
          static_cast<uint32_t>(data->dwData),
          std::string(static_cast<const char*>(data->lpData), data->cbData));
      return TRUE;
    }
    if (message == WM_DESTROY) ::PostQuitMessage(0);
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
  }

  void run() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KxTestLauncherProbe";
    ::RegisterClassA(&windowClass);
    window_ = ::CreateWindowA("KxTestLauncherProbe", "MOXStartup", WS_OVERLAPPEDWINDOW, 0, 0,
                              100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window_) ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    {
      std::unique_lock<std::mutex> lock(mutex_);
      started_ = true;
      ready_.notify_all();
      ready_.wait(lock, [this] { return listening_; });
    }
    MSG message;
    while (window_ && ::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
  }

  std::thread thread_;
  HWND window_ = nullptr;
  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  bool listening_;
  std::vector<std::pair<uint32_t, std::string>> received_;
};
#else
class LauncherProbe {
 public:
  // The socket is read only by received(); until then it holds what its queue takes, like a
  // launcher that does not read.
  explicit LauncherProbe(bool = true) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/MOXStartup",
                  dir_.path().c_str());
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~LauncherProbe() { ::close(fd_); }
  void listen() {}
  std::vector<std::pair<uint32_t, std::string>> received() {
    std::vector<std::pair<uint32_t, std::string>> out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) >= 4) {
      uint32_t code = 0;
      for (int i = 3; i >= 0; --i) code = code << 8 | static_cast<unsigned char>(buffer[i]);
      out.emplace_back(code, std::string(buffer + 4, static_cast<size_t>(n) - 4));
    }
    return out;
  }

 private:
  TempDir dir_;
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.path().c_str()};
  int fd_ = -1;
};
#endif

TEST(Launcher, ReceivesEveryCodeAndEveryByteInOrder) {
  LauncherProbe launcher;
  const std::vector<std::pair<uint32_t, std::string>> sent = {
      {2055, "Begin"},
      {2055, "T20.0"},
      {2048, "end"},
      {2039, "请在Halvoreen\\bin目录下运行该程序"},
      {2039, ""},
      {0xFFFFFFFFu, std::string("a\0b\xff", 4)},
  };
  for (const auto& [code, text] : sent) EXPECT_TRUE(platform::sendLauncherMessage(code, text, 1000));
  EXPECT_EQ(launcher.received(), sent);
}

TEST(Launcher, OneThatTakesNothingHoldsTheSenderOnlyForTheWaitAndLaterGetsTheRestInOrder) {
  LauncherProbe launcher(/*listening=*/false);
  using Clock = std::chrono::steady_clock;
  std::vector<std::pair<uint32_t, std::string>> taken;
  const auto start = Clock::now();
  for (int i = 0; i < 40; ++i) {
    const std::string text = std::to_string(i);
    if (platform::sendLauncherMessage(2055, text, 0)) taken.emplace_back(2055, text);
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << "texts sent without waiting";
  EXPECT_LT(taken.size(), 40u) << "a launcher that takes nothing took every text";

  const auto beforeWait = Clock::now();
  EXPECT_FALSE(platform::sendLauncherMessage(2048, "end", 300));
  const auto waited = Clock::now() - beforeWait;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(2));

  launcher.listen();
  auto all = launcher.received();  // POSIX: reads the queue, making room
  EXPECT_TRUE(platform::sendLauncherMessage(2039, "x", 5000));
  for (const auto& message : launcher.received()) all.push_back(message);
  // Every text taken arrived, in the order sent; one given up on may arrive too (a window
  // handles a message it was sent late), but never out of order.
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back(), (std::pair<uint32_t, std::string>{2039, "x"}));
  int last = -1;
  size_t matched = 0;
  for (const auto& [code, text] : all) {
    if (code != 2055) continue;
    EXPECT_GT(std::stoi(text), last) << "out of order";
    last = std::stoi(text);
    if (matched < taken.size() && taken[matched].second == text) ++matched;
  }
  EXPECT_EQ(matched, taken.size());
}

TEST(Launcher, NoLauncherIsNotAnError) {
  TempDir empty;
  ScopedEnv runtime("XDG_RUNTIME_DIR", empty.path().c_str());
  EXPECT_FALSE(platform::sendLauncherMessage(2048, "end", 1000));
}

TEST(Time, UtcNowAgreesWithTheCLibrary) {
  const std::time_t before = std::time(nullptr);
  const platform::SystemTime now = platform::utcNow();
  const std::time_t after = std::time(nullptr);
  std::tm parts{};
  parts.tm_year = now.year - 1900;
  parts.tm_mon = now.month - 1;
  parts.tm_mday = now.day;
  parts.tm_hour = now.hour;
  parts.tm_min = now.minute;
  parts.tm_sec = now.second;
#ifdef _WIN32
  const std::time_t seconds = ::_mkgmtime(&parts);
#else
  const std::time_t seconds = ::timegm(&parts);
#endif
  EXPECT_GE(seconds, before - 1);
  EXPECT_LE(seconds, after + 1);
  std::tm check = *std::gmtime(&seconds);
  EXPECT_EQ(check.tm_wday, now.dayOfWeek);
  EXPECT_GE(now.milliseconds, 0);
  EXPECT_LE(now.milliseconds, 999);
}

TEST(Time, TicksAdvanceAtLeastAsMuchAsASleep) {
  const uint32_t start = platform::tickMs();
  platform::sleepMs(120);
  EXPECT_GE(platform::tickMs() - start, 100u);
}

TEST(Identity, ComputerAndUserHaveNames) {
  EXPECT_FALSE(platform::computerName().empty());
  EXPECT_FALSE(platform::userName().empty());
}

}  // namespace
