// Re-deflation that reproduces stored bytes exactly. An archive entry is kept deflated; a delta
// rebuilds only its contents, so the installer must deflate them again and obtain the very
// bytes the release holds. With one zlib version (pinned by the build, cmake/ZlibPin.cmake),
// deflate's output is fixed by the contents and four settings; the release finds those
// settings once (findDeflateSettings) and records them, the installer deflates with them
// (deflateWithSettings) and checks the result.
//
// Both sides deflate in the same way: raw deflate (no zlib or gzip wrapper), the whole input in
// one deflate call with Z_FINISH into an output buffer of deflateBound's size. (The size of
// the output buffer is part of the recipe: at level 0 zlib sizes its stored blocks by it.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/result.h"

namespace delta {

struct DeflateSettings {
  uint8_t level = 6;        // 0 (stored blocks) to 9
  uint8_t windowBits = 15;  // 9 to 15; the stream is raw, zlib is given the negated value
  uint8_t memLevel = 8;     // 1 to 9
  uint8_t strategy = 0;     // Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED

  friend bool operator==(const DeflateSettings& a, const DeflateSettings& b) {
    return a.level == b.level && a.windowBits == b.windowBits && a.memLevel == b.memLevel &&
           a.strategy == b.strategy;
  }
  friend bool operator!=(const DeflateSettings& a, const DeflateSettings& b) { return !(a == b); }
};

// True when zlib accepts the settings for a raw stream.
[[nodiscard]] bool validDeflateSettings(const DeflateSettings& settings);

// The zlib version the build pins (equal to the headers' ZLIB_VERSION, or the build fails).
[[nodiscard]] const char* pinnedZlibVersion();
// True when the zlib running this process is the pinned one. A statically linked zlib always
// is; a shared one may not be, and then recorded settings may not reproduce elsewhere.
[[nodiscard]] bool runningZlibIsPinned();

enum class DeflateFailure {
  BadSettings,  // settings zlib does not accept for a raw stream
  TooLarge,     // contents above kMaxDeltaSize
  ZlibFailed,   // zlib could not set up or did not finish the stream
};
[[nodiscard]] const char* deflateFailureText(DeflateFailure failure);

// `contents` deflated with `settings` as described above.
[[nodiscard]] platform::Result<std::vector<unsigned char>, DeflateFailure> deflateWithSettings(
    const DeflateSettings& settings, const unsigned char* contents, size_t size);

// Every setting findDeflateSettings tries, in the order it tries them: levels 6, 9 and 1 with
// the default window, memory level and strategy; the other levels with those defaults; then
// every other combination, the default window and memory level first. Combinations that give
// the same stream in this zlib as one listed before are left out: the strategy at level 0, the
// level with Z_HUFFMAN_ONLY or Z_RLE (listed once, with level 6), Z_FILTERED at levels 1 to 3.
[[nodiscard]] const std::vector<DeflateSettings>& deflateSearchOrder();

enum class DeflateSearchFailure {
  NoMatch,        // no setting reproduces the stored bytes
  TooLarge,       // contents or stored bytes above kMaxDeltaSize
  ZlibNotPinned,  // this process runs another zlib than the pinned one
};
[[nodiscard]] const char* deflateSearchFailureText(DeflateSearchFailure failure);

// How far the search goes: the ten settings with zlib's default window, memory level and
// strategy (what most tools that use zlib write), or every setting.
enum class DeflateSearchScope { Likely, All };
inline constexpr size_t kLikelyDeflateSettings = 10;

// The first setting of deflateSearchOrder() (its first kLikelyDeflateSettings for Likely) with
// which deflateWithSettings(contents) equals `stored` byte for byte. A setting is returned
// only once deflateWithSettings itself has given `stored` with it, so a caller holding the
// same contents need not deflate them again. Settings the stored stream's first block rules
// out (its symbol count names the memory level, its farthest match bounds the window) are
// skipped, and so is a setting that differs from one already judged only in a window reaching
// the whole contents (both give the same stream). On a stream longer than 64 KiB every other
// try first compares those first bytes as deflate produces them and stops at the first that
// differs, so that a wrong setting costs a small part of a deflation and the right one
// usually a single deflation.
[[nodiscard]] platform::Result<DeflateSettings, DeflateSearchFailure> findDeflateSettings(
    const unsigned char* contents, size_t size, const unsigned char* stored, size_t storedSize,
    DeflateSearchScope scope = DeflateSearchScope::All);

}  // namespace delta
