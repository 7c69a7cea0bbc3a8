// A whole-file CRC over a file whose reads fail at one place, the way a bad sector fails them:
// a failure that passes is read again and leaves the right CRC, a lasting one names the piece
// it is in. The file is long enough for both readers of a piece to share its chunks, and the
// failing byte lies in a chunk of the second piece or in the file's last, partial chunk.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

using testing_support::runProcess;
using testing_support::TempDir;

namespace {

constexpr long long kPiece = 20ll << 20;
constexpr long long kChunk = 512ll << 10;

struct ReadFault {
  const char* name;
  long long badByte;
  const char* times;  // empty: every read of it fails
  int exitCode;
  const char* errorFrom;  // the start of kxtool's error line; empty: none
};

TEST(ReadFaults, WholeFileCrcRetriesAPieceAndNamesOneThatStaysUnreadable) {
  TempDir dir;
  const std::string file = dir.path() + "/pack.kx";
  std::string bytes(static_cast<size_t>(2 * kPiece + 3 * kChunk + 100), '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  testing_support::writeFile(file, bytes);
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08lx",
                ::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                        static_cast<uInt>(bytes.size())));
  const long long size = static_cast<long long>(bytes.size());

  const ReadFault faults[] = {
      {"passing, second piece", kPiece + 7 * kChunk + 1, "1", 0, ""},
      {"passing nine times, second piece", kPiece + 7 * kChunk + 1, "9", 0, ""},
      {"lasting, second piece", kPiece + 7 * kChunk + 1, "", 1,
       "kxtool fingerprint: read error in pack.kx at offset 20971520 (system error 5)"},
      {"lasting, last partial chunk", size - 10, "", 1,
       "kxtool fingerprint: read error in pack.kx at offset 41943040 (system error 5)"},
  };
  for (const ReadFault& fault : faults) {
    // A sanitized kxtool wants its runtime first; the preloaded library only passes calls on.
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string asan =
        std::string(options && *options ? std::string(options) + ":" : "") +
        "verify_asan_link_order=0";
    const auto result = runProcess({KXPATCH_KXTOOL, "fingerprint", "--crc", "pack.kx"}, dir.path(),
                                   {{"LD_PRELOAD", KXPATCH_FAULT_SHIM},
                                    {"ASAN_OPTIONS", asan},
                                    {"KXPATCH_FAULT_READ", file},
                                    {"KXPATCH_FAULT_READ_AT", std::to_string(fault.badByte)},
                                    {"KXPATCH_FAULT_READ_TIMES", fault.times}});
    EXPECT_EQ(result.exitCode, fault.exitCode) << fault.name << "\n" << result.err;
    if (fault.exitCode == 0) {
      EXPECT_EQ(result.out, std::string(crc) + "  pack.kx\n") << fault.name;
    } else {
      EXPECT_EQ(result.out, "") << fault.name;
      EXPECT_EQ(result.err.rfind(fault.errorFrom, 0), 0u) << fault.name << "\n" << result.err;
    }
  }
}

}  // namespace
