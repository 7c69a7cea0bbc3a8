// Delta records end to end: made from an entry's old and new bytes, applied to the old
// contents, each check of the way refusing what it must; and the record's bounded decode.
#include "delta/delta_record.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "delta/delta_apply.h"
#include "delta/delta_limits.h"

namespace {

using delta::DeltaFailure;
using delta::DeltaRecordFailure;
using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string varint(uint64_t v) {
  std::string digits(1, static_cast<char>(v & 0x7F));
  while (v >>= 7) digits.insert(digits.begin(), static_cast<char>(0x80 | (v & 0x7F)));
  return digits;
}

// A VCDIFF that keeps the old contents' first `keep` bytes and adds `tail`: one window copying
// from the old contents as its source segment, then one ADD.
Bytes keepAndAdd(size_t keep, const std::string& tail) {
  std::string inst = std::string(1, '\x13') + varint(keep) + '\x01' + varint(tail.size());
  std::string addr = varint(0);
  std::string body = varint(keep + tail.size()) + '\0' + varint(tail.size()) + varint(inst.size()) +
                     varint(addr.size()) + tail + inst + addr;
  std::string d = std::string("\xD6\xC3\xC4\x00\x00\x01", 6) + varint(keep) + varint(0) +
                  varint(body.size()) + body;
  return bytesOf(d);
}

Bytes deflated(const Bytes& contents, int level, int windowBits, int memLevel, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -windowBits, memLevel, strategy), Z_OK);
  Bytes out(deflateBound(&z, contents.size()));
  z.next_in = const_cast<Bytef*>(contents.data());
  z.avail_in = static_cast<uInt>(contents.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

struct Fixture {
  Bytes old, contents, stored, vcdiff;
};

Fixture deflatedEntry() {
  Fixture f;
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i * 7 % 1000) + " of a table\n";
  f.old = bytesOf(text);
  f.contents = bytesOf(text.substr(0, 30000) + "a new ending\n");
  f.stored = deflated(f.contents, 9, 15, 8, Z_DEFAULT_STRATEGY);
  f.vcdiff = keepAndAdd(30000, "a new ending\n");
  return f;
}

platform::Result<Bytes, delta::DeltaError> make(const Fixture& f, uint16_t method) {
  delta::EntryBytes entry;
  entry.method = method;
  entry.contents = f.contents.data();
  entry.size = f.contents.size();
  const Bytes& stored = method == delta::kMethodStored ? f.contents : f.stored;
  entry.stored = stored.data();
  entry.storedSize = stored.size();
  return delta::makeDeltaRecord(f.old.data(), f.old.size(), entry, f.vcdiff.data(),
                                f.vcdiff.size());
}

TEST(DeltaRecord, AppliedToTheOldContentsGivesTheNewStoredBytesExactly) {
  const Fixture f = deflatedEntry();
  for (uint16_t method : {delta::kMethodDeflated, delta::kMethodStored}) {
    const auto record = make(f, method);
    ASSERT_TRUE(record) << delta::describeDeltaError(record.error());
    const auto applied = delta::applyDeltaRecord(record.value().data(), record.value().size(),
                                                 f.old.data(), f.old.size());
    ASSERT_TRUE(applied) << delta::describeDeltaError(applied.error());
    EXPECT_EQ(applied.value().method, method);
    EXPECT_EQ(applied.value().size, f.contents.size());
    EXPECT_EQ(applied.value().stored, method == delta::kMethodStored ? f.contents : f.stored);
  }
}

// The release keeps what makeDeltaRecord returns without applying it again: an encoder's
// VCDIFF that would not rebuild the new contents must be refused here.
TEST(DeltaRecord, IsNotMadeFromAVcdiffThatDoesNotRebuildTheNewContents) {
  const Fixture base = deflatedEntry();
  struct Case {
    const char* name;
    Bytes vcdiff;
    DeltaFailure failure;
  } cases[] = {
      {"other bytes", keepAndAdd(30000, "a new endinG\n"), DeltaFailure::NewCrcDiffers},
      {"one byte short", keepAndAdd(30000, "a new ending"), DeltaFailure::NewSizeDiffers},
      {"copies past the old contents", keepAndAdd(40000000, ""), DeltaFailure::DecodeFailed},
  };
  for (const Case& c : cases) {
    Fixture f = base;
    f.vcdiff = c.vcdiff;
    for (uint16_t method : {delta::kMethodDeflated, delta::kMethodStored}) {
      const auto record = make(f, method);
      ASSERT_FALSE(record) << c.name;
      EXPECT_EQ(record.error().failure, c.failure)
          << c.name << ": " << delta::describeDeltaError(record.error());
    }
  }
}

TEST(DeltaRecord, RefusesOldContentsOtherThanThoseItWasMadeFrom) {
  const Fixture f = deflatedEntry();
  const auto record = make(f, delta::kMethodDeflated);
  ASSERT_TRUE(record);
  Bytes oneByte = f.old;
  oneByte[123] ^= 1;
  Bytes shorter(f.old.begin(), f.old.end() - 1);
  struct Case {
    const char* name;
    Bytes old;
    DeltaFailure failure;
  } cases[] = {{"one byte differs", oneByte, DeltaFailure::OldCrcDiffers},
               {"one byte shorter", shorter, DeltaFailure::OldSizeDiffers},
               {"nothing", {}, DeltaFailure::OldSizeDiffers}};
  for (const Case& c : cases) {
    const auto applied = delta::applyDeltaRecord(record.value().data(), record.value().size(),
                                                 c.old.data(), c.old.size());
    ASSERT_FALSE(applied) << c.name;
    EXPECT_EQ(applied.error().failure, c.failure) << c.name;
  }
}

// A record altered after it was made fails the check that guards that field.
TEST(DeltaRecord, RefusesARecordWhoseFieldsDisagreeWithWhatTheyRebuild) {
  const Fixture f = deflatedEntry();
  const auto made = make(f, delta::kMethodDeflated);
  ASSERT_TRUE(made);
  auto recordWith = [&](auto change) {
    auto view = delta::decodeDeltaRecord(made.value().data(), made.value().size());
    EXPECT_TRUE(view);
    delta::DeltaRecordHeader h = view.value().header;
    Bytes vcdiff = delta::inflateVcdiff(view.value()).value();
    change(h, vcdiff);
    return delta::encodeDeltaRecord(h, vcdiff.data(), vcdiff.size()).value();
  };
  using H = delta::DeltaRecordHeader;
  struct Case {
    const char* name;
    Bytes record;
    DeltaFailure failure;
  } cases[] = {
      {"new size", recordWith([](H& h, Bytes&) { h.newSize += 1; }), DeltaFailure::NewSizeDiffers},
      {"new CRC", recordWith([](H& h, Bytes&) { h.newCrc ^= 1; }), DeltaFailure::NewCrcDiffers},
      {"level", recordWith([](H& h, Bytes&) { h.settings.level = 1; }),
       DeltaFailure::StoredSizeDiffers},
      {"stored CRC", recordWith([](H& h, Bytes&) { h.newStoredCrc ^= 1; }),
       DeltaFailure::StoredCrcDiffers},
      {"VCDIFF copies past the old contents",
       recordWith([](H&, Bytes& v) { v = keepAndAdd(40000000, ""); }), DeltaFailure::DecodeFailed},
  };
  for (const Case& c : cases) {
    const auto applied =
        delta::applyDeltaRecord(c.record.data(), c.record.size(), f.old.data(), f.old.size());
    ASSERT_FALSE(applied) << c.name;
    EXPECT_EQ(applied.error().failure, c.failure)
        << c.name << ": " << delta::describeDeltaError(applied.error());
  }
}

TEST(DeltaRecord, DecodeRefusesBadHeadersAndEveryTruncation) {
  const Fixture f = deflatedEntry();
  const auto made = make(f, delta::kMethodDeflated);
  ASSERT_TRUE(made);
  const Bytes& good = made.value();
  auto patched = [&](size_t offset, std::initializer_list<unsigned char> values) {
    Bytes b = good;
    for (unsigned char v : values) b[offset++] = v;
    return b;
  };
  Bytes trailing = good;
  trailing.push_back(0);
  Bytes badDeflate = good;
  badDeflate[delta::kDeltaRecordHeaderSize] = 0xFF;  // a reserved block type
  struct Case {
    const char* name;
    Bytes record;
    DeltaRecordFailure failure;
  } cases[] = {
      {"magic", patched(0, {'K', 'X', 'D', 'M'}), DeltaRecordFailure::BadMagic},
      {"version 2", patched(4, {2}), DeltaRecordFailure::BadVersion},
      {"method 12", patched(6, {12}), DeltaRecordFailure::BadMethod},
      {"old size above 64 MiB", patched(8, {1, 0, 0, 4}), DeltaRecordFailure::SizeTooLarge},
      {"new size above 64 MiB", patched(20, {1, 0, 0, 4}), DeltaRecordFailure::SizeTooLarge},
      {"VCDIFF size above 64 MiB", patched(36, {1, 0, 0, 4}), DeltaRecordFailure::SizeTooLarge},
      {"deflated size above the bound", patched(40, {0, 0, 0, 8}),
       DeltaRecordFailure::SizeTooLarge},
      {"level 10", patched(32, {10}), DeltaRecordFailure::BadSettings},
      {"window bits 8", patched(33, {8}), DeltaRecordFailure::BadSettings},
      {"memory level 0", patched(34, {0}), DeltaRecordFailure::BadSettings},
      {"strategy 5", patched(35, {5}), DeltaRecordFailure::BadSettings},
      {"stored with deflate settings", patched(6, {0}), DeltaRecordFailure::BadSettings},
      {"a byte after the data", trailing, DeltaRecordFailure::TrailingBytes},
  };
  for (const Case& c : cases) {
    const auto view = delta::decodeDeltaRecord(c.record.data(), c.record.size());
    ASSERT_FALSE(view) << c.name;
    EXPECT_EQ(view.error(), c.failure) << c.name;
  }
  const auto corrupt = delta::decodeDeltaRecord(badDeflate.data(), badDeflate.size());
  ASSERT_TRUE(corrupt);
  EXPECT_FALSE(delta::inflateVcdiff(corrupt.value()));
  for (size_t cut = 0; cut < good.size(); ++cut) {
    const auto view = delta::decodeDeltaRecord(good.data(), cut);
    ASSERT_FALSE(view) << cut;
    EXPECT_EQ(view.error(), DeltaRecordFailure::Truncated) << cut;
  }
}

// The layout of docs/delta-format.md, field by field, for a stored entry.
TEST(DeltaRecord, EncodesTheDocumentedLayout) {
  delta::DeltaRecordHeader h;
  h.oldSize = 0x01020304;
  h.oldCrc = 0xA1B2C3D4;
  h.newMethod = delta::kMethodStored;
  h.newStoredSize = h.newSize = 5;
  h.newStoredCrc = h.newCrc = 0x11223344;
  const auto record = delta::encodeDeltaRecord(h, nullptr, 0);
  ASSERT_TRUE(record);
  const Bytes expectedHeader = {
      'K',  'X',  'D',  'L',  1,    0,    0,    0,     // magic, version, method
      0x04, 0x03, 0x02, 0x01, 0xD4, 0xC3, 0xB2, 0xA1,  // old size, old CRC-32
      5,    0,    0,    0,    5,    0,    0,    0,     // stored size, size
      0x44, 0x33, 0x22, 0x11, 0x44, 0x33, 0x22, 0x11,  // CRC-32s of contents and stored bytes
      0,    0,    0,    0,                             // no deflate settings
      0,    0,    0,    0,    2,    0,    0,    0};    // VCDIFF size, deflated size
  ASSERT_EQ(record.value().size(), expectedHeader.size() + 2);
  EXPECT_EQ(Bytes(record.value().begin(), record.value().begin() + 44), expectedHeader);
}

}  // namespace
