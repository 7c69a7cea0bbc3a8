// POSIX side of the platform layer (Linux): the analogues of the Windows services that the
// installer was written against.
#include "platform/platform.h"
#include "platform/bounded_read.h"
#include "platform/payload_table.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <clocale>
#include <pwd.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

std::string runtimeFolder() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  return (dir && *dir) ? dir : "/tmp";
}

bool isUtf8Locale() {
  static const bool utf8 = [] {
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    return codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
  }();
  return utf8;
}

// GBK to UTF-8 for a terminal that expects UTF-8; a byte that does not convert goes out as '?'.
std::string gbkToTerminal(const std::string& gbk) {
  if (!isUtf8Locale()) return gbk;
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return gbk;
  std::string out;
  out.resize(gbk.size() * 2 + 16);
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* dst = &out[0];
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      size_t used = static_cast<size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = &out[used];
      outLeft = out.size() - used;
      continue;
    }
    // Invalid or truncated sequence: show one placeholder and skip the byte.
    if (outLeft == 0) continue;
    *dst++ = '?';
    --outLeft;
    ++in;
    --inLeft;
  }
  iconv_close(cd);
  out.resize(static_cast<size_t>(dst - out.data()));
  return out;
}

// kill() reads 0 and negative ids as process groups (-1: every process we may signal), so only
// ids of single processes may reach it.
bool isSingleProcessId(uint32_t pid) { return pid != 0 && pid <= 0x7FFFFFFFu; }

bool processExists(uint32_t pid) {
  return isSingleProcessId(pid) && ::kill(static_cast<pid_t>(pid), 0) == 0;
}

// A process that has ended but was not yet reaped by its parent is no longer running; a
// process list on Windows would not show it either.
bool isZombie(const char* pidText) {
  std::string statPath = std::string("/proc/") + pidText + "/stat";
  FILE* stat = std::fopen(statPath.c_str(), "rb");
  if (!stat) return false;
  char buffer[512] = {};
  size_t n = std::fread(buffer, 1, sizeof buffer - 1, stat);
  std::fclose(stat);
  // The state follows the command name in parentheses, which may itself hold ") ".
  std::string text(buffer, n);
  size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

bool fsyncFolderOf(const std::string& path) {
  std::string folder = ".";
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) folder = slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

// ---- Single instance -------------------------------------------------------------------

NamedMutex::NamedMutex(const std::string& name) {
  // The runtime folder may be /tmp, where anyone can plant a link or a pipe under this name: a
  // link is never followed (its target, anywhere, would be created) and only a regular file
  // serves as the lock.
  std::string path = runtimeFolder() + "/" + name + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    return;
  }
  handle_ = fd;
}

NamedMutex::~NamedMutex() {
  release();
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

namespace {

// Waits for an exclusive flock on `fd`; false on any failure but an interruption.
bool lockExclusive(int fd) {
  while (::flock(fd, LOCK_EX) != 0)
    if (errno != EINTR) return false;
  return true;
}

}  // namespace

bool NamedMutex::wait() {
  if (handle_ < 0) return false;
  owned_ = owned_ || lockExclusive(static_cast<int>(handle_));
  return owned_;
}

void NamedMutex::release() {
  if (handle_ >= 0 && owned_) ::flock(static_cast<int>(handle_), LOCK_UN);
  owned_ = false;
}

FolderLock::~FolderLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool FolderLock::lock(const std::string& folder, const std::string&) {
  if (handle_ >= 0) return true;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  if (!lockExclusive(fd)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

// ---- Processes -------------------------------------------------------------------------

#ifdef KXPATCH_PROCESS_SCOPE_OVERRIDE
namespace {

// Test hook: with $KXPATCH_TEST_PROCESS_SCOPE set, only processes started with the same
// setting count, so that the stand-in game of one test run is not taken for the game by the
// installer of another run on the same machine. The Windows installer has no such hook.
constexpr char kProcessScopeVariable[] = "KXPATCH_TEST_PROCESS_SCOPE";

// "NAME=value" as a process started in the caller's scope holds it; empty without a scope.
std::string processScopeEntry() {
  const char* value = std::getenv(kProcessScopeVariable);
  if (!value || !*value) return std::string();
  return std::string(kProcessScopeVariable) + "=" + value;
}

// Whether the environment process `pidText` was started with holds `entry` exactly.
bool startedInScope(const char* pidText, const std::string& entry) {
  const std::string environPath = std::string("/proc/") + pidText + "/environ";
  FILE* file = std::fopen(environPath.c_str(), "rb");
  if (!file) return false;  // another user's process, or gone: not of this run
  bool found = false;
  std::string current;
  char buffer[4096];
  size_t n = 0;
  while (!found && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    for (size_t i = 0; i < n && !found; ++i) {
      if (buffer[i] == '\0') {
        found = current == entry;
        current.clear();
      } else if (current.size() <= entry.size()) {  // a longer entry cannot match
        current += buffer[i];
      }
    }
  }
  std::fclose(file);
  return found || current == entry;
}

}  // namespace
#endif

uint32_t findProcessId(const std::string& name) {
  DIR* proc = ::opendir("/proc");
  if (!proc) return 0;
#ifdef KXPATCH_PROCESS_SCOPE_OVERRIDE
  const std::string scope = processScopeEntry();
  auto inScope = [&scope](const char* pidText) {
    return scope.empty() || startedInScope(pidText, scope);
  };
#else
  auto inScope = [](const char*) { return true; };
#endif
  uint32_t found = 0;
  while (dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    unsigned long pid = std::strtoul(entry->d_name, &end, 10);
    if (pid == 0 || *end != '\0') continue;
    std::string commPath = std::string("/proc/") + entry->d_name + "/comm";
    FILE* comm = std::fopen(commPath.c_str(), "rb");
    if (!comm) continue;
    char buffer[64] = {};
    size_t n = std::fread(buffer, 1, sizeof buffer - 1, comm);
    std::fclose(comm);
    std::string text(buffer, n);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (text == name && !isZombie(entry->d_name) && inScope(entry->d_name)) {
      found = static_cast<uint32_t>(pid);
      break;
    }
  }
  ::closedir(proc);
  return found;
}

bool canOpenProcessFully(uint32_t pid) { return processExists(pid); }

bool canOpenProcessForTermination(uint32_t pid) { return processExists(pid); }

Result<Done, SystemCode> terminateProcess(uint32_t pid) {
  if (!isSingleProcessId(pid)) return fail(SystemCode{ESRCH});
  if (::kill(static_cast<pid_t>(pid), SIGKILL) == 0) return Done{};
  return fail(static_cast<SystemCode>(errno));
}

void exitProcessNow(int code) {
  std::fflush(nullptr);
  ::_exit(code);
}

// ---- Embedded payload ------------------------------------------------------------------

Resource findResource(const char* type, int id) {
  size_t count = 0;
  const PayloadEntry* entries = kxpatch_payload_entries ? kxpatch_payload_entries(&count) : nullptr;
  for (size_t i = 0; entries && i < count; ++i) {
    if (entries[i].id == id && std::strcmp(entries[i].type, type) == 0)
      return Resource{entries[i].data, entries[i].size};
  }
  return Resource{};
}

// ---- User interface --------------------------------------------------------------------

// The console and the boxes are pipes when a launcher or a script runs the installer. A reader
// that has gone must not end the run between two stages (a Windows console write that fails is
// only lost): the writes then fail quietly.
namespace {
void ignoreGoneReaders() {
  static const bool ignored = ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)ignored;
}
}  // namespace

void messageBox(const std::string& text, const std::string& caption) {
  ignoreGoneReaders();
  std::fflush(stdout);
  std::string line = gbkToTerminal("[" + caption + "] " + text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  if (::isatty(STDIN_FILENO)) {
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
  }
}

bool sendLauncherMessage(uint32_t code, const std::string& bytes, unsigned waitMs) {
  std::string path = runtimeFolder() + "/MOXStartup";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  std::string datagram(4, '\0');
  for (int i = 0; i < 4; ++i) datagram[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  datagram += bytes;
  // Connected, the socket polls writable only while the launcher's queue has room, so a wait
  // ends as soon as the launcher takes something; a blocking send would wait for a launcher
  // that never reads as long as it never reads.
  bool sent = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const uint32_t start = tickMs();
    while (true) {
      if (::send(fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
        sent = true;
        break;
      }
      const uint32_t waited = tickMs() - start;
      if ((errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) || waited >= waitMs) break;
      pollfd writable{fd, POLLOUT, 0};
      ::poll(&writable, 1, static_cast<int>(waitMs - waited));
    }
  }
  ::close(fd);
  return sent;
}

void setConsoleTitle(const std::string& title) {
  if (!::isatty(STDOUT_FILENO)) return;
  std::string escape = "\033]0;" + gbkToTerminal(title) + "\007";
  std::fwrite(escape.data(), 1, escape.size(), stdout);
  std::fflush(stdout);
}

void disableConsoleClose(const std::string&) { ::signal(SIGHUP, SIG_IGN); }

void consoleWrite(const std::string& gbkBytes) {
  ignoreGoneReaders();
  std::string text = gbkToTerminal(gbkBytes);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// ---- Files and folders -----------------------------------------------------------------

namespace {

bool writesTo(const char* mode) { return std::strpbrk(mode, "wa+") != nullptr; }

// Closes `fd` and leaves `code` in errno, where the failure's reason is read.
void closeFailed(int fd, int code) {
  ::close(fd);
  errno = code;
}

// Clears O_NONBLOCK (set so that opening never waits on a pipe) and wraps the descriptor.
FILE* streamOf(int fd, const char* mode) {
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    closeFailed(fd, errno);
    return nullptr;
  }
  FILE* file = ::fdopen(fd, mode);
  if (!file) closeFailed(fd, errno);
  return file;
}

// The stream, or the failure with the code the failing call left in errno.
OpenedFile openedOrErrno(FILE* file) {
  if (!file) return fail(static_cast<SystemCode>(errno));
  return UniqueFile(file);
}

// A pipe, a socket or a device: opened to be read, it may wait for a writer for ever, never
// end, or act on the device.
bool isSpecial(const struct stat& st) { return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode); }

// A descriptor for reading `path` (links followed), or -1. A special file is looked at but never
// opened, and counts as absent; the descriptor is checked again, in case the name changed in
// between. (A folder opens as the C runtime's fopen would; every read of it fails.)
int openForReading(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  if (isSpecial(st)) {
    errno = ENOENT;
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || isSpecial(st)) {
    closeFailed(fd, ENOENT);
    return -1;
  }
  return fd;
}

// Opens for writing without following a link at `path` and without waiting on a pipe.
// Writing anew ('w') removes a link of either kind (a symbolic link, or one name of a file that
// has others, which truncating would empty as well) and makes a regular file of its own in its
// place. Appending ('a') and updating ('r+') go only to a regular file with one link: a log
// planted as a link of either kind would carry the lines to a file outside, so nothing is
// opened and nothing removed. Anything else that is not a regular file is refused.
FILE* openForWriting(const std::string& path, const char* mode, int extraFlags) {
  const bool anew = mode[0] == 'w';
  int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | extraFlags;
  flags |= std::strchr(mode, '+') ? O_RDWR : O_WRONLY;
  if (mode[0] != 'r') flags |= O_CREAT;
  if (mode[0] == 'a') flags |= O_APPEND;
  int fd = ::open(path.c_str(), flags, 0666);
  struct stat st {};
  if (fd < 0 && errno == ELOOP && anew && ::lstat(path.c_str(), &st) == 0 &&
      S_ISLNK(st.st_mode) && ::unlink(path.c_str()) == 0)
    fd = ::open(path.c_str(), flags | O_EXCL, 0666);
  if (fd < 0) return nullptr;
  bool usable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (usable && st.st_nlink > 1 && anew) {
    ::close(fd);
    if (::unlink(path.c_str()) != 0) return nullptr;
    fd = ::open(path.c_str(), flags | O_EXCL, 0666);
    if (fd < 0) return nullptr;
    usable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  }
  if (!usable || st.st_nlink != 1) {
    closeFailed(fd, EACCES);
    return nullptr;
  }
  // Truncated only now that it is known to be this name's file alone.
  if (anew && ::ftruncate(fd, 0) != 0) {
    closeFailed(fd, errno);
    return nullptr;
  }
  return streamOf(fd, mode);
}

}  // namespace

OpenedFile openFile(const std::string& path, const char* mode) {
  if (writesTo(mode)) return openedOrErrno(openForWriting(path, mode, 0));
  const int fd = openForReading(path);
  return openedOrErrno(fd < 0 ? nullptr : streamOf(fd, mode));
}

OpenedFile openFileNarrow(const std::string& path, const char* mode) {
  return openFile(path, mode);
}

OpenedFile createFileExclusive(const std::string& path) {
  ::unlink(path.c_str());
  return openedOrErrno(openForWriting(path, "wb+", O_EXCL));
}

bool folderLinkBelow(const std::string& base, const std::string& path) {
  if (path.compare(0, base.size(), base) != 0) return true;
  for (size_t at = path.find('/', base.size() + 1); at != std::string::npos;
       at = path.find('/', at + 1)) {
    struct stat st {};
    if (::lstat(path.substr(0, at).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return true;
  }
  return false;
}

bool readRegularFile(const std::string& path, size_t limit, std::string* content,
                     PastLimit past) {
  content->clear();
  const int fd = openForReading(path);
  if (fd < 0) return false;
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                       (past == PastLimit::Cut || static_cast<uint64_t>(st.st_size) <= limit);
  const bool ok = regular && readBounded(
                                 [fd](char* buffer, size_t capacity) -> long {
                                   ssize_t n;
                                   while ((n = ::read(fd, buffer, capacity)) < 0 && errno == EINTR) {
                                   }
                                   return static_cast<long>(n);
                                 },
                                 limit, past, content);
  ::close(fd);
  return ok;
}

size_t pathLength(const std::string& path) { return path.size(); }

namespace {

// What lstat found is a regular file with one name.
bool ownFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

}  // namespace

bool isFileOfItsOwn(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && ownFile(st);
}

bool setFileAttributesNormal(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !ownFile(st)) return false;
  if (st.st_mode & S_IWUSR) return true;
  return ::chmod(path.c_str(), st.st_mode | S_IWUSR) == 0;
}

bool pathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !isSpecial(st);
}

namespace {

// The failure of the call that just set errno.
Failure<SystemCode> failedWithErrno() { return fail(static_cast<SystemCode>(errno)); }

}  // namespace

Result<Done, SystemCode> makeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return Done{};
  if (errno != EEXIST) return failedWithErrno();
  // mkdir never follows a link at `path`; one that is there is no folder of ours either.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Done{};
  return fail(SystemCode{EEXIST});
}

bool deleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool linkFile(const std::string& existing, const std::string& link) {
  return ::link(existing.c_str(), link.c_str()) == 0;
}

Result<Done, SystemCode> renameFile(const std::string& from, const std::string& to) {
  // rename() would silently replace `to`; the Windows side refuses, and so must this one.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return Done{};
  if (errno != EINVAL && errno != ENOSYS) return failedWithErrno();
  // A file system without the no-replace flag: check first (not atomic, but never replaces
  // knowingly).
  if (::access(to.c_str(), F_OK) == 0) return fail(SystemCode{EEXIST});
  if (::rename(from.c_str(), to.c_str()) != 0) return failedWithErrno();
  return Done{};
}

Result<Done, SystemCode> replaceFile(const std::string& from, const std::string& to) {
  int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failedWithErrno();
  if (::fsync(fd) != 0) {
    closeFailed(fd, errno);
    return failedWithErrno();
  }
  ::close(fd);
  return replaceWithFlushedFile(from, to);
}

Result<Done, SystemCode> replaceWithFlushedFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return failedWithErrno();
  fsyncFolderOf(to);
  return Done{};
}

Result<Done, SystemCode> flushToDisk(FILE* file) {
  if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0) return failedWithErrno();
  return Done{};
}

void startWriteBack(FILE* file) {
  if (std::fflush(file) != 0) return;
  // Offset 0 and length 0: the whole file. Pages already being written are skipped, so each
  // call only starts what was added since the last.
  (void)::sync_file_range(::fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
}

std::string currentDirectory() {
  char buffer[4096];
  if (!::getcwd(buffer, sizeof buffer)) return std::string();
  return buffer;
}

std::string appDataFolder(bool create) {
  std::string folder;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home ? home : "") + "/.config";
  }
  if (create) ::mkdir(folder.c_str(), 0755);
  return folder;
}

std::string tempFolder() {
  const char* dir = std::getenv("TMPDIR");
  std::string folder = (dir && *dir) ? dir : "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

int64_t fileSize(FILE* file) {
  struct stat st {};
  if (::fstat(::fileno(file), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

Result<size_t, SystemCode> readAt(FILE* file, int64_t offset, void* buffer, size_t length) {
  const int fd = ::fileno(file);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, length - done,
                              static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(static_cast<SystemCode>(errno));
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// ---- Time ------------------------------------------------------------------------------

SystemTime utcNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts{};
  ::gmtime_r(&now.tv_sec, &parts);
  SystemTime t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.dayOfWeek = parts.tm_wday;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
  return t;
}

void sleepMs(unsigned milliseconds) {
  timespec span{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&span, &span) != 0 && errno == EINTR) {
  }
}

uint32_t tickMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec * 1000ULL + now.tv_nsec / 1000000);
}

// ---- Identity --------------------------------------------------------------------------

std::string computerName() {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
  return buffer;
}

std::string userName() {
  passwd* entry = ::getpwuid(::getuid());
  return entry && entry->pw_name ? entry->pw_name : std::string();
}

uint32_t lastErrorCode() { return static_cast<uint32_t>(errno); }

}  // namespace platform
