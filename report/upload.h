// Upload of the run log to the log server after a failed pack update: one silent attempt; the
// local log is deleted only when the server accepted it, so a failed upload leaves it to be
// carried by the next run's upload.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ftp.h"
#include "platform/platform.h"

// The current time moved to UTC+8 as "year_month_day_hour_minute", plain decimals without
// leading zeros, no seconds: 2014-10-23 17:05 UTC gives "2014_10_24_1_5".
[[nodiscard]] std::string getLogTimeName();
// The same for a given UTC time (fields as utcNow() fills them; seconds are ignored).
[[nodiscard]] std::string getLogTimeName(const platform::SystemTime& utc);

// Which folder of the log server a run log goes to. The values are the system's own.
enum class UploadFolderKind : int32_t {
  kFirstGroup = 0,
  // A second-group pack failed its check after it was rewritten.
  kSecondGroup = 2,
};

// The remote folder inside "mox_updater": "updaterLog_" + newVersion, or "updaterLog2_" +
// newVersion for the second group's.
[[nodiscard]] std::string uploadFolderName(UploadFolderKind folderKind);
// The remote file name: computer name + "_" + getLogTimeName() + ".log".
[[nodiscard]] std::string uploadFileName(const std::string& computerName);

// Uploads `localPath` as "mox_updater" / `folderName` / `remoteFileName` (folders created when
// missing) with agent "mox_mini", active mode, binary, to the build's log server, given up
// after the server's deadline (about a minute); deletes `localPath` when the server accepted
// the file within it. Only a regular file of its own is sent: a link or a file with other names
// at `localPath` fails the upload and is left as it is. Nothing is shown or logged. The result
// says whether the upload happened; the run does not depend on it.
bool uploadLog(const std::string& folderName, const std::string& localPath,
               const std::string& remoteFileName);
// The same against another server (tests use one on 127.0.0.1).
bool uploadLog(const platform::FtpAccount& server, const std::string& folderName,
               const std::string& localPath, const std::string& remoteFileName);
