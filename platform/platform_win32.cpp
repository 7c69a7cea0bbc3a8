// Win32 side of the platform layer: the services the installer was written against, called
// directly. Texts are ANSI (GBK) bytes; the wide forms are used only where the narrow calls
// cannot reach every path (opening files).
#include "platform/platform.h"
#include "platform/bounded_read.h"

#include <windows.h>
#include <mmsystem.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>

namespace platform {
namespace {

// The access mask the game check asks for: the pre-Vista PROCESS_ALL_ACCESS. Newer headers
// define a wider mask that older systems refuse, so the value is spelled out.
constexpr DWORD kProcessAllAccess = 0x1F0FFF;
// Launcher window title; only the title and the WM_COPYDATA layout are fixed.
constexpr const char* kLauncherTitle = "MOXStartup";
// The least a launcher message waits for the window to answer (see sendLauncherMessage).
constexpr UINT kLauncherMomentMs = 10;

HANDLE toHandle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// ANSI bytes to UTF-16 through the process's code page; empty on failure.
std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = static_cast<int>(text.size());
  int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], n);
  return wide;
}

// Runs `visit` over every process of a fresh snapshot until it returns true.
template <typename Visit>
void forEachProcess(Visit visit) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more;
       more = ::Process32Next(snapshot, &entry)) {
    if (visit(entry)) break;
  }
  ::CloseHandle(snapshot);
}

bool canOpenProcess(uint32_t pid, DWORD access) {
  if (pid == 0) return false;
  HANDLE process = ::OpenProcess(access, FALSE, pid);
  if (!process) return false;
  ::CloseHandle(process);
  return true;
}

}  // namespace

// ---- Single instance -------------------------------------------------------------------

NamedMutex::NamedMutex(const std::string& name) {
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
  handle_ = mutex ? reinterpret_cast<intptr_t>(mutex) : -1;
}

NamedMutex::~NamedMutex() {
  release();
  if (handle_ != -1) ::CloseHandle(toHandle(handle_));
}

bool NamedMutex::wait() {
  if (handle_ == -1) return false;
  if (owned_) return true;
  // An abandoned mutex (its owner died) is owned by us all the same.
  DWORD result = ::WaitForSingleObject(toHandle(handle_), INFINITE);
  owned_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  return owned_;
}

namespace {

// An existing file opened for reading without keeping anyone else from it.
HANDLE openSharedForReading(const std::string& path) {
  const std::wstring widePath = widen(path);
  if (widePath.empty()) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(widePath.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

FolderLock::~FolderLock() {
  if (handle_ != -1) ::CloseHandle(toHandle(handle_));
}

bool FolderLock::lock(const std::string&, const std::string& fileInside) {
  if (handle_ != -1) return true;
  // A folder cannot carry a byte-range lock, so a file the installation already has does. The
  // range lies far past its end: its bytes stay readable by everyone, the game included.
  HANDLE file = openSharedForReading(fileInside);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFF0u;
  at.OffsetHigh = 0x7FFFFFFFu;
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    ::CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

void NamedMutex::release() {
  if (handle_ != -1 && owned_) ::ReleaseMutex(toHandle(handle_));
  owned_ = false;
}

// ---- Processes -------------------------------------------------------------------------

uint32_t findProcessId(const std::string& name) {
  uint32_t found = 0;
  forEachProcess([&](const PROCESSENTRY32& entry) {
    if (std::strcmp(entry.szExeFile, name.c_str()) != 0) return false;
    found = entry.th32ProcessID;
    return true;
  });
  return found;
}

bool canOpenProcessFully(uint32_t pid) { return canOpenProcess(pid, kProcessAllAccess); }

bool canOpenProcessForTermination(uint32_t pid) { return canOpenProcess(pid, PROCESS_TERMINATE); }

Result<Done, SystemCode> terminateProcess(uint32_t pid) {
  HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  const bool ok = process && ::TerminateProcess(process, 0);
  // Taken before CloseHandle, which may set its own.
  const SystemCode code = ok ? 0 : ::GetLastError();
  if (process) ::CloseHandle(process);
  if (!ok) return fail(code);
  return Done{};
}

void exitProcessNow(int code) {
  std::fflush(nullptr);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
  ::ExitProcess(static_cast<UINT>(code));
}

// ---- Embedded payload ------------------------------------------------------------------

Resource findResource(const char* type, int id) {
  if (id <= 0 || id > 0xFFFF) return Resource{};
  HRSRC info = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
  if (!info) return Resource{};
  DWORD size = ::SizeofResource(nullptr, info);
  HGLOBAL loaded = ::LoadResource(nullptr, info);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes) return Resource{};
  return Resource{static_cast<const unsigned char*>(bytes), size};
}

// ---- User interface --------------------------------------------------------------------

void messageBox(const std::string& text, const std::string& caption) {
  std::fflush(stdout);
  ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

bool sendLauncherMessage(uint32_t code, const std::string& bytes, unsigned waitMs) {
  HWND launcher = ::FindWindowA(nullptr, kLauncherTitle);
  if (!launcher) return false;
  COPYDATASTRUCT data{};
  data.dwData = code;
  data.cbData = static_cast<DWORD>(bytes.size());
  data.lpData = const_cast<char*>(bytes.data());
  // A window that stopped handling messages would hold a plain SendMessage for ever. One the
  // system already counts as hung fails at once; any other gets waitMs, and at least a
  // moment, since even a live window in another process takes a little while to answer.
  DWORD_PTR reply = 0;
  return ::SendMessageTimeoutA(launcher, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                               SMTO_BLOCK | SMTO_ABORTIFHUNG,
                               waitMs > kLauncherMomentMs ? waitMs : kLauncherMomentMs,
                               &reply) != 0;
}

void setConsoleTitle(const std::string& title) { ::SetConsoleTitleA(title.c_str()); }

void disableConsoleClose(const std::string& title) {
  HWND console = ::FindWindowA(nullptr, title.c_str());
  // Some consoles do not answer to their title at once; ask for the window directly then.
  if (!console) console = ::GetConsoleWindow();
  if (!console) return;
  HMENU menu = ::GetSystemMenu(console, FALSE);
  if (menu) ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
}

void consoleWrite(const std::string& gbkBytes) {
  std::fwrite(gbkBytes.data(), 1, gbkBytes.size(), stdout);
  std::fflush(stdout);
}

// ---- Files and folders -----------------------------------------------------------------

namespace {

bool isReparsePoint(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// What is at a path, the link itself rather than its target.
struct PathState {
  bool exists = false;
  bool link = false;  // a reparse point (symbolic link, junction)
  bool folder = false;
  DWORD links = 0;  // names of the file (hard links)
};

PathState stateOf(const std::wstring& path) {
  PathState state;
  HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return state;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(handle, &info)) {
    state.exists = true;
    state.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    state.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state.links = info.nNumberOfLinks;
  }
  ::CloseHandle(handle);
  return state;
}

bool writesTo(const char* mode) { return std::strpbrk(mode, "wa+") != nullptr; }

// Before a write: "w" removes a link of any kind at `path` (a reparse point, or one name of a
// file that has others, which truncating would empty as well), so that a regular file of its
// own takes its place; "a" and "r+" refuse anything but a file with one name.
bool clearedForWriting(const std::wstring& path, const char* mode) {
  if (!writesTo(mode)) return true;
  const PathState state = stateOf(path);
  if (!state.exists) return true;
  const bool linked = state.link || (!state.folder && state.links > 1);
  if (!linked) return true;
  if (mode[0] != 'w') {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (state.link && state.folder) return ::RemoveDirectoryW(path.c_str()) != 0;
  return ::DeleteFileW(path.c_str()) != 0;
}

// The code of the call that just failed, or `otherwise` when it left none.
SystemCode failedCall(SystemCode otherwise) {
  const DWORD code = ::GetLastError();
  return code != ERROR_SUCCESS ? code : otherwise;
}

// After the open: only a file on a disk with one name is kept (never a device or a pipe, and
// never a file given a second name in the meantime). A device or pipe to be read counts as
// missing, anything else refused as access denied.
OpenedFile keptIfRegular(FILE* file, const char* mode) {
  if (!file) return fail(failedCall(ERROR_OPEN_FAILED));
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  BY_HANDLE_FILE_INFORMATION info{};
  const bool onDisk = handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_DISK;
  bool regular = onDisk && ::GetFileInformationByHandle(handle, &info) &&
                 !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (regular && writesTo(mode)) regular = info.nNumberOfLinks == 1;
  if (regular) return UniqueFile(file);
  std::fclose(file);
  const bool absent = !onDisk && !writesTo(mode);
  return fail(static_cast<SystemCode>(absent ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED));
}

// clearedForWriting's refusal, or the code of the removal that failed.
Failure<SystemCode> notCleared() { return fail(failedCall(ERROR_ACCESS_DENIED)); }

}  // namespace

OpenedFile openFile(const std::string& path, const char* mode) {
  std::wstring widePath = widen(path);
  std::wstring wideMode = widen(mode);
  if (widePath.empty() || wideMode.empty())
    return fail(static_cast<SystemCode>(ERROR_NO_UNICODE_TRANSLATION));
  if (!clearedForWriting(widePath, mode)) return notCleared();
  return keptIfRegular(::_wfopen(widePath.c_str(), wideMode.c_str()), mode);
}

OpenedFile openFileNarrow(const std::string& path, const char* mode) {
  const std::wstring widePath = widen(path);
  if (!widePath.empty() && !clearedForWriting(widePath, mode)) return notCleared();
  return keptIfRegular(std::fopen(path.c_str(), mode), mode);
}

OpenedFile createFileExclusive(const std::string& path) {
  const std::wstring widePath = widen(path);
  if (widePath.empty()) return fail(static_cast<SystemCode>(ERROR_NO_UNICODE_TRANSLATION));
  ::DeleteFileW(widePath.c_str());
  HANDLE handle = ::CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(static_cast<SystemCode>(::GetLastError()));
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    return fail(static_cast<SystemCode>(ERROR_TOO_MANY_OPEN_FILES));
  }
  FILE* file = ::_fdopen(fd, "wb+");
  if (!file) {
    ::_close(fd);
    return fail(static_cast<SystemCode>(ERROR_NOT_ENOUGH_MEMORY));
  }
  return UniqueFile(file);
}

bool folderLinkBelow(const std::string& base, const std::string& path) {
  if (path.compare(0, base.size(), base) != 0) return true;
  for (size_t at = path.find('\\', base.size() + 1); at != std::string::npos;
       at = path.find('\\', at + 1))
    if (isReparsePoint(widen(path.substr(0, at)))) return true;
  return false;
}

bool readRegularFile(const std::string& path, size_t limit, std::string* content,
                     PastLimit past) {
  content->clear();
  HANDLE file = openSharedForReading(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  const bool regular =
      ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size) &&
      (past == PastLimit::Cut || static_cast<uint64_t>(size.QuadPart) <= limit);
  const bool ok = regular && readBounded(
                                 [file](char* buffer, size_t capacity) -> long {
                                   DWORD n = 0;
                                   if (!::ReadFile(file, buffer, static_cast<DWORD>(capacity), &n,
                                                   nullptr))
                                     return -1;
                                   return static_cast<long>(n);
                                 },
                                 limit, past, content);
  ::CloseHandle(file);
  return ok;
}

size_t pathLength(const std::string& path) { return widen(path).size(); }

bool isFileOfItsOwn(const std::string& path) {
  const std::wstring widePath = widen(path);
  if (widePath.empty()) return false;
  const PathState state = stateOf(widePath);
  return state.exists && !state.link && !state.folder && state.links == 1;
}

bool setFileAttributesNormal(const std::string& path) {
  // Attributes belong to the file, not the name: one with other names may lie anywhere.
  if (!isFileOfItsOwn(path)) return false;
  return ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool pathExists(const std::string& path) {
  std::wstring widePath = widen(path);
  if (widePath.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(widePath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DEVICE);
}

namespace {

// The failure of the Windows call that just failed.
Failure<SystemCode> failedWithLastError() {
  return fail(static_cast<SystemCode>(::GetLastError()));
}

}  // namespace

Result<Done, SystemCode> makeFolder(const std::string& path) {
  const std::wstring widePath = widen(path);
  if (widePath.empty()) return fail(static_cast<SystemCode>(ERROR_NO_UNICODE_TRANSLATION));
  if (::CreateDirectoryW(widePath.c_str(), nullptr)) return Done{};
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return failedWithLastError();
  const PathState state = stateOf(widePath);
  if (state.exists && state.folder && !state.link) return Done{};
  return fail(static_cast<SystemCode>(ERROR_ALREADY_EXISTS));
}

bool deleteFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool linkFile(const std::string& existing, const std::string& link) {
  return ::CreateHardLinkA(link.c_str(), existing.c_str(), nullptr) != 0;
}

Result<Done, SystemCode> renameFile(const std::string& from, const std::string& to) {
  if (!::MoveFileA(from.c_str(), to.c_str())) return failedWithLastError();
  return Done{};
}

Result<Done, SystemCode> replaceFile(const std::string& from, const std::string& to) {
  HANDLE file = ::CreateFileA(from.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failedWithLastError();
  const bool flushed = ::FlushFileBuffers(file) != 0;
  const SystemCode code = flushed ? 0 : ::GetLastError();
  ::CloseHandle(file);
  if (!flushed) return fail(code);
  return replaceWithFlushedFile(from, to);
}

Result<Done, SystemCode> replaceWithFlushedFile(const std::string& from, const std::string& to) {
  // MoveFileEx refuses to replace a read-only file, where rename() on POSIX does not care;
  // the replace is meant to happen either way.
  // Only a file with one name: attributes belong to the file, and one with other names may lie
  // anywhere (the move then fails, and the old file stays as it is).
  DWORD target = ::GetFileAttributesA(to.c_str());
  if (target != INVALID_FILE_ATTRIBUTES && !(target & FILE_ATTRIBUTE_DIRECTORY) &&
      (target & FILE_ATTRIBUTE_READONLY) && stateOf(widen(to)).links == 1)
    ::SetFileAttributesA(to.c_str(), target & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  // WRITE_THROUGH returns only once the move is on the disk, folder entry included. A virus
  // scanner or the launcher may hold the pack open for a moment: such a refusal is waited out
  // for about a second before the pack counts as not replaced.
  constexpr int kAttempts = 10;
  constexpr DWORD kPauseMs = 100;
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExA(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return Done{};
    const DWORD error = ::GetLastError();
    const bool folder = target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY);
    const bool busy = !folder && (error == ERROR_SHARING_VIOLATION ||
                                  error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION);
    if (!busy || attempt == kAttempts) return fail(static_cast<SystemCode>(error));
    ::Sleep(kPauseMs);
  }
}

Result<Done, SystemCode> flushToDisk(FILE* file) {
  if (std::fflush(file) != 0) return failedWithLastError();
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return fail(static_cast<SystemCode>(ERROR_INVALID_HANDLE));
  if (!::FlushFileBuffers(handle)) return failedWithLastError();
  return Done{};
}

// Windows has no request to start writing without waiting; the system's lazy writer and the
// final FlushFileBuffers do it all.
void startWriteBack(FILE*) {}

std::string currentDirectory() {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = ::GetCurrentDirectoryA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

std::string appDataFolder(bool create) {
  char buffer[MAX_PATH + 1] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_APPDATA, create ? TRUE : FALSE))
    return std::string();
  return buffer;
}

std::string tempFolder() {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return std::string(".\\");
  std::string folder(buffer, n);
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

int64_t fileSize(FILE* file) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  LARGE_INTEGER size{};
  if (handle == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle, &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

Result<size_t, SystemCode> readAt(FILE* file, int64_t offset, void* buffer, size_t length) {
  const auto failure = [] { return fail(static_cast<SystemCode>(::GetLastError())); };
  if (::_fseeki64(file, offset, SEEK_SET) != 0) return failure();
  std::clearerr(file);
  const size_t done = std::fread(buffer, 1, length, file);
  if (done < length && std::ferror(file)) return failure();
  return done;
}

// ---- Time ------------------------------------------------------------------------------

SystemTime utcNow() {
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  SystemTime t;
  t.year = now.wYear;
  t.month = now.wMonth;
  t.dayOfWeek = now.wDayOfWeek;
  t.day = now.wDay;
  t.hour = now.wHour;
  t.minute = now.wMinute;
  t.second = now.wSecond;
  t.milliseconds = now.wMilliseconds;
  return t;
}

void sleepMs(unsigned milliseconds) { ::Sleep(milliseconds); }

// The multimedia timer at its finest period: the report's processor speed divides by the
// milliseconds of a 200 ms pass, which the 15.6 ms steps of GetTickCount would make up to 8%
// short.
uint32_t tickMs() {
  static const bool fine = ::timeBeginPeriod(1) == TIMERR_NOERROR;
  (void)fine;
  return ::timeGetTime();
}

// ---- Identity --------------------------------------------------------------------------

std::string computerName() {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof buffer;
  if (!::GetComputerNameA(buffer, &size)) return std::string();
  return std::string(buffer, size);
}

std::string userName() {
  char buffer[257] = {};
  DWORD size = sizeof buffer;
  if (!::GetUserNameA(buffer, &size)) return std::string();
  return buffer;
}

uint32_t lastErrorCode() { return ::GetLastError(); }

}  // namespace platform
