#include "app/fingerprint_log.h"

#include "app/run_texts.h"
#include "report/log.h"

void FingerprintLog::crcStarted(const std::string& path) { writeLog(crcStartedWorkLog(path)); }

// Two lines per failed open: the open's own, then the retry's look at the path.
void FingerprintLog::openFailed(const std::string& path, bool exists, int attempt) {
  writeLog(openFailedWorkLog(path, exists));
  writeLog(accessWorkLog(path, exists, attempt));
}

void FingerprintLog::crcFileSize(int64_t size) { writeLog(fileSizeWorkLog(size)); }

void FingerprintLog::tooLarge(const std::string& path, int64_t size) {
  writeLog(tooLargeWorkLog(path, size));
}

void FingerprintLog::noMemory() { writeLog(kNoMemoryWorkLog); }

void FingerprintLog::readError(const std::string& path, uint32_t systemCode) {
  writeLog(readErrorWorkLog(path, systemCode));
}

void FingerprintLog::readFailed(const std::string& path, int64_t offset) {
  writeLog(readFailedWorkLog(path, offset));
}

void FingerprintLog::fileEndNotReached(const std::string& path) {
  writeLog(fileEndNotReachedWorkLog(path));
}

void FingerprintLog::crcFinished(int64_t bytesRead) { writeLog(crcFinishedWorkLog(bytesRead)); }

void FingerprintLog::sampleSeekFailed(int64_t) { writeLog(kSampleSeekFailedWorkLog); }

void FingerprintLog::sampleReadFailed(int64_t) { writeLog(kSampleReadFailedWorkLog); }
