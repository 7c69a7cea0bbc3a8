// The run log's lines for each fingerprint event, byte for byte as the run has always written
// them; the order of the events is pinned by tests/integrity/fingerprint_test.cpp.
#include "app/fingerprint_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "tests/support/test_support.h"

namespace {

using testing_support::readFile;

TEST(FingerprintLog, WritesEachEventAsTheRunAlwaysHas) {
  testing_support::TempDir dir;
  testing_support::ScopedCwd cwd(dir.path());
  const std::string p = "D:\\game\\CN_packed.kx";
  struct Case {
    std::function<void(FingerprintLog&)> event;
    std::string lines;
  };
  const Case cases[] = {
      {[&](FingerprintLog& log) { log.crcStarted(p); }, "CRC check..." + p + "\n"},
      {[&](FingerprintLog& log) { log.openFailed(p, false, 1); },
       p + " does not exist!\n" + p + "不存在:_access(fileName.c_str())\n"},
      {[&](FingerprintLog& log) { log.openFailed(p, true, 1); },
       p + " file exist but can not open!\n" + p + "存在  :_access(fileName.c_str())\n"},
      {[&](FingerprintLog& log) { log.openFailed(p, false, 2); },
       p + " does not exist!\n" + p + "不存在 end :_access(fileName.c_str())\n"},
      {[&](FingerprintLog& log) { log.openFailed(p, true, 2); },
       p + " file exist but can not open!\n" + p + "存在   end :_access(fileName.c_str())\n"},
      {[&](FingerprintLog& log) { log.crcFileSize(1048580096); }, "file size:1048580096\n"},
      {[&](FingerprintLog& log) { log.tooLarge(p, 2147483648); },
       p + " file too large, size:2147483648\n"},
      {[&](FingerprintLog& log) { log.noMemory(); }, "new mem failed\n"},
      {[&](FingerprintLog& log) { log.readError(p, 5); }, p + " read data error...5\n"},
      {[&](FingerprintLog& log) { log.readFailed(p, 41943040); },
       p + " read data failed!\n" + p + " error pos at:41943040\n"},
      {[&](FingerprintLog& log) { log.fileEndNotReached(p); },
       p + " did not read file end, and read times > 50\n"},
      {[&](FingerprintLog& log) { log.crcFinished(1048576000); },
       "end pos at:1048576000\nread total size:1048576000\n"},
      {[&](FingerprintLog& log) { log.sampleSeekFailed(0); }, "fseek failed\n"},
      {[&](FingerprintLog& log) { log.sampleReadFailed(1572864); }, "fread failed\n"},
      {[&](FingerprintLog& log) { log.progress(1, 2); }, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir / "updater.log");
    FingerprintLog log;
    c.event(log);
    EXPECT_EQ(readFile(dir / "updater.log"), c.lines) << c.lines;
  }
}

}  // namespace
