// The update run's reading of the fingerprint events: the lines it has always written to the
// working-directory log (writeLog) while fingerprinting a file.
#pragma once

#include "integrity/fingerprint.h"

class FingerprintLog : public FingerprintEvents {
 public:
  void crcStarted(const std::string& path) override;
  void openFailed(const std::string& path, bool exists, int attempt) override;
  void crcFileSize(int64_t size) override;
  void tooLarge(const std::string& path, int64_t size) override;
  void noMemory() override;
  void readError(const std::string& path, uint32_t systemCode) override;
  void readFailed(const std::string& path, int64_t offset) override;
  void fileEndNotReached(const std::string& path) override;
  void crcFinished(int64_t bytesRead) override;
  void sampleSeekFailed(int64_t offset) override;
  void sampleReadFailed(int64_t offset) override;
};
