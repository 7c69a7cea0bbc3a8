// Conversion of texts in the process's ANSI code page (GBK) to 16-bit characters.
#pragma once

#include <string>

namespace platform {

// The UTF-16 form of GBK text. A byte sequence that does not convert becomes U+FFFD and the
// conversion goes on after its first byte.
std::u16string ansiToUtf16(const std::string& ansi);

}  // namespace platform
