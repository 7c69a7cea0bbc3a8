#include "report/log.h"

#include <cstdarg>
#include <cstring>

#include "platform/platform.h"

namespace {

using platform::kMaxPathChars;
constexpr size_t kMaxPreferencesFileBytes = 8 << 20;
constexpr size_t kMaxAccountNameBytes = 512;
constexpr size_t kPackLogLineBytes = 100;

void writeLine(FILE* file, const std::string& text) {
  if (!text.empty()) std::fwrite(text.data(), text.size(), 1, file);
  std::fputc('\n', file);
}

}  // namespace

void writeLog(const std::string& text) {
  const platform::OpenedFile file = platform::openFileNarrow("updater.log", "ab+");
  if (file) writeLine(file.value().get(), text);
}

void appendLogLine(const std::string& path, const std::string& text) {
  FILE* file = openFileChecked(path, "ab+");
  if (!file) return;
  writeLine(file, text);
  std::fclose(file);
}

void packLog(const char* format, ...) {
  const platform::OpenedFile opened = platform::openFileNarrow("pack.log", "a+");
  if (!opened) return;
  FILE* file = opened.value().get();
  char line[kPackLogLineBytes];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  size_t length = n < 0 ? 0 : std::strlen(line);
  std::fwrite(line, 1, length, file);
  // Text mode turns LF into CR LF on Windows; write the pair ourselves elsewhere so the file
  // reads the same on every platform.
#ifdef _WIN32
  std::fputs("\n", file);
#else
  std::fputs("\r\n", file);
#endif
}

FILE* openFileChecked(const std::string& path, const char* mode, bool* notOpened) {
  platform::setFileAttributesNormal(path);
  // A longer path is beyond what the installer supports. Cut short it would name another file,
  // which "ab+" and "wb+" would then create, so it is not opened at all.
  if (platform::pathLength(path) <= kMaxPathChars) {
    platform::OpenedFile opened = platform::openFile(path, mode);
    if (opened) return opened.value().release();
  }
  if (notOpened) *notOpened = true;
  if (!platform::pathExists(path))
    writeLog(path + " does not exist!");
  else
    writeLog(path + " file exist but can not open!");
  return nullptr;
}

std::string preferencesPath() {
  const std::string sep = platform::kPathSeparatorText;
  return platform::appDataFolder(true) + sep + "Brightfall" + sep + "Halvoreen" + sep +
         "preferences.xml";
}

std::string getAccountName() {
  // A longer path cut short would name another file; that file is as good as missing. So is
  // anything but a regular file of a few MiB: a device or a pipe would never end.
  const std::string path = preferencesPath();
  if (platform::pathLength(path) > kMaxPathChars) return std::string();
  std::string content;
  if (!platform::readRegularFile(path, kMaxPreferencesFileBytes, &content)) return std::string();
  static const std::string open = "<accountName>";
  static const std::string close = "</accountName>";
  size_t start = content.find(open);
  if (start == std::string::npos) return std::string();
  size_t end = content.find(close, start);
  if (end == std::string::npos) return std::string();
  size_t stop = end + close.size();
  if (stop < content.size()) ++stop;
  // The name goes into every failure line of the run log and with it to the log server: one
  // longer than any account name is not one.
  if (stop - start > kMaxAccountNameBytes) return std::string();
  return content.substr(start, stop - start);
}
