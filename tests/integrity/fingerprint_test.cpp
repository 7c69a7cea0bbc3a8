#include "integrity/fingerprint.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using testing_support::readFile;
using testing_support::ScopedCwd;
using testing_support::TempDir;
using testing_support::writeFile;

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

class Fingerprints : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_ / name; }
  std::string workingLog() const { return readFile(dir_ / "updater.log"); }

  TempDir dir_;
  ScopedCwd cwd_{dir_.path()};
};

TEST_F(Fingerprints, ZeroLengthFile) {
  writeFile(path("empty"), "");
  EXPECT_EQ(getCRC32Value(path("empty")), "00000000");
  EXPECT_EQ(getFileSizeValue(path("empty")), "0");
  EXPECT_EQ(getSizeCRC32Value(path("empty")), "0");
  EXPECT_EQ(workingLog(), "CRC check..." + path("empty") +
                              "\nfile size:0\nend pos at:0\nread total size:0\n");
}

TEST_F(Fingerprints, WholeFileCrcAcrossPieceBoundaries) {
  // One byte past two 20 MiB pieces, and exactly one piece (which never reaches end of file
  // on its last read and so needs a second, empty one).
  for (size_t size : {size_t{2} * 0x1400000 + 1, size_t{0x1400000}, size_t{12345}}) {
    std::string bytes = patternBytes(size, static_cast<uint32_t>(size));
    writeFile(path("f"), bytes);
    EXPECT_EQ(getCRC32Value(path("f")), hex8(zlibCrc(0, bytes.data(), bytes.size()))) << size;
    std::string tail = "end pos at:" + std::to_string(size) + "\nread total size:" +
                       std::to_string(size) + "\n";
    std::string log = workingLog();
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << size;
  }
  EXPECT_EQ(workingLog().find("did not read file end"), std::string::npos);
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
  std::string text = getCRC32Value(path("low"));
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
    EXPECT_EQ(getSizeCRC32Value(path("pack")), expected) << c.size;
    EXPECT_EQ(getFileSizeValue(path("pack")), std::to_string(c.size));
  }
  EXPECT_EQ(workingLog(), "") << "sampling and sizes log nothing when all goes well";
}

TEST_F(Fingerprints, MissingFileAfterTwoAttempts) {
  const std::string missing = path("gone.kx");
  const std::string fourLines = missing + " does not exist!\n" + missing +
                                "不存在:_access(fileName.c_str())\n" + missing +
                                " does not exist!\n" + missing +
                                "不存在 end :_access(fileName.c_str())\n";
  EXPECT_EQ(getCRC32Value(missing), "FileNotExist");
  EXPECT_EQ(workingLog(), "CRC check..." + missing + "\n" + fourLines);
  std::filesystem::remove(path("updater.log"));
  EXPECT_EQ(getSizeCRC32Value(missing), "FileNotExist");
  EXPECT_EQ(workingLog(), fourLines);
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

  EXPECT_EQ(getCRC32Value(path("huge")), hex8(crc));
  EXPECT_EQ(workingLog(), "CRC check..." + path("huge") + "\nfile size:1048580096\n" +
                              path("huge") + " did not read file end, and read times > 50\n" +
                              "end pos at:1048576000\nread total size:1048576000\n");
}

TEST_F(Fingerprints, FilesOf2GiBOrMoreAreRefused) {
  makeSparseFile(path("2g"), uint64_t{1} << 31);
  EXPECT_EQ(getCRC32Value(path("2g")), kFileTooLarge);
  EXPECT_EQ(getFileSizeValue(path("2g")), kFileTooLarge);
  EXPECT_EQ(getSizeCRC32Value(path("2g")), kFileTooLarge);
  EXPECT_NE(workingLog().find(path("2g") + " file too large, size:2147483648\n"),
            std::string::npos);

  // One byte less is still measured, and sampled.
  const uint64_t largest = (uint64_t{1} << 31) - 1;
  makeSparseFile(path("2g-1"), largest, {{largest - 1, "z"}});
  EXPECT_EQ(getFileSizeValue(path("2g-1")), "2147483647");
  uint32_t crc = zlibCrcOfZeros(0, 2 << 20);
  crc = zlibCrcOfZeros(crc, (1 << 20) - 1);
  crc = zlibCrc(crc, "z", 1);
  EXPECT_EQ(getSizeCRC32Value(path("2g-1")), "2147483647" + hex8(crc));
}

#ifndef _WIN32
TEST_F(Fingerprints, UnreadableFileFailsAfterTenAttempts) {
  // A folder opens for reading on POSIX but every read of it fails.
  std::filesystem::create_directory(path("folder"));
  EXPECT_EQ(getCRC32Value(path("folder")), kReadDataFailed);
  std::string log = workingLog();
  size_t errors = 0;
  for (size_t at = log.find(" read data error..."); at != std::string::npos;
       at = log.find(" read data error...", at + 1))
    ++errors;
  EXPECT_EQ(errors, 10u);
  EXPECT_NE(log.find(path("folder") + " read data failed!\n" + path("folder") +
                     " error pos at:0\n"),
            std::string::npos);
}
#endif

}  // namespace
