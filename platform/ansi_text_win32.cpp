#include "platform/ansi_text.h"

#include <windows.h>

namespace platform {

std::u16string ansiToUtf16(const std::string& ansi) {
  if (ansi.empty()) return std::u16string();
  const int size = static_cast<int>(ansi.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  if (n <= 0) return std::u16string();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, &wide[0], n);
  return std::u16string(wide.begin(), wide.end());
}

}  // namespace platform
