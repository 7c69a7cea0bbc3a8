#include "delta/deflate_settings.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "delta/deflate_block_scan.h"
#include "delta/delta_limits.h"

#ifndef KXPATCH_PINNED_ZLIB_VERSION
#error "KXPATCH_PINNED_ZLIB_VERSION comes from cmake/ZlibPin.cmake"
#endif

namespace delta {
namespace {

using platform::fail;

constexpr DeflateSettings kDefaults{6, 15, 8, Z_DEFAULT_STRATEGY};

// A raw deflate stream set up with `settings`, ended when the object goes.
class Deflater {
 public:
  explicit Deflater(const DeflateSettings& s) {
    ok_ =
        deflateInit2(&z_, s.level, Z_DEFLATED, -int{s.windowBits}, s.memLevel, s.strategy) == Z_OK;
  }
  ~Deflater() {
    if (ok_) deflateEnd(&z_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  bool ok() const { return ok_; }
  z_stream& stream() { return z_; }

 private:
  z_stream z_{};
  bool ok_ = false;
};

// How much of a stored stream a try compares as deflate produces it before the one deflation
// that decides: a few blocks, where a wrong setting almost always shows itself.
constexpr size_t kComparedPrefix = 64 * 1024;

// Whether deflating with `s` starts with the first kComparedPrefix bytes of `stored` (all of
// them when fewer), compared piece by piece as deflate produces them, so that a wrong setting
// costs only the work up to its first differing byte. Levels above 0 emit the same bytes
// whatever room each deflate call has, so a difference here is one deflateWithSettings would
// show too; level 0 does not, so it is only ever judged by deflateWithSettings.
bool prefixMatches(const DeflateSettings& s, const unsigned char* contents, size_t size,
                   const unsigned char* stored, size_t storedSize) {
  Deflater d(s);
  if (!d.ok()) return false;
  z_stream& z = d.stream();
  z.next_in = const_cast<Bytef*>(contents);
  z.avail_in = static_cast<uInt>(size);
  const size_t compared = std::min(storedSize, kComparedPrefix);
  unsigned char piece[16384];
  size_t matched = 0;
  for (;;) {
    z.next_out = piece;
    z.avail_out = sizeof piece;
    const int rc = deflate(&z, Z_FINISH);
    const size_t produced = sizeof piece - z.avail_out;
    if (produced > storedSize - matched || std::memcmp(piece, stored + matched, produced) != 0)
      return false;
    matched += produced;
    if (rc == Z_STREAM_END) return matched == storedSize;
    if (matched >= compared) return true;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
    if (produced == 0) return false;  // no progress with room to spare: give up, not spin
  }
}

// Level 0 writes only stored blocks, whose block type (bits 1 and 2 of the first byte) is 00.
bool startsWithStoredBlock(const unsigned char* stored, size_t storedSize) {
  return storedSize > 0 && ((stored[0] >> 1) & 3) == 0;
}

// Whether a Huffman-coded first block could have come from `s`: a block that is not the last
// ends after exactly 2^(memLevel + 6) - 1 symbols (a last one has at most that many), and no
// match reaches back farther than the window less zlib's 262-byte lookahead.
bool firstBlockAllows(const FirstDeflateBlock& block, const DeflateSettings& s) {
  if (!block.read) return true;
  const size_t symbolsPerBlock = (size_t{1} << (s.memLevel + 6)) - 1;
  if (block.last ? block.symbols > symbolsPerBlock : block.symbols != symbolsPerBlock) return false;
  return block.maxDistance <= (size_t{1} << s.windowBits) - 262;
}

// The decision: the installer's own deflation gives `stored`, every byte of it.
bool reproduces(const DeflateSettings& s, const unsigned char* contents, size_t size,
                const unsigned char* stored, size_t storedSize) {
  const auto again = deflateWithSettings(s, contents, size);
  return again && again.value().size() == storedSize &&
         (storedSize == 0 || std::memcmp(again.value().data(), stored, storedSize) == 0);
}

std::vector<DeflateSettings> buildSearchOrder() {
  std::vector<DeflateSettings> order;
  auto add = [&order](DeflateSettings s) {
    if (std::find(order.begin(), order.end(), s) == order.end()) order.push_back(s);
  };
  for (uint8_t level : {6, 9, 1, 2, 3, 4, 5, 7, 8, 0})
    add({level, kDefaults.windowBits, kDefaults.memLevel, Z_DEFAULT_STRATEGY});
  static_assert(kLikelyDeflateSettings == 10, "the likely settings are the ten levels above");
  std::vector<uint8_t> memLevels = {8, 9, 7, 6, 5, 4, 3, 2, 1};
  for (uint8_t windowBits = 15; windowBits >= 9; --windowBits) {
    for (uint8_t memLevel : memLevels) {
      // Level 0 only copies: the strategy is never consulted.
      add({0, windowBits, memLevel, Z_DEFAULT_STRATEGY});
      for (uint8_t level = 1; level <= 9; ++level) {
        add({level, windowBits, memLevel, Z_DEFAULT_STRATEGY});
        // Z_FILTERED changes only the lazy matcher of levels 4 to 9.
        if (level >= 4) add({level, windowBits, memLevel, Z_FILTERED});
        add({level, windowBits, memLevel, Z_FIXED});
      }
      // These two strategies run their own loop whatever the level (above 0).
      add({6, windowBits, memLevel, Z_HUFFMAN_ONLY});
      add({6, windowBits, memLevel, Z_RLE});
    }
  }
  return order;
}

}  // namespace

bool validDeflateSettings(const DeflateSettings& s) {
  return s.level <= 9 && s.windowBits >= 9 && s.windowBits <= 15 && s.memLevel >= 1 &&
         s.memLevel <= 9 && s.strategy <= Z_FIXED;
}

const char* pinnedZlibVersion() { return KXPATCH_PINNED_ZLIB_VERSION; }

bool runningZlibIsPinned() { return std::strcmp(zlibVersion(), KXPATCH_PINNED_ZLIB_VERSION) == 0; }

const char* deflateFailureText(DeflateFailure failure) {
  switch (failure) {
    case DeflateFailure::BadSettings: return "deflate settings out of range";
    case DeflateFailure::TooLarge: return "contents too large to deflate for a delta";
    case DeflateFailure::ZlibFailed: return "zlib could not deflate the contents";
  }
  return "unknown deflate failure";
}

const char* deflateSearchFailureText(DeflateSearchFailure failure) {
  switch (failure) {
    case DeflateSearchFailure::NoMatch: return "no deflate setting reproduces the stored bytes";
    case DeflateSearchFailure::TooLarge: return "contents too large for a delta";
    case DeflateSearchFailure::ZlibNotPinned: return "the running zlib is not the pinned version";
  }
  return "unknown deflate search failure";
}

platform::Result<std::vector<unsigned char>, DeflateFailure> deflateWithSettings(
    const DeflateSettings& settings, const unsigned char* contents, size_t size) {
  if (!validDeflateSettings(settings)) return fail(DeflateFailure::BadSettings);
  if (size > kMaxDeltaSize) return fail(DeflateFailure::TooLarge);
  Deflater d(settings);
  if (!d.ok()) return fail(DeflateFailure::ZlibFailed);
  z_stream& z = d.stream();
  std::vector<unsigned char> out(deflateBound(&z, static_cast<uLong>(size)));
  static unsigned char nothing = 0;
  z.next_in = size ? const_cast<Bytef*>(contents) : &nothing;
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) return fail(DeflateFailure::ZlibFailed);
  out.resize(out.size() - z.avail_out);
  return out;
}

const std::vector<DeflateSettings>& deflateSearchOrder() {
  static const std::vector<DeflateSettings> order = buildSearchOrder();
  return order;
}

platform::Result<DeflateSettings, DeflateSearchFailure> findDeflateSettings(
    const unsigned char* contents, size_t size, const unsigned char* stored, size_t storedSize,
    DeflateSearchScope scope) {
  if (!runningZlibIsPinned()) return fail(DeflateSearchFailure::ZlibNotPinned);
  if (size > kMaxDeltaSize || storedSize > kMaxDeltaSize)
    return fail(DeflateSearchFailure::TooLarge);
  static const unsigned char nothing = 0;
  if (!contents) contents = &nothing;
  if (!stored) stored = &nothing;
  const std::vector<DeflateSettings>& order = deflateSearchOrder();
  const size_t tries = scope == DeflateSearchScope::Likely ? kLikelyDeflateSettings : order.size();
  const FirstDeflateBlock firstBlock = scanFirstDeflateBlock(stored, storedSize);
  // Above level 0, a window that reaches every byte of the contents from every other (its
  // size less zlib's 262-byte lookahead at least the contents' size) never slides nor refuses
  // a match, and gives the same stream as any larger one: of the settings that differ only in
  // such windows, the first judged stands for the others.
  bool judged[10][10][5] = {};
  for (size_t i = 0; i < tries; ++i) {
    const DeflateSettings& s = order[i];
    if (s.level > 0 && size + 262 <= (size_t{1} << s.windowBits)) {
      bool& alike = judged[s.level][s.memLevel][s.strategy];
      if (alike) continue;
      alike = true;
    }
    // A stream no longer than the compared prefix is judged by the deflation alone: the prefix
    // would be all of it.
    const bool candidate =
        s.level == 0 ? startsWithStoredBlock(stored, storedSize)
                     : firstBlockAllows(firstBlock, s) &&
                           (storedSize <= kComparedPrefix ||
                            prefixMatches(s, contents, size, stored, storedSize));
    if (candidate && reproduces(s, contents, size, stored, storedSize)) return s;
  }
  return fail(DeflateSearchFailure::NoMatch);
}

}  // namespace delta
