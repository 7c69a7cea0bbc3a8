#include "report/upload.h"

#include "report/run_state.h"

namespace {

constexpr const char* kAgent = "mox_mini";
constexpr const char* kTopFolder = "mox_updater";
constexpr int kHoursAheadOfUtc = 8;

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && isLeapYear(year)) return 29;
  return month >= 1 && month <= 12 ? kDays[month - 1] : 31;
}

}  // namespace

std::string getLogTimeName(const platform::SystemTime& utc) {
  int year = utc.year, month = utc.month, day = utc.day;
  int hour = utc.hour + kHoursAheadOfUtc;
  if (hour >= 24) {
    hour -= 24;
    if (++day > daysInMonth(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
  return std::to_string(year) + "_" + std::to_string(month) + "_" + std::to_string(day) + "_" +
         std::to_string(hour) + "_" + std::to_string(utc.minute);
}

std::string getLogTimeName() { return getLogTimeName(platform::utcNow()); }

std::string uploadFolderName(UploadFolderKind folderKind) {
  return std::string(folderKind == UploadFolderKind::kSecondGroup ? "updaterLog2_"
                                                                   : "updaterLog_") +
         newVersion;
}

std::string uploadFileName(const std::string& computerName) {
  return computerName + "_" + getLogTimeName() + ".log";
}

bool uploadLog(const platform::FtpAccount& server, const std::string& folderName,
               const std::string& localPath, const std::string& remoteFileName) {
  // The run appends only to a log of its own; a link or a second name planted at the log's
  // place leads to some other file, which is neither sent nor given up.
  if (!platform::isFileOfItsOwn(localPath)) return false;
  bool accepted =
      platform::ftpPutFile(server, kAgent, {kTopFolder, folderName}, localPath, remoteFileName);
  if (accepted) platform::deleteFile(localPath);
  return accepted;
}

bool uploadLog(const std::string& folderName, const std::string& localPath,
               const std::string& remoteFileName) {
  return uploadLog(platform::defaultFtpAccount(), folderName, localPath, remoteFileName);
}
