// Base64 with the standard alphabet and '=' padding, as section values store binary data.
#pragma once

#include <cstddef>
#include <string>

// Four characters for every three bytes, the last group padded with '='.
std::string base64Encode(const void* data, size_t length);
inline std::string base64Encode(const std::string& bytes) {
  return base64Encode(bytes.data(), bytes.size());
}

// Decodes four characters at a time and stops at the first '='. Lenient by design: characters
// outside the alphabet count as zero bits, and a short last group yields the whole bytes it
// holds.
std::string base64Decode(const std::string& text);
