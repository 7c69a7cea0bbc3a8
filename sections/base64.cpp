#include "sections/base64.h"

#include <cstdint>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

uint32_t sextet(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint32_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<uint32_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

}  // namespace

std::string base64Encode(const void* data, size_t length) {
  const unsigned char* in = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  for (size_t i = 0; i < length; i += 3) {
    const size_t take = length - i < 3 ? length - i : 3;
    uint32_t group = static_cast<uint32_t>(in[i]) << 16;
    if (take > 1) group |= static_cast<uint32_t>(in[i + 1]) << 8;
    if (take > 2) group |= in[i + 2];
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += take > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    out += take > 2 ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::string base64Decode(const std::string& text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  size_t i = 0;
  while (i < text.size()) {
    uint32_t group = 0;
    int chars = 0;
    bool padded = false;
    for (; chars < 4 && i < text.size(); ++chars, ++i) {
      if (text[i] == '=') {
        padded = true;
        break;
      }
      group |= sextet(text[i]) << (18 - 6 * chars);
    }
    // n characters carry n * 6 bits: whole bytes only.
    for (int b = 0; b < chars - 1; ++b) out += static_cast<char>((group >> (16 - 8 * b)) & 0xFF);
    if (padded || chars < 4) break;
  }
  return out;
}
