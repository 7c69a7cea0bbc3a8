// Golden bytes of the three .kx records, and their decode refusing short input.
#include <gtest/gtest.h>

#include "archive/kx_format.h"
#include "tests/support/test_support.h"

using testing_support::hex;
using testing_support::unhex;

namespace {

LocalHeader sampleHeader() {
  LocalHeader h;
  h.signature = kLocalHeaderSignature;
  h.reserved4 = 0x0102;
  h.compressedSize = 0x11223344;
  h.uncompressedSize = 0x55667788;
  h.version = kFormatVersion;
  h.fileNameLength = 0x0304;
  h.flag = kDeleteMarker;
  h.compressionMethod = kMethodDeflated;
  h.reserved22 = 0x0506;
  h.reserved24 = 0x0708090A;
  h.extraFieldLength = 0x0B0C;
  return h;
}

DirectoryEntry sampleEntry() {
  DirectoryEntry e;
  e.signature = kDirectoryEntrySignature;
  e.time = 0x6DEF;
  e.date = 0x4441;
  e.compressedSize = 0x11223344;
  e.uncompressedSize = 0x55667788;
  e.version = 10;
  e.versionAgain = 11;
  e.localHeaderOffset = -1;
  e.flag = 0x0F;
  e.compressionMethod = 8;
  e.reserved28 = 0xA1A2A3A4;
  e.fileNameLength = 0x0400;
  e.extraFieldLength = 0x0011;
  e.commentLength = 0x0022;
  e.reserved38 = 0x0102030405060708ull;
  return e;
}

TEST(KxRecords, LocalHeaderHasItsOwnFieldOrder) {
  const std::string golden = unhex(
      "504b0304 0201 44332211 88776655 0a00 0403 0f00 0800 0605 0a090807 0c0b");
  EXPECT_EQ(hex(encodeLocalHeader(sampleHeader())), hex(golden));

  ByteReader in(golden.data(), golden.size());
  LocalHeader back;
  ASSERT_TRUE(decodeLocalHeader(in, back));
  EXPECT_EQ(encodeLocalHeader(back), golden);
  EXPECT_EQ(in.position(), kLocalHeaderSize);
}

TEST(KxRecords, DirectoryEntryHoldsSignedHeaderOffset) {
  const std::string golden = unhex(
      "504b0102 ef6d 4144 44332211 88776655 0a00 0b00 ffffffff 0f00 0800 a4a3a2a1"
      "0004 1100 2200 0807060504030201");
  EXPECT_EQ(hex(encodeDirectoryEntry(sampleEntry())), hex(golden));

  ByteReader in(golden.data(), golden.size());
  DirectoryEntry back;
  ASSERT_TRUE(decodeDirectoryEntry(in, back));
  EXPECT_EQ(back.localHeaderOffset, -1);
  EXPECT_EQ(back.reserved38, 0x0102030405060708ull);
  EXPECT_EQ(encodeDirectoryEntry(back), golden);
}

TEST(KxRecords, EmptyArchiveIsOneFooterWithSizeBeforeSignature) {
  ArchiveFooter empty;
  empty.signature = kFooterSignature;
  EXPECT_EQ(hex(encodeArchiveFooter(empty)),
            hex(unhex("00000000 504b0506 0000000000000000000000000000")));

  ArchiveFooter f;
  f.directorySize = 0x2E + 5;
  f.signature = kFooterSignature;
  f.directoryOffset = 0x1234;
  f.entryCount = 3;
  f.entryCountAgain = 3;
  const std::string bytes = encodeArchiveFooter(f);
  ASSERT_EQ(bytes.size(), kFooterSize);
  EXPECT_EQ(hex(bytes), hex(unhex("33000000 504b0506 0000 34120000 0000 0300 0300 0000")));
  ByteReader in(bytes.data(), bytes.size());
  ArchiveFooter back;
  ASSERT_TRUE(decodeArchiveFooter(in, back));
  EXPECT_EQ(back.directoryOffset, 0x1234u);
  EXPECT_EQ(back.entryCount, 3);
}

TEST(KxRecords, EveryDecodeRefusesATruncatedRecord) {
  const std::string header = encodeLocalHeader(sampleHeader());
  const std::string entry = encodeDirectoryEntry(sampleEntry());
  const std::string footer = encodeArchiveFooter(ArchiveFooter());
  for (size_t cut = 0; cut < kDirectoryEntrySize; ++cut) {
    SCOPED_TRACE(cut);
    if (cut < kLocalHeaderSize) {
      ByteReader in(header.data(), cut);
      LocalHeader h;
      EXPECT_FALSE(decodeLocalHeader(in, h));
    }
    ByteReader in(entry.data(), cut);
    DirectoryEntry e;
    EXPECT_FALSE(decodeDirectoryEntry(in, e));
    if (cut < kFooterSize) {
      ByteReader fin(footer.data(), cut);
      ArchiveFooter f;
      EXPECT_FALSE(decodeArchiveFooter(fin, f));
    }
  }
}

TEST(KxRecords, DecodeReadsAtTheCursorAndAdvancesExactlyOneRecord) {
  const std::string two = encodeDirectoryEntry(sampleEntry()) + "name" +
                          encodeDirectoryEntry(DirectoryEntry());
  ByteReader in(two.data(), two.size());
  DirectoryEntry first, second;
  ASSERT_TRUE(decodeDirectoryEntry(in, first));
  EXPECT_EQ(in.text(4), "name");
  ASSERT_TRUE(decodeDirectoryEntry(in, second));
  EXPECT_EQ(second.signature, 0u);
  EXPECT_EQ(in.remaining(), 0u);
}

}  // namespace
