#include "app/fingerprint_log.h"

#include "report/log.h"

namespace {

std::string decimal(int64_t value) { return std::to_string(value); }

}  // namespace

void FingerprintLog::crcStarted(const std::string& path) { writeLog("CRC check..." + path); }

// Two lines per failed open: the open's own, then the retry's look at the path (the "_access"
// text names the call the log's readers know it by).
void FingerprintLog::openFailed(const std::string& path, bool exists, int attempt) {
  writeLog(path + (exists ? " file exist but can not open!" : " does not exist!"));
  if (attempt == 1)
    writeLog(path + (exists ? "存在  :_access(fileName.c_str())" : "不存在:_access(fileName.c_str())"));
  else
    writeLog(path + (exists ? "存在   end :_access(fileName.c_str())"
                            : "不存在 end :_access(fileName.c_str())"));
}

void FingerprintLog::crcFileSize(int64_t size) { writeLog("file size:" + decimal(size)); }

void FingerprintLog::tooLarge(const std::string& path, int64_t size) {
  writeLog(path + " file too large, size:" + decimal(size));
}

void FingerprintLog::noMemory() { writeLog("new mem failed"); }

void FingerprintLog::readError(const std::string& path, uint32_t systemCode) {
  writeLog(path + " read data error..." + std::to_string(systemCode));
}

void FingerprintLog::readFailed(const std::string& path, int64_t offset) {
  writeLog(path + " read data failed!\n" + path + " error pos at:" + decimal(offset));
}

void FingerprintLog::fileEndNotReached(const std::string& path) {
  writeLog(path + " did not read file end, and read times > 50");
}

// The log has always named the count twice, as the end position and as the total read.
void FingerprintLog::crcFinished(int64_t bytesRead) {
  writeLog("end pos at:" + decimal(bytesRead) + "\nread total size:" + decimal(bytesRead));
}

void FingerprintLog::sampleSeekFailed(int64_t) { writeLog("fseek failed"); }

void FingerprintLog::sampleReadFailed(int64_t) { writeLog("fread failed"); }
