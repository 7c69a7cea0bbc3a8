#include "delta/vcdiff_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "delta/delta_limits.h"
#include "delta/vcdiff_code_table.h"

namespace delta {
namespace {

constexpr unsigned char kMagic[3] = {0xD6, 0xC3, 0xC4};
constexpr unsigned char kVersion = 0x00;

// Header indicator.
constexpr unsigned kHeaderDecompress = 0x01;  // a secondary compressor id follows
constexpr unsigned kHeaderCodeTable = 0x02;   // a custom code table follows
constexpr unsigned kHeaderAppHeader = 0x04;   // an application header follows (length, bytes)
// Window indicator.
constexpr unsigned kWindowSource = 0x01;
constexpr unsigned kWindowTarget = 0x02;
constexpr unsigned kWindowAdler32 = 0x04;  // the encoder's checksum of the window's target
// Delta indicator: which sections a secondary compressor compressed.
constexpr unsigned kDeltaKnownBits = 0x07;

// Address modes of the default table.
constexpr unsigned kModeSelf = 0;
constexpr unsigned kModeHere = 1;
constexpr unsigned kModeFirstNear = 2;
constexpr unsigned kModeFirstSame = kModeFirstNear + kVcdiffNearSlots;

using platform::fail;

// Where an empty cursor points, so that taking 0 bytes always yields a pointer.
constexpr unsigned char kNothing[1] = {0};

enum class ReadStatus { Ok, Truncated, Overflow };

// A bounded reader over one part of the delta. Offsets it reports are the delta's, so a
// failure names the byte where it was found whichever section it lies in.
class Cursor {
 public:
  // `data` may be null only when `size` is 0.
  Cursor(const unsigned char* data, size_t size, uint64_t base)
      : data_(data ? data : kNothing), size_(size), base_(base) {}

  size_t remaining() const { return size_ - pos_; }
  bool atEnd() const { return pos_ == size_; }
  uint64_t offset() const { return base_ + pos_; }

  bool byte(unsigned& out) {
    if (pos_ == size_) return false;
    out = data_[pos_++];
    return true;
  }
  // `count` bytes, or null when fewer remain.
  const unsigned char* take(size_t count) {
    if (count > size_ - pos_) return nullptr;
    const unsigned char* p = data_ + pos_;
    pos_ += count;
    return p;
  }
  // The next `count` bytes as a cursor of their own.
  Cursor split(size_t count) {
    const uint64_t at = offset();
    const unsigned char* p = take(count);
    return Cursor(p, p ? count : 0, at);
  }
  // A base-128 integer, most significant digit first, top bit set on every byte but the last.
  ReadStatus integer(uint64_t& out) {
    uint64_t value = 0;
    for (;;) {
      unsigned b;
      if (!byte(b)) return ReadStatus::Truncated;
      if (value > (std::numeric_limits<uint64_t>::max() >> 7)) return ReadStatus::Overflow;
      value = (value << 7) | (b & 0x7F);
      if (!(b & 0x80)) break;
    }
    out = value;
    return ReadStatus::Ok;
  }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
  uint64_t base_;
};

// The address cache of RFC 3284 section 5.1, reset at the start of every window.
class AddressCache {
 public:
  void reset() {
    near_.fill(0);
    same_.fill(0);
    nextNear_ = 0;
  }
  uint64_t nearSlot(unsigned i) const { return near_[i]; }
  uint64_t sameSlot(unsigned i) const { return same_[i]; }
  void update(uint64_t address) {
    near_[nextNear_] = address;
    nextNear_ = (nextNear_ + 1) % kVcdiffNearSlots;
    same_[address % same_.size()] = address;
  }

 private:
  std::array<uint64_t, kVcdiffNearSlots> near_{};
  std::array<uint64_t, kVcdiffSameSlots * 256> same_{};
  unsigned nextNear_ = 0;
};

struct Window {
  const unsigned char* segment = nullptr;  // the bytes COPY addresses below segmentLength name
  size_t segmentLength = 0;
  unsigned char* target = nullptr;  // this window's part of the output
  size_t targetLength = 0;
};

class Decoder {
 public:
  Decoder(const unsigned char* source, size_t sourceSize, const unsigned char* delta,
          size_t deltaSize, size_t maxTarget)
      : source_(source),
        sourceSize_(sourceSize),
        in_(delta, deltaSize, 0),
        maxTarget_(std::min(maxTarget, kMaxDeltaSize)) {}

  VcdiffResult run() {
    if (!readHeader()) return fail(error_);
    // Room for the whole bound at once: growing window by window would hold the old and the
    // new buffer together at each step, up to half as much again at the installer's peak.
    if (!in_.atEnd()) out_.reserve(maxTarget_);
    while (!in_.atEnd())
      if (!readWindow()) return fail(error_);
    return std::move(out_);
  }

 private:
  bool failAt(VcdiffFailure failure, uint64_t offset) {
    error_ = VcdiffError{failure, offset};
    return false;
  }
  // An integer of `cursor`; a short read is `ifShort` (where it is found, truncation of a
  // header and the overrun of a section read differently).
  bool integer(Cursor& cursor, uint64_t& out, VcdiffFailure ifShort) {
    const uint64_t at = cursor.offset();
    switch (cursor.integer(out)) {
      case ReadStatus::Ok: return true;
      case ReadStatus::Truncated: return failAt(ifShort, at);
      case ReadStatus::Overflow: return failAt(VcdiffFailure::BadInteger, at);
    }
    return false;
  }

  bool readHeader() {
    const unsigned char* magic = in_.take(sizeof kMagic);
    if (!magic) return failAt(VcdiffFailure::Truncated, in_.offset());
    if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) return failAt(VcdiffFailure::NotVcdiff, 0);
    unsigned version, indicator;
    if (!in_.byte(version)) return failAt(VcdiffFailure::Truncated, in_.offset());
    if (version != kVersion) return failAt(VcdiffFailure::UnsupportedVersion, 3);
    if (!in_.byte(indicator)) return failAt(VcdiffFailure::Truncated, in_.offset());
    if (indicator & ~(kHeaderDecompress | kHeaderCodeTable | kHeaderAppHeader))
      return failAt(VcdiffFailure::UnknownHeaderBits, 4);
    if (indicator & kHeaderDecompress) {
      // Only names the compressor; a window that used it is refused where it says so.
      unsigned compressorId;
      if (!in_.byte(compressorId)) return failAt(VcdiffFailure::Truncated, in_.offset());
    }
    if (indicator & kHeaderCodeTable) return failAt(VcdiffFailure::CustomCodeTable, 4);
    if (indicator & kHeaderAppHeader) {
      uint64_t length;
      if (!integer(in_, length, VcdiffFailure::Truncated)) return false;
      const uint64_t at = in_.offset();
      if (length > in_.remaining() || !in_.take(static_cast<size_t>(length)))
        return failAt(VcdiffFailure::Truncated, at);
    }
    return true;
  }

  // The window's segment: part of the source, or of the target decoded before this window.
  bool readSegment(unsigned indicator, Window& w, size_t& segmentPosition) {
    if (!(indicator & (kWindowSource | kWindowTarget))) return true;
    uint64_t length, position;
    const uint64_t at = in_.offset();
    if (!integer(in_, length, VcdiffFailure::Truncated) ||
        !integer(in_, position, VcdiffFailure::Truncated))
      return false;
    const size_t limit = (indicator & kWindowSource) ? sourceSize_ : out_.size();
    if (position > limit || length > limit - position)
      return failAt(VcdiffFailure::SegmentOutOfRange, at);
    w.segmentLength = static_cast<size_t>(length);
    segmentPosition = static_cast<size_t>(position);
    return true;
  }

  bool readWindow() {
    const uint64_t windowAt = in_.offset();
    unsigned indicator;
    if (!in_.byte(indicator)) return failAt(VcdiffFailure::Truncated, windowAt);
    if (indicator & ~(kWindowSource | kWindowTarget | kWindowAdler32))
      return failAt(VcdiffFailure::UnknownWindowBits, windowAt);
    if ((indicator & kWindowSource) && (indicator & kWindowTarget))
      return failAt(VcdiffFailure::BothSegments, windowAt);
    Window w;
    size_t segmentPosition = 0;
    if (!readSegment(indicator, w, segmentPosition)) return false;

    uint64_t deltaLength;
    if (!integer(in_, deltaLength, VcdiffFailure::Truncated)) return false;
    if (deltaLength > in_.remaining()) return failAt(VcdiffFailure::Truncated, in_.offset());
    Cursor body = in_.split(static_cast<size_t>(deltaLength));

    uint64_t targetLength, dataLength, instLength, addrLength;
    unsigned deltaIndicator;
    if (!integer(body, targetLength, VcdiffFailure::LengthMismatch)) return false;
    if (targetLength > maxTarget_ - out_.size())
      return failAt(VcdiffFailure::TargetTooLarge, body.offset());
    const uint64_t deltaIndicatorAt = body.offset();
    if (!body.byte(deltaIndicator)) return failAt(VcdiffFailure::LengthMismatch, body.offset());
    if (deltaIndicator & ~kDeltaKnownBits)
      return failAt(VcdiffFailure::UnknownDeltaBits, deltaIndicatorAt);
    if (deltaIndicator != 0) return failAt(VcdiffFailure::SecondaryCompression, deltaIndicatorAt);
    if (!integer(body, dataLength, VcdiffFailure::LengthMismatch) ||
        !integer(body, instLength, VcdiffFailure::LengthMismatch) ||
        !integer(body, addrLength, VcdiffFailure::LengthMismatch))
      return false;
    uint32_t expectedAdler = 0;
    if (indicator & kWindowAdler32) {
      const unsigned char* p = body.take(4);
      if (!p) return failAt(VcdiffFailure::LengthMismatch, body.offset());
      expectedAdler =
          (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    // The three sections fill the rest of the window exactly.
    const uint64_t rest = body.remaining();
    if (dataLength > rest || instLength > rest - dataLength ||
        addrLength != rest - dataLength - instLength)
      return failAt(VcdiffFailure::LengthMismatch, body.offset());
    Cursor data = body.split(static_cast<size_t>(dataLength));
    Cursor inst = body.split(static_cast<size_t>(instLength));
    Cursor addr = body.split(static_cast<size_t>(addrLength));

    // Only now is the window's target allocated; pointers into out_ are taken after it grows.
    const size_t windowStart = out_.size();
    out_.resize(windowStart + static_cast<size_t>(targetLength));
    w.targetLength = static_cast<size_t>(targetLength);
    w.target = out_.data() + windowStart;
    if (indicator & kWindowSource) w.segment = source_ + segmentPosition;
    if (indicator & kWindowTarget) w.segment = out_.data() + segmentPosition;
    if (w.segmentLength == 0) w.segment = nullptr;

    if (!runInstructions(w, data, inst, addr)) return false;
    if ((indicator & kWindowAdler32) && adler(w) != expectedAdler)
      return failAt(VcdiffFailure::ChecksumMismatch, windowAt);
    return true;
  }

  static uint32_t adler(const Window& w) {
    uLong value = adler32(0L, Z_NULL, 0);
    const unsigned char* p = w.target;
    size_t n = w.targetLength;
    while (n > 0) {
      const size_t piece = std::min<size_t>(n, 1u << 30);
      value = adler32(value, p, static_cast<uInt>(piece));
      p += piece;
      n -= piece;
    }
    return static_cast<uint32_t>(value);
  }

  bool runInstructions(const Window& w, Cursor& data, Cursor& inst, Cursor& addr) {
    const VcdiffCodeTable& table = defaultVcdiffCodeTable();
    cache_.reset();
    size_t position = 0;  // bytes of the window's target written so far
    while (!inst.atEnd()) {
      unsigned code;
      inst.byte(code);
      const VcdiffCode& entry = table[code];
      for (const VcdiffHalf* half : {&entry.first, &entry.second}) {
        if (half->op == VcdiffOp::Noop) continue;
        uint64_t size = half->size;
        if (size == 0 && !integer(inst, size, VcdiffFailure::InstructionOverrun)) return false;
        if (size > w.targetLength - position)
          return failAt(VcdiffFailure::WindowOverflow, inst.offset());
        const size_t n = static_cast<size_t>(size);
        if (!execute(*half, n, w, position, data, addr)) return false;
        position += n;
      }
    }
    if (position != w.targetLength) return failAt(VcdiffFailure::WindowShort, inst.offset());
    if (!data.atEnd()) return failAt(VcdiffFailure::TrailingSectionBytes, data.offset());
    if (!addr.atEnd()) return failAt(VcdiffFailure::TrailingSectionBytes, addr.offset());
    return true;
  }

  bool execute(const VcdiffHalf& half, size_t n, const Window& w, size_t position, Cursor& data,
               Cursor& addr) {
    unsigned char* to = w.target + position;
    switch (half.op) {
      case VcdiffOp::Add: {
        const unsigned char* bytes = data.take(n);
        if (!bytes) return failAt(VcdiffFailure::DataOverrun, data.offset());
        if (n) std::memcpy(to, bytes, n);
        return true;
      }
      case VcdiffOp::Run: {
        unsigned value;
        if (!data.byte(value)) return failAt(VcdiffFailure::DataOverrun, data.offset());
        if (n) std::memset(to, static_cast<int>(value), n);
        return true;
      }
      case VcdiffOp::Copy: {
        uint64_t address;
        if (!copyAddress(half.mode, w.segmentLength + position, addr, address)) return false;
        copy(w, static_cast<size_t>(address), to, n);
        return true;
      }
      case VcdiffOp::Noop: return true;
    }
    return true;
  }

  // Decodes a COPY's address in `mode`; it must name a byte before `here`, the position being
  // written in the address space of the segment followed by the window's target.
  bool copyAddress(unsigned mode, uint64_t here, Cursor& addr, uint64_t& address) {
    const uint64_t at = addr.offset();
    uint64_t value;
    if (mode >= kModeFirstSame) {
      unsigned b;
      if (!addr.byte(b)) return failAt(VcdiffFailure::AddressOverrun, at);
      address = cache_.sameSlot((mode - kModeFirstSame) * 256 + b);
    } else {
      if (!integer(addr, value, VcdiffFailure::AddressOverrun)) return false;
      if (mode == kModeSelf) {
        address = value;
      } else if (mode == kModeHere) {
        if (value > here) return failAt(VcdiffFailure::BadAddress, at);
        address = here - value;
      } else {
        const uint64_t base = cache_.nearSlot(mode - kModeFirstNear);
        if (value > std::numeric_limits<uint64_t>::max() - base)
          return failAt(VcdiffFailure::BadAddress, at);
        address = base + value;
      }
    }
    if (address >= here) return failAt(VcdiffFailure::BadAddress, at);
    cache_.update(address);
    return true;
  }

  // Copies n bytes from `address` in the segment-then-target space. A copy may run from the
  // segment into the target, and may overlap the bytes it writes (a repeat): those bytes are
  // copied one at a time, in order, so each is written before it is read.
  static void copy(const Window& w, size_t address, unsigned char* to, size_t n) {
    if (n == 0) return;  // `to` may be null in an empty target
    if (address < w.segmentLength) {
      const size_t fromSegment = std::min(n, w.segmentLength - address);
      std::memcpy(to, w.segment + address, fromSegment);
      to += fromSegment;
      n -= fromSegment;
      address = w.segmentLength;
    }
    if (n == 0) return;
    const unsigned char* from = w.target + (address - w.segmentLength);
    if (from + n <= to) {
      std::memcpy(to, from, n);
    } else {
      for (size_t i = 0; i < n; ++i) to[i] = from[i];
    }
  }

  const unsigned char* source_;
  size_t sourceSize_;
  Cursor in_;
  size_t maxTarget_;
  std::vector<unsigned char> out_;
  AddressCache cache_;
  VcdiffError error_{VcdiffFailure::Truncated, 0};
};

}  // namespace

const char* vcdiffFailureText(VcdiffFailure failure) {
  switch (failure) {
    case VcdiffFailure::NotVcdiff: return "not a VCDIFF delta";
    case VcdiffFailure::UnsupportedVersion: return "unsupported VCDIFF version";
    case VcdiffFailure::UnknownHeaderBits: return "unknown bits in the header indicator";
    case VcdiffFailure::CustomCodeTable: return "custom code tables are not supported";
    case VcdiffFailure::Truncated: return "the delta is truncated";
    case VcdiffFailure::BadInteger: return "an integer is longer than 64 bits";
    case VcdiffFailure::UnknownWindowBits: return "unknown bits in a window indicator";
    case VcdiffFailure::BothSegments: return "a window names both a source and a target segment";
    case VcdiffFailure::SegmentOutOfRange: return "a window's segment lies outside its file";
    case VcdiffFailure::LengthMismatch: return "a window's length disagrees with its sections";
    case VcdiffFailure::TargetTooLarge: return "the target exceeds its allowed size";
    case VcdiffFailure::SecondaryCompression:
      return "secondary compression of a window is not supported";
    case VcdiffFailure::UnknownDeltaBits: return "unknown bits in a delta indicator";
    case VcdiffFailure::InstructionOverrun: return "an instruction runs past its section";
    case VcdiffFailure::DataOverrun: return "an ADD or RUN runs past the data section";
    case VcdiffFailure::AddressOverrun: return "a COPY address runs past the address section";
    case VcdiffFailure::BadAddress: return "a COPY address is not before the current position";
    case VcdiffFailure::WindowOverflow: return "an instruction writes past its window's target";
    case VcdiffFailure::WindowShort: return "a window's instructions leave its target short";
    case VcdiffFailure::TrailingSectionBytes: return "a window's section has unused bytes";
    case VcdiffFailure::ChecksumMismatch: return "a window's Adler-32 checksum does not match";
  }
  return "unknown VCDIFF failure";
}

std::string describeVcdiffError(const VcdiffError& error) {
  return std::string(vcdiffFailureText(error.failure)) + " at delta byte " +
         std::to_string(error.offset);
}

VcdiffResult decodeVcdiff(const unsigned char* source, size_t sourceSize,
                          const unsigned char* delta, size_t deltaSize, size_t maxTargetSize) {
  return Decoder(source, sourceSize, delta, deltaSize, maxTargetSize).run();
}

}  // namespace delta
