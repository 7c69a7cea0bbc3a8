// Stands in for the user: finds every message box on the desktop, writes down its caption and
// text as the installer's ANSI (GBK) bytes and presses OK. With a console title it also looks
// at that window's system menu and writes down whether Close is greyed.
// Usage: kxtest_responder RECORD STOP [CONSOLE_TITLE]. Lines written:
//   box:<hex caption>:<hex text>
//   close:grayed | close:enabled | close:no-menu   (each state once, when first seen)
// The program ends when STOP appears.
#include <windows.h>

#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/win/win_record.h"

namespace {

// The static control that carries a message box's text.
constexpr int kMessageTextId = 0xFFFF;

std::string windowText(HWND hwnd) {
  char buffer[4096] = {};
  int n = ::GetWindowTextA(hwnd, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

BOOL CALLBACK collectBoxes(HWND hwnd, LPARAM found) {
  char className[64] = {};
  ::GetClassNameA(hwnd, className, sizeof className);
  if (std::string(className) == "#32770" && ::IsWindowVisible(hwnd))
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(hwnd);
  return TRUE;
}

std::string closeItemState(const std::string& title) {
  HWND console = ::FindWindowA(nullptr, title.c_str());
  if (!console) return "";
  HMENU menu = ::GetSystemMenu(console, FALSE);
  if (!menu) return "no-menu";
  UINT state = ::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
  if (state == static_cast<UINT>(-1)) return "no-menu";
  return (state & MF_GRAYED) ? "grayed" : "enabled";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: kxtest_responder RECORD STOP [CONSOLE_TITLE]\n");
    return 2;
  }
  const std::string record = argv[1];
  const std::string stop = argv[2];
  const std::string consoleTitle = argc == 4 ? argv[3] : "";
  std::set<HWND> answered;
  std::set<std::string> closeStates;
  while (!kxtest::fileExists(stop)) {
    std::vector<HWND> boxes;
    ::EnumWindows(collectBoxes, reinterpret_cast<LPARAM>(&boxes));
    std::set<HWND> present(boxes.begin(), boxes.end());
    for (auto it = answered.begin(); it != answered.end();)
      it = present.count(*it) ? std::next(it) : answered.erase(it);
    for (HWND box : boxes) {
      if (answered.count(box)) continue;
      HWND textControl = ::GetDlgItem(box, kMessageTextId);
      if (!textControl) continue;  // not ready yet
      kxtest::appendRecord(record, "box:" + kxtest::hexOf(windowText(box)) + ":" +
                                       kxtest::hexOf(windowText(textControl)));
      answered.insert(box);
      ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
    }
    if (!consoleTitle.empty()) {
      std::string state = closeItemState(consoleTitle);
      if (!state.empty() && closeStates.insert(state).second)
        kxtest::appendRecord(record, "close:" + state);
    }
    ::Sleep(100);
  }
  return 0;
}
