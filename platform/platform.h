// The operating-system services the installer needs, one declaration each. platform_win32.cpp
// and platform_posix.cpp define them; the build compiles one. Nothing outside platform/ includes
// <windows.h> or a POSIX header for these services.
//
// Texts are byte strings in the process's ANSI code page (GBK). Paths reaching the file system
// use the platform's separator (kPathSeparator); texts that name Windows paths on purpose (table
// keys, log lines) are the callers' business.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/result.h"

namespace platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kPathSeparatorText = "\\";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparatorText = "/";
#endif

// `folder` + the platform's separator + `name`: how the installer and its tools compose every
// path they hand to the file system.
inline std::string joinPath(const std::string& folder, const std::string& name) {
  return folder + kPathSeparatorText + name;
}

// ---- Single instance -------------------------------------------------------------------

// A machine-wide mutex by name. Construction creates or opens it, not owned; wait() blocks
// without limit until this process owns it; the destructor releases and closes it. If the
// mutex cannot be created, wait() returns at once (the installer then runs unguarded).
class NamedMutex {
 public:
  explicit NamedMutex(const std::string& name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  // Waits until this process owns the mutex. False when it cannot be had at all (the mutex or
  // its lock file cannot be made): the caller must not go on as if it were alone.
  [[nodiscard]] bool wait();
  void release();

 private:
  intptr_t handle_ = -1;
  bool owned_ = false;
};

// A lock on one installation folder, held until destruction (or the process's end), that leaves
// nothing behind in the folder: the folder itself is locked where the system allows it, else a
// file it already holds (`fileInside`, which is only ever read).
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // Waits until no other process holds the lock; false when it cannot be taken or opened.
  [[nodiscard]] bool lock(const std::string& folder, const std::string& fileInside);

 private:
  intptr_t handle_ = -1;
};

// ---- Processes -------------------------------------------------------------------------

// Id of the first running process whose executable name equals `name` exactly, or 0. On POSIX
// a test hook (which the Windows executables do not have) narrows the search: with
// $KXPATCH_TEST_PROCESS_SCOPE set, only processes started with the same value are looked at.
[[nodiscard]] uint32_t findProcessId(const std::string& name);
// True when the process can be opened with full access (the game counts as running then).
[[nodiscard]] bool canOpenProcessFully(uint32_t pid);
// True when the process can be opened for termination.
[[nodiscard]] bool canOpenProcessForTermination(uint32_t pid);
// Terminates with exit code 0; fails with the system's code.
[[nodiscard]] Result<Done, SystemCode> terminateProcess(uint32_t pid);
// Ends the calling process at once with `code` (no destructors, no atexit handlers).
[[noreturn]] void exitProcessNow(int code);

// ---- Embedded payload ------------------------------------------------------------------

// The bytes of the executable's resource of type "KX" with numeric `id`; nullptr when absent.
// The bytes live as long as the process.
struct Resource {
  const unsigned char* data = nullptr;
  size_t size = 0;
};
[[nodiscard]] Resource findResource(const char* type, int id);

// ---- User interface --------------------------------------------------------------------

// A modal box with an OK button and no owner; returns when the user has pressed OK.
void messageBox(const std::string& text, const std::string& caption);
// Sends `bytes` with `code` to the launcher window; nothing when there is none. The launcher
// may not hold the run: one that has not taken the message within `waitMs` milliseconds (a
// hung window, a socket nobody reads; 0: only what it takes at once) loses it. Messages it
// takes arrive in the order sent. True when the launcher took the message.
bool sendLauncherMessage(uint32_t code, const std::string& bytes, unsigned waitMs);
void setConsoleTitle(const std::string& title);
// Greys the Close item of the console window titled `title` (POSIX: the terminal's hang-up no
// longer ends the process).
void disableConsoleClose(const std::string& title);
// Writes GBK bytes to the console as they are, or converted to the terminal's character set.
void consoleWrite(const std::string& gbkBytes);

// ---- Files and folders -----------------------------------------------------------------

// Opens `path` (ANSI/GBK bytes) through its wide form where the platform has one. Reading
// follows links but never opens a pipe, socket or device, so nothing waits on one: it counts as
// absent. Writing never goes through a link of any kind: "w"
// removes a link at `path` (a symbolic link, a reparse point, or one name of a file that has
// others) and makes a regular file of its own in its place; "a" and "r+" open only a regular
// file with one link and leave anything else as it is. Anything else is refused. Fails with the
// system's code; a refusal of the platform's own is an access error (EACCES,
// ERROR_ACCESS_DENIED), and a pipe, socket or device to be read is a missing file.
using OpenedFile = Result<UniqueFile, SystemCode>;
[[nodiscard]] OpenedFile openFile(const std::string& path, const char* mode);
// A new, empty regular file at `path` for writing ("wb+"), created exclusively: whatever was at
// `path` (a leftover of a killed run, a link) is removed first. Fails with the system's code.
[[nodiscard]] OpenedFile createFileExclusive(const std::string& path);
// Whether a folder between `base` and the last component of `path` (which lies inside `base`)
// is a link (on Windows, any reparse point): writing there would land outside `base`.
[[nodiscard]] bool folderLinkBelow(const std::string& base, const std::string& path);
// The content of `path` when it is a regular file (links followed): all of it when it holds at
// most `limit` bytes, else false (Refuse) or its first `limit` bytes (Cut). False for anything
// else (missing, a device, a pipe, a folder), without ever waiting on it.
enum class PastLimit { Refuse, Cut };
[[nodiscard]] bool readRegularFile(const std::string& path, size_t limit, std::string* content,
                                   PastLimit past = PastLimit::Refuse);
// The longest path the installer opens, in pathLength's units.
inline constexpr size_t kMaxPathChars = 259;
// The length of `path` as the system's path limit counts it: characters of its wide form on
// Windows (a Chinese character is two GBK bytes but one character), bytes elsewhere.
size_t pathLength(const std::string& path);
// Opens `path` with the narrow C runtime open, bytes as they are; writes as openFile.
[[nodiscard]] OpenedFile openFileNarrow(const std::string& path, const char* mode);
// Clears the read-only state of a file; the result may be ignored (the file may not exist). Only
// a regular file with one link is changed: a link's target, or a file that has other names,
// may lie anywhere.
bool setFileAttributesNormal(const std::string& path);
// True when `path` names a regular file of its own: not a link (on Windows, not a reparse
// point) and the file's only name. What a link or a second name leads to may lie anywhere.
[[nodiscard]] bool isFileOfItsOwn(const std::string& path);
// True when a file or a folder is at `path` (links followed). A pipe, socket or device counts as
// absent, as openFile treats it.
[[nodiscard]] bool pathExists(const std::string& path);
// Makes the folder `path` (its parent must exist); done when it was made or a folder, not a
// link, is there already, else fails with the system's code (a link or a file in its place:
// the code for an existing file).
[[nodiscard]] Result<Done, SystemCode> makeFolder(const std::string& path);
bool deleteFile(const std::string& path);
// Gives the file at `existing` the second name `link` (a hard link): nothing is copied, and the
// file lives on under `link` when `existing` is later replaced by a rename. False when `link`
// exists, the two lie on different volumes, or the file system has no such links (FAT, exFAT).
[[nodiscard]] bool linkFile(const std::string& existing, const std::string& link);
// Renames `from` to `to` (no replacing); fails with the system's code, the one for an existing
// file when `to` is there.
[[nodiscard]] Result<Done, SystemCode> renameFile(const std::string& from, const std::string& to);
// Flushes `from` to disk and puts it in the place of `to` in one step; `to` stays whole when
// this fails, with the system's code. The folder entry is flushed too.
[[nodiscard]] Result<Done, SystemCode> replaceFile(const std::string& from, const std::string& to);
// replaceFile for a `from` whose data its writer already put on the disk (flushToDisk before
// closing it): the same step without flushing `from` a second time. Only the folder entry is
// flushed, after the rename, so the new name never points at data that is not on the disk.
[[nodiscard]] Result<Done, SystemCode> replaceWithFlushedFile(const std::string& from,
                                                              const std::string& to);
// Flushes an open stream's data to the disk (fflush and fsync/FlushFileBuffers); fails with the
// system's code of the step that failed.
[[nodiscard]] Result<Done, SystemCode> flushToDisk(FILE* file);
// Hands the stream's buffered bytes to the system and asks it to start writing every byte of
// the file not yet on its way to the disk, without waiting (POSIX: sync_file_range). A later
// flushToDisk still waits for all of it, but finds most already written. Nothing where the
// system has no such request (Windows); failures are ignored: it only changes when bytes move.
void startWriteBack(FILE* file);
[[nodiscard]] std::string currentDirectory();
// The per-user application-data folder, created when absent when `create` is set.
[[nodiscard]] std::string appDataFolder(bool create);
// The temporary folder, ending in a separator.
[[nodiscard]] std::string tempFolder();
// Size of an open stream's file in bytes, or -1.
[[nodiscard]] int64_t fileSize(FILE* file);
// Reads up to `length` bytes at byte `offset` of an open stream's file into `buffer`; the
// number read, fewer only at the end of the file. Fails with the system's code when a read or
// seek fails (what `buffer` then holds is unspecified). Where the system can read at an offset
// in one call (POSIX pread), the stream's position and buffer are left alone; elsewhere it is
// a seek and a read of the stream. Either way the stream's next read must seek first.
[[nodiscard]] Result<size_t, SystemCode> readAt(FILE* file, int64_t offset, void* buffer,
                                                size_t length);

// ---- Time ------------------------------------------------------------------------------

struct SystemTime {
  int year = 0, month = 0, dayOfWeek = 0, day = 0;
  int hour = 0, minute = 0, second = 0, milliseconds = 0;
};
[[nodiscard]] SystemTime utcNow();
void sleepMs(unsigned milliseconds);
// Milliseconds since an arbitrary start, for measuring spans.
[[nodiscard]] uint32_t tickMs();

// ---- Identity --------------------------------------------------------------------------

[[nodiscard]] std::string computerName();
[[nodiscard]] std::string userName();
// Code of the last failed system call, as the platform reports it: for stdio calls on a stream
// (a short fwrite, a failed fclose), which say only that they failed. Read it on the same thread
// before anything else can overwrite it.
[[nodiscard]] uint32_t lastErrorCode();

}  // namespace platform
