#include "delta/deflate_block_scan.h"

#include <array>

namespace delta {
namespace {

constexpr unsigned kMaxBits = 15;
constexpr unsigned kLiteralCodes = 288;
constexpr unsigned kDistanceCodes = 30;
constexpr unsigned kEndOfBlock = 256;

// Bits in deflate's order (least significant first). Past the end it reads zeros and keeps
// its failure flag set.
class BitReader {
 public:
  BitReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  unsigned bits(unsigned count) {
    unsigned value = 0;
    for (unsigned i = 0; i < count; ++i) {
      if (pos_ >= size_ * 8) {
        ok_ = false;
        return 0;
      }
      value |= ((data_[pos_ / 8] >> (pos_ % 8)) & 1u) << i;
      ++pos_;
    }
    return value;
  }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// A canonical Huffman code as counts of codes per length and symbols in code order.
struct Code {
  std::array<uint16_t, kMaxBits + 1> count{};
  std::array<uint16_t, kLiteralCodes> symbol{};

  // False when the lengths oversubscribe the code space.
  bool build(const uint8_t* lengths, unsigned n) {
    count.fill(0);
    for (unsigned i = 0; i < n; ++i) ++count[lengths[i]];
    int left = 1;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
      left = left * 2 - count[len];
      if (left < 0) return false;
    }
    std::array<uint16_t, kMaxBits + 1> offset{};
    for (unsigned len = 1; len < kMaxBits; ++len) offset[len + 1] = offset[len] + count[len];
    for (unsigned i = 0; i < n; ++i)
      if (lengths[i]) symbol[offset[lengths[i]]++] = static_cast<uint16_t>(i);
    return true;
  }

  // The next symbol, or -1 for a bit pattern the code does not hold.
  int decode(BitReader& in) const {
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
      code |= static_cast<int>(in.bits(1));
      if (!in.ok()) return -1;
      const int n = count[len];
      if (code - first < n) return symbol[index + code - first];
      index += n;
      first = (first + n) << 1;
      code <<= 1;
    }
    return -1;
  }
};

bool fixedCodes(Code& literals, Code& distances) {
  uint8_t lengths[kLiteralCodes];
  for (unsigned i = 0; i < kLiteralCodes; ++i)
    lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  uint8_t distanceLengths[kDistanceCodes];
  for (uint8_t& l : distanceLengths) l = 5;
  return literals.build(lengths, kLiteralCodes) && distances.build(distanceLengths, kDistanceCodes);
}

bool dynamicCodes(BitReader& in, Code& literals, Code& distances) {
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
  const unsigned nLiterals = in.bits(5) + 257, nDistances = in.bits(5) + 1,
                 nLengths = in.bits(4) + 4;
  if (!in.ok() || nLiterals > 286 || nDistances > kDistanceCodes) return false;
  uint8_t lengthLengths[19] = {};
  for (unsigned i = 0; i < nLengths; ++i)
    lengthLengths[kOrder[i]] = static_cast<uint8_t>(in.bits(3));
  Code lengthCode;
  if (!in.ok() || !lengthCode.build(lengthLengths, 19)) return false;
  uint8_t lengths[286 + kDistanceCodes] = {};
  for (unsigned i = 0; i < nLiterals + nDistances;) {
    const int symbol = lengthCode.decode(in);
    if (symbol < 0) return false;
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t value = 0;
    unsigned repeat;
    if (symbol == 16) {
      if (i == 0) return false;
      value = lengths[i - 1];
      repeat = 3 + in.bits(2);
    } else if (symbol == 17) {
      repeat = 3 + in.bits(3);
    } else {
      repeat = 11 + in.bits(7);
    }
    if (!in.ok() || repeat > nLiterals + nDistances - i) return false;
    while (repeat--) lengths[i++] = value;
  }
  if (lengths[kEndOfBlock] == 0) return false;
  return literals.build(lengths, nLiterals) && distances.build(lengths + nLiterals, nDistances);
}

}  // namespace

FirstDeflateBlock scanFirstDeflateBlock(const unsigned char* stream, size_t size) {
  FirstDeflateBlock block;
  if (!stream || size == 0) return block;
  BitReader in(stream, size);
  block.last = in.bits(1) == 1;
  const unsigned type = in.bits(2);
  Code literals, distances;
  if (type == 1   ? !fixedCodes(literals, distances)
      : type == 2 ? !dynamicCodes(in, literals, distances)
                  : true)
    return block;
  for (;;) {
    const int symbol = literals.decode(in);
    if (symbol < 0 || symbol > 285) return block;
    if (symbol == static_cast<int>(kEndOfBlock)) break;
    ++block.symbols;
    if (symbol < 256) continue;
    const unsigned lengthCode = static_cast<unsigned>(symbol) - 257;
    in.bits(lengthCode < 8 || lengthCode == 28 ? 0 : (lengthCode - 4) / 4);
    const int d = distances.decode(in);
    if (d < 0 || d >= 30) return block;
    const unsigned extra = d < 4 ? 0 : static_cast<unsigned>(d) / 2 - 1;
    const size_t base =
        d < 4 ? static_cast<size_t>(d) + 1
              : (size_t{1} << (extra + 1)) + 1 + ((static_cast<size_t>(d) & 1) << extra);
    const size_t distance = base + in.bits(extra);
    if (!in.ok()) return block;
    if (distance > block.maxDistance) block.maxDistance = distance;
  }
  block.read = in.ok();
  return block;
}

}  // namespace delta
