#include "integrity/fingerprint.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;
using Seen = std::vector<std::string>;

// Deterministic bytes that are not all alike, so a window read from the wrong place shows.
std::string patternBytes(size_t n, uint32_t seed) {
  std::string bytes(n, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

// Independent of the code under test: zlib's own crc32, in pieces that fit its length type.
uint32_t zlibCrc(uint32_t crc, const char* p, size_t n) {
  while (n > 0) {
    size_t piece = std::min<size_t>(n, 1u << 30);
    crc = static_cast<uint32_t>(::crc32(crc, reinterpret_cast<const Bytef*>(p),
                                        static_cast<uInt>(piece)));
    p += piece;
    n -= piece;
  }
  return crc;
}

uint32_t zlibCrcOfZeros(uint32_t crc, size_t n) {
  static const std::vector<char> zeros(1 << 20, '\0');
  while (n > 0) {
    size_t piece = std::min(n, zeros.size());
    crc = zlibCrc(crc, zeros.data(), piece);
    n -= piece;
  }
  return crc;
}

std::string hex8(uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", crc);
  return text;
}

// A sparse file of `size` bytes with `marks` written at their offsets.
void makeSparseFile(const std::string& path, uint64_t size,
                    const std::vector<std::pair<uint64_t, std::string>>& marks = {}) {
  writeFile(path, "");
  std::filesystem::resize_file(path, size);
  std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
  for (const auto& mark : marks) {
    out.seekp(static_cast<std::streamoff>(mark.first));
    out.write(mark.second.data(), static_cast<std::streamsize>(mark.second.size()));
  }
}

// Every event but progress, one line each, in the order they came.
struct RecordedEvents : FingerprintEvents {
  void crcStarted(const std::string& p) override { seen.push_back("start " + p); }
  void openFailed(const std::string& p, bool exists, int attempt) override {
    seen.push_back("open " + p + (exists ? " exists " : " missing ") + std::to_string(attempt));
  }
  void crcFileSize(int64_t size) override { seen.push_back("size " + std::to_string(size)); }
  void tooLarge(const std::string& p, int64_t size) override {
    seen.push_back("too large " + p + " " + std::to_string(size));
  }
  void noMemory() override { seen.push_back("no memory"); }
  void readError(const std::string& p, uint32_t) override { seen.push_back("read error " + p); }
  void readFailed(const std::string& p, int64_t offset) override {
    seen.push_back("read failed " + p + " " + std::to_string(offset));
  }
  void fileEndNotReached(const std::string& p) override { seen.push_back("no end " + p); }
  void crcFinished(int64_t bytes) override { seen.push_back("end " + std::to_string(bytes)); }
  void sampleSeekFailed(int64_t at) override { seen.push_back("seek " + std::to_string(at)); }
  void sampleReadFailed(int64_t at) override { seen.push_back("fread " + std::to_string(at)); }
  Seen seen;
};

class Fingerprints : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_ / name; }

  TempDir dir_;
  RecordedEvents events_;
};

TEST_F(Fingerprints, ZeroLengthFile) {
  writeFile(path("empty"), "");
  EXPECT_EQ(getCRC32Value(path("empty"), &events_).text(), "00000000");
  EXPECT_EQ(getFileSizeValue(path("empty"), &events_).text(), "0");
  EXPECT_EQ(getSizeCRC32Value(path("empty"), &events_).text(), "0");
  EXPECT_EQ(events_.seen, (Seen{"start " + path("empty"), "size 0", "end 0"}));
}

TEST_F(Fingerprints, WholeFileCrcAcrossPieceBoundaries) {
  // One byte past two 20 MiB pieces, and exactly one piece (which never reaches end of file
  // on its last read and so needs a second, empty one).
  for (size_t size : {size_t{2} * 0x1400000 + 1, size_t{0x1400000}, size_t{12345}}) {
    std::string bytes = patternBytes(size, static_cast<uint32_t>(size));
    writeFile(path("f"), bytes);
    RecordedEvents events;
    EXPECT_EQ(getCRC32Value(path("f"), &events).text(),
              hex8(zlibCrc(0, bytes.data(), bytes.size())))
        << size;
    EXPECT_EQ(events.seen, (Seen{"start " + path("f"), "size " + std::to_string(size),
                                 "end " + std::to_string(size)}));
  }
}

TEST_F(Fingerprints, CrcBelow0x10000000KeepsItsLeadingZero) {
  // Search for content whose CRC starts with a zero digit (one in 16 does).
  std::string bytes;
  uint32_t crc = 0;
  for (uint32_t i = 0;; ++i) {
    bytes = "content " + std::to_string(i);
    crc = zlibCrc(0, bytes.data(), bytes.size());
    if (crc < 0x10000000) break;
  }
  writeFile(path("low"), bytes);
  std::string text = getCRC32Value(path("low")).text();
  EXPECT_EQ(text, hex8(crc));
  EXPECT_EQ(text.size(), 8u);
  EXPECT_EQ(text[0], '0');
  EXPECT_EQ(getBufferCRC32Value(bytes.data(), bytes.size()), text);
}

TEST_F(Fingerprints, BufferCrc) {
  EXPECT_EQ(getBufferCRC32Value("abc", 3), "352441c2");
  EXPECT_EQ(getBufferCRC32Value("", 0), "00000000");
  EXPECT_EQ(getBufferCRC32Value(nullptr, 5), "00000000");
  EXPECT_EQ(crcText(0x8879f69), "08879f69");
  EXPECT_EQ(crcText(0), "00000000");
  EXPECT_EQ(crcText(0xffffffff), "ffffffff");
}

TEST_F(Fingerprints, SampledCrcFromThreeWindowsFrom3MiBOn) {
  constexpr size_t kMiB = 1 << 20;
  struct Case {
    size_t size;
    bool sampled;
  } cases[] = {{3 * kMiB - 1, false}, {3 * kMiB, true}, {5 * kMiB + 3, true}, {1000, false}};
  for (const Case& c : cases) {
    std::string bytes = patternBytes(c.size, 7);
    writeFile(path("pack"), bytes);
    std::string expected = std::to_string(c.size);
    if (c.sampled) {
      uint32_t crc = 0;
      for (size_t window : {size_t{0}, c.size / 2, c.size - kMiB})
        crc = zlibCrc(crc, bytes.data() + window, kMiB);
      expected += hex8(crc);
    }
    EXPECT_EQ(getSizeCRC32Value(path("pack"), &events_).text(), expected) << c.size;
    EXPECT_EQ(getFileSizeValue(path("pack"), &events_).text(), std::to_string(c.size));
  }
  EXPECT_EQ(events_.seen, Seen{}) << "sampling and sizes report nothing when all goes well";
}

TEST_F(Fingerprints, MissingFileAfterTwoAttempts) {
  const std::string missing = path("gone.kx");
  const Seen twoAttempts = {"open " + missing + " missing 1", "open " + missing + " missing 2"};
  const FingerprintResult crc = getCRC32Value(missing, &events_);
  EXPECT_EQ(crc.text(), "FileNotExist");
  EXPECT_EQ(crc.error().reason, FingerprintFailure::CannotOpen);
  EXPECT_NE(crc.error().systemCode, 0u);
  EXPECT_EQ(events_.seen, (Seen{"start " + missing, twoAttempts[0], twoAttempts[1]}));
  events_.seen.clear();
  EXPECT_EQ(getSizeCRC32Value(missing, &events_).text(), "FileNotExist");
  EXPECT_EQ(events_.seen, twoAttempts);
}

TEST_F(Fingerprints, WholeFileCrcStopsAfter50Pieces) {
  // Sparse, so only the marks take room: one straddles the 1,048,576,000-byte cut-off, one
  // lies well inside. Only the bytes before the cut-off count.
  const uint64_t limit = 1048576000;
  const std::string inside = "inside mark";
  const std::string straddling = "0123456789abcdef";
  const uint64_t insideAt = 123456789, straddleAt = limit - 6;
  makeSparseFile(path("huge"), limit + 4096, {{insideAt, inside}, {straddleAt, straddling}});

  uint32_t crc = zlibCrcOfZeros(0, insideAt);
  crc = zlibCrc(crc, inside.data(), inside.size());
  crc = zlibCrcOfZeros(crc, straddleAt - insideAt - inside.size());
  crc = zlibCrc(crc, straddling.data(), 6);

  EXPECT_EQ(getCRC32Value(path("huge"), &events_).text(), hex8(crc));
  EXPECT_EQ(events_.seen, (Seen{"start " + path("huge"), "size 1048580096",
                                "no end " + path("huge"), "end 1048576000"}));

  // The uncapped CRC reads on to the end: the rest of the straddling mark and the zeros after.
  crc = zlibCrc(crc, straddling.data() + 6, straddling.size() - 6);
  crc = zlibCrcOfZeros(crc, 4096 - (straddling.size() - 6));
  const auto whole = getWholeFileCrc(path("huge"));
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole.value().size, int64_t{1048580096});
  EXPECT_EQ(hex8(whole.value().crc), hex8(crc));
}

TEST_F(Fingerprints, FilesOf2GiBOrMoreAreRefused) {
  makeSparseFile(path("2g"), uint64_t{1} << 31);
  EXPECT_EQ(getCRC32Value(path("2g")).text(), kFileTooLarge);
  EXPECT_EQ(getFileSizeValue(path("2g")).text(), kFileTooLarge);
  const FingerprintResult sampled = getSizeCRC32Value(path("2g"), &events_);
  EXPECT_EQ(sampled.text(), kFileTooLarge);
  EXPECT_EQ(sampled.error().fileSize, int64_t{1} << 31);
  EXPECT_EQ(events_.seen, Seen{"too large " + path("2g") + " 2147483648"});

  // One byte less is still measured, and sampled.
  const uint64_t largest = (uint64_t{1} << 31) - 1;
  makeSparseFile(path("2g-1"), largest, {{largest - 1, "z"}});
  EXPECT_EQ(getFileSizeValue(path("2g-1")).text(), "2147483647");
  uint32_t crc = zlibCrcOfZeros(0, 2 << 20);
  crc = zlibCrcOfZeros(crc, (1 << 20) - 1);
  crc = zlibCrc(crc, "z", 1);
  EXPECT_EQ(getSizeCRC32Value(path("2g-1")).text(), "2147483647" + hex8(crc));
}

#ifndef _WIN32
TEST_F(Fingerprints, UnreadableFileFailsAfterTenAttempts) {
  // A folder opens for reading on POSIX but every read of it fails.
  std::filesystem::create_directory(path("folder"));
  const FingerprintResult result = getCRC32Value(path("folder"), &events_);
  EXPECT_EQ(result.text(), kReadDataFailed);
  EXPECT_EQ(result.error().reason, FingerprintFailure::ReadFailed);
  EXPECT_EQ(result.error().offset, 0);
  EXPECT_NE(result.error().systemCode, 0u);
  const Seen& seen = events_.seen;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "read error " + path("folder")), 10);
  EXPECT_EQ(seen.back(), "read failed " + path("folder") + " 0");
}
#endif

}  // namespace
