#include "platform/ansi_text.h"

#include <iconv.h>

#include <cerrno>

namespace platform {

std::u16string ansiToUtf16(const std::string& ansi) {
  std::u16string out;
  iconv_t cd = iconv_open("UTF-16LE", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (unsigned char c : ansi) out += c < 0x80 ? static_cast<char16_t>(c) : u'\xFFFD';
    return out;
  }
  char* in = const_cast<char*>(ansi.data());
  size_t inLeft = ansi.size();
  while (inLeft > 0) {
    char buffer[256];
    char* dst = buffer;
    size_t outLeft = sizeof buffer;
    const size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    const int error = errno;
    for (char* p = buffer; p + 1 < dst; p += 2)
      out += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                   static_cast<unsigned char>(p[1]) << 8);
    if (rc != static_cast<size_t>(-1) || error == E2BIG) continue;
    out += u'\xFFFD';
    ++in;
    --inLeft;
  }
  iconv_close(cd);
  return out;
}

}  // namespace platform
