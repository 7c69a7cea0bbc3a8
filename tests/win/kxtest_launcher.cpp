// Stands in for the game launcher: a hidden top-level window titled "MOXStartup" that writes
// every WM_COPYDATA it receives to a record file as "<code>:<hex of the bytes>", in order.
// Usage: kxtest_launcher RECORD READY STOP. READY is created once the window exists; the
// program ends when STOP appears.
#include <windows.h>

#include <string>

#include "tests/win/win_record.h"

namespace {

std::string recordPath;
std::string stopPath;
constexpr UINT_PTR kStopTimer = 1;

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      std::string bytes;
      if (data->lpData && data->cbData)
        bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
      kxtest::appendRecord(recordPath,
                           std::to_string(data->dwData) + ":" + kxtest::hexOf(bytes));
      return TRUE;
    }
    case WM_TIMER:
      if (kxtest::fileExists(stopPath)) ::DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kxtest_launcher RECORD READY STOP\n");
    return 2;
  }
  recordPath = argv[1];
  stopPath = argv[3];
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "KxTestLauncher";
  if (!::RegisterClassA(&windowClass)) return 1;
  HWND window = ::CreateWindowA("KxTestLauncher", "MOXStartup", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                100, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!window) return 1;
  ::SetTimer(window, kStopTimer, 100, nullptr);
  kxtest::appendRecord(argv[2], "ready");
  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return 0;
}
