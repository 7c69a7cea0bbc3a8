// The decoder on deltas built by hand: instruction semantics an encoder rarely emits (target
// segments, copies that run from the segment into the target, overlapping copies, every
// address mode) and a table of malformed deltas, each refused with its own failure.
#include "delta/vcdiff_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using delta::VcdiffFailure;

std::string varint(uint64_t v) {
  std::string digits(1, static_cast<char>(v & 0x7F));
  while (v >>= 7) digits.insert(digits.begin(), static_cast<char>(0x80 | (v & 0x7F)));
  return digits;
}

// Default-table codes.
std::string add(size_t n) {  // ADD of n bytes (sizes 1-17 in the code, others explicit)
  return n >= 1 && n <= 17 ? std::string(1, static_cast<char>(n + 1)) : "\x01" + varint(n);
}
std::string run(size_t n) { return std::string(1, '\0') + varint(n); }
std::string copy(size_t n, unsigned mode) {  // COPY of n bytes in address mode `mode`
  const unsigned base = 19 + 16 * mode;
  if (n >= 4 && n <= 18) return std::string(1, static_cast<char>(base + n - 3));
  return std::string(1, static_cast<char>(base)) + varint(n);
}

struct Window {
  unsigned indicator = 0;  // 1 source segment, 2 target segment, 4 checksum
  uint64_t segmentLength = 0, segmentPosition = 0;
  uint64_t targetLength = 0;
  unsigned deltaIndicator = 0;
  std::string data, inst, addr;
  std::optional<uint32_t> adler;
  int64_t deltaLengthAdjust = 0;  // to corrupt the window's delta length
};

const std::string kHeader = std::string("\xD6\xC3\xC4\x00\x00", 5);

std::string window(const Window& w) {
  std::string body = varint(w.targetLength) + static_cast<char>(w.deltaIndicator) +
                     varint(w.data.size()) + varint(w.inst.size()) + varint(w.addr.size());
  if (w.adler) {
    for (int shift = 24; shift >= 0; shift -= 8) body += static_cast<char>(*w.adler >> shift);
  }
  body += w.data + w.inst + w.addr;
  std::string out(1, static_cast<char>(w.indicator));
  if (w.indicator & 3) out += varint(w.segmentLength) + varint(w.segmentPosition);
  return out + varint(body.size() + w.deltaLengthAdjust) + body;
}

uint32_t adlerOf(const std::string& s) {
  return static_cast<uint32_t>(adler32(adler32(0, nullptr, 0),
                                       reinterpret_cast<const Bytef*>(s.data()),
                                       static_cast<uInt>(s.size())));
}

delta::VcdiffResult decode(const std::string& source, const std::string& d,
                           size_t maxTarget = 1 << 20) {
  return delta::decodeVcdiff(reinterpret_cast<const unsigned char*>(source.data()), source.size(),
                             reinterpret_cast<const unsigned char*>(d.data()), d.size(), maxTarget);
}

std::string text(const delta::VcdiffResult& r) {
  return r ? std::string(r.value().begin(), r.value().end())
           : "failed: " + delta::describeVcdiffError(r.error());
}

const std::string kSource = "0123456789abcdefghij";

TEST(VcdiffDecoder, RebuildsTargetsFromEveryKindOfInstruction) {
  struct Case {
    const char* name;
    std::vector<Window> windows;
    std::string expected;
  };
  Window sourceCopies;  // self, here and near modes against a source segment of "abcdefghij"
  sourceCopies.indicator = 1;
  sourceCopies.segmentLength = 10;
  sourceCopies.segmentPosition = 10;
  sourceCopies.targetLength = 16;
  sourceCopies.inst = copy(4, 0) + copy(4, 1) + copy(4, 2) + copy(4, 0);
  // self 6; here 14 - 14 = 0; near slot 0 (6) + 2 = 8, which runs on into the target; self 2
  sourceCopies.addr = varint(6) + varint(14) + varint(2) + varint(2);
  Window sameMode = sourceCopies;  // a same-cache hit repeats an address seen before
  sameMode.targetLength = 8;
  sameMode.inst = copy(4, 0) + copy(4, 6);
  sameMode.addr = varint(3) + std::string(1, '\x03');  // same slot 3 % 768 -> address 3
  Window crossing;  // one COPY runs from the end of the segment into the target's own bytes
  crossing.indicator = 1;
  crossing.segmentLength = 4;
  crossing.segmentPosition = 0;
  crossing.targetLength = 12;
  crossing.inst = copy(4, 0) + copy(8, 0);
  crossing.addr = varint(0) + varint(2);
  Window overlapping;  // ADD two bytes, then a COPY of them that overlaps what it writes
  overlapping.targetLength = 11;
  overlapping.data = "ab";
  overlapping.inst = add(2) + copy(9, 0);
  overlapping.addr = varint(0);
  Window runs;  // RUN, an ADD with its size spelled out, a zero-length ADD, a checksum
  runs.indicator = 4;
  runs.targetLength = 25;
  runs.data = "x" + std::string(20, 'y');
  runs.inst = run(4) + add(20) + "\x01" + varint(0) + run(1);
  runs.data += "!";
  runs.targetLength = 25;
  runs.adler = adlerOf("xxxx" + std::string(20, 'y') + "!");
  Window first;  // a plain first window, then one copying from it as a target segment
  first.targetLength = 6;
  first.data = "hello ";
  first.inst = add(6);
  Window fromTarget;
  fromTarget.indicator = 2;
  fromTarget.segmentLength = 5;
  fromTarget.segmentPosition = 0;
  fromTarget.targetLength = 9;
  fromTarget.data = "!!!!";
  fromTarget.inst = copy(5, 0) + add(4);
  fromTarget.addr = varint(0);
  Window empty;  // a COPY and an ADD of nothing, in a window with nothing to write
  empty.indicator = 1;
  empty.segmentLength = 4;
  empty.inst = copy(0, 0) + add(0);
  empty.addr = varint(1);
  const Case cases[] = {
      {"source copies in self, here and near modes", {sourceCopies}, "ghijabcdijghcdef"},
      {"same-cache mode", {sameMode}, "defgdefg"},
      {"a copy crossing from the segment into the target", {crossing}, "012323012323"},
      {"an overlapping copy repeats",
       {overlapping},
       "ababababab"
       "a"},
      {"runs and explicit sizes", {runs}, "xxxx" + std::string(20, 'y') + "!"},
      {"a target segment from an earlier window", {first, fromTarget}, "hello hello!!!!"},
      {"no windows at all", {}, ""},
      {"zero-length instructions in an empty target", {empty}, ""},
  };
  for (const Case& c : cases) {
    std::string d = kHeader;
    for (const Window& w : c.windows) d += window(w);
    EXPECT_EQ(text(decode(kSource, d)), c.expected) << c.name;
  }
}

TEST(VcdiffDecoder, SkipsAnApplicationHeaderAndASecondaryCompressorNobodyUses) {
  Window w;
  w.targetLength = 3;
  w.data = "abc";
  w.inst = add(3);
  // Indicator: a secondary compressor id (2) and a 5-byte application header.
  const std::string d = std::string("\xD6\xC3\xC4\x00\x05\x02\x05t//s/", 12) + window(w);
  EXPECT_EQ(text(decode(kSource, d)), "abc");
}

// Each malformed delta fails with its own failure: nothing is read or written out of bounds
// (the suite runs under AddressSanitizer) and nothing is guessed.
TEST(VcdiffDecoder, RefusesMalformedDeltasWithTheirReason) {
  auto plain = [] {
    Window w;
    w.indicator = 1;
    w.segmentLength = 10;
    w.targetLength = 6;
    w.data = "xy";
    w.inst = add(2) + copy(4, 0);
    w.addr = varint(3);
    return w;
  };
  struct Case {
    const char* name;
    std::string delta;
    VcdiffFailure failure;
    size_t maxTarget = 1 << 20;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, VcdiffFailure failure, auto change,
                  size_t maxTarget = 1 << 20) {
    Window w = plain();
    std::string header = kHeader;
    change(w, header);
    cases.push_back({name, header + window(w), failure, maxTarget});
  };
  const auto none = [](Window&, std::string&) {};
  ASSERT_EQ(text(decode(kSource, kHeader + window(plain()))), "xy3456");

  with("wrong magic", VcdiffFailure::NotVcdiff, [](Window&, std::string& h) { h[0] = 'V'; });
  with("version 1", VcdiffFailure::UnsupportedVersion, [](Window&, std::string& h) { h[3] = 1; });
  with("unknown header bit", VcdiffFailure::UnknownHeaderBits,
       [](Window&, std::string& h) { h[4] = 0x08; });
  with("custom code table", VcdiffFailure::CustomCodeTable,
       [](Window&, std::string& h) { h[4] = 0x02; });
  with("unknown window bit", VcdiffFailure::UnknownWindowBits,
       [](Window& w, std::string&) { w.indicator |= 0x08; });
  with("source and target segment", VcdiffFailure::BothSegments,
       [](Window& w, std::string&) { w.indicator = 3; });
  with("segment past the source's end", VcdiffFailure::SegmentOutOfRange,
       [](Window& w, std::string&) { w.segmentPosition = 11; });
  with("target segment before any target", VcdiffFailure::SegmentOutOfRange,
       [](Window& w, std::string&) { w.indicator = 2; });
  with("integer of 11 digits", VcdiffFailure::BadInteger,
       [](Window& w, std::string&) { w.addr = std::string(10, '\xFF') + '\x01'; });
  with("window length one short", VcdiffFailure::LengthMismatch,
       [](Window& w, std::string&) { w.deltaLengthAdjust = -1; });
  with("window length past the delta's end", VcdiffFailure::Truncated,
       [](Window& w, std::string&) { w.deltaLengthAdjust = 1; });
  with("target above the bound", VcdiffFailure::TargetTooLarge, none, 5);
  with("huge declared target", VcdiffFailure::TargetTooLarge,
       [](Window& w, std::string&) { w.targetLength = uint64_t{1} << 40; });
  with("secondary-compressed data", VcdiffFailure::SecondaryCompression,
       [](Window& w, std::string&) { w.deltaIndicator = 1; });
  with("unknown delta indicator bit", VcdiffFailure::UnknownDeltaBits,
       [](Window& w, std::string&) { w.deltaIndicator = 0x10; });
  with("instruction size missing", VcdiffFailure::InstructionOverrun,
       [](Window& w, std::string&) { w.inst = add(2) + "\x01"; });
  with("ADD past the data section", VcdiffFailure::DataOverrun,
       [](Window& w, std::string&) { w.data = "x"; });
  with("RUN without its byte", VcdiffFailure::DataOverrun, [](Window& w, std::string&) {
    w.data = "";
    w.addr = "";
    w.inst = run(6);
  });
  with("COPY address missing", VcdiffFailure::AddressOverrun,
       [](Window& w, std::string&) { w.addr = ""; });
  with("COPY of the byte being written", VcdiffFailure::BadAddress,
       [](Window& w, std::string&) { w.addr = varint(12); });
  with("COPY far past the segment", VcdiffFailure::BadAddress,
       [](Window& w, std::string&) { w.addr = varint(uint64_t{1} << 62); });
  with("HERE mode before the start", VcdiffFailure::BadAddress, [](Window& w, std::string&) {
    w.inst = add(2) + copy(4, 1);
    w.addr = varint(13);
  });
  with("instruction past the window's target", VcdiffFailure::WindowOverflow,
       [](Window& w, std::string&) { w.targetLength = 5; });
  with("instructions short of the target", VcdiffFailure::WindowShort,
       [](Window& w, std::string&) { w.targetLength = 7; });
  with("unused data bytes", VcdiffFailure::TrailingSectionBytes,
       [](Window& w, std::string&) { w.data = "xyz"; });
  with("unused address bytes", VcdiffFailure::TrailingSectionBytes,
       [](Window& w, std::string&) { w.addr += varint(1); });
  with("checksum of another target", VcdiffFailure::ChecksumMismatch, [](Window& w, std::string&) {
    w.indicator |= 4;
    w.adler = adlerOf("xy3457");
  });
  for (const Case& c : cases) {
    const auto result = decode(kSource, c.delta, c.maxTarget);
    ASSERT_FALSE(result) << c.name;
    EXPECT_EQ(result.error().failure, c.failure)
        << c.name << ": " << delta::describeVcdiffError(result.error());
  }
}

// Cut anywhere, a delta is refused or (cut at a window's end) yields only the windows before.
TEST(VcdiffDecoder, RefusesEveryTruncation) {
  Window a;
  a.targetLength = 4;
  a.data = "abcd";
  a.inst = add(4);
  Window b;
  b.indicator = 5;
  b.segmentLength = 20;
  b.targetLength = 8;
  b.inst = copy(8, 0);
  b.addr = varint(12);
  b.adler = adlerOf("cdefghij");
  const std::string whole = kHeader + window(a) + window(b);
  ASSERT_EQ(text(decode(kSource, whole)), "abcdcdefghij");
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const auto result = decode(kSource, whole.substr(0, cut));
    if (result) {
      EXPECT_TRUE(cut == kHeader.size() || cut == kHeader.size() + window(a).size()) << cut;
      EXPECT_LT(result.value().size(), 12u) << cut;
    } else {
      EXPECT_EQ(result.error().failure, VcdiffFailure::Truncated) << cut;
    }
  }
}

}  // namespace
