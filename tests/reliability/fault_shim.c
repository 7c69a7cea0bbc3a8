/* Preloaded into the installer or kxtool by the reliability tests to make one file operation fail
 * the way the system makes it fail: creating the file named by $KXPATCH_FAULT_CREATE (a full
 * disk), renaming a file onto the one named by $KXPATCH_FAULT_REPLACE, or renaming the file named
 * by $KXPATCH_FAULT_RENAME_FROM (a target or source another program holds), making a second name
 * for a file when $KXPATCH_FAULT_NO_LINKS is set (a file system without hard links), or reading,
 * at an offset, the byte $KXPATCH_FAULT_READ_AT of the file named by $KXPATCH_FAULT_READ (a bad
 * sector): every such read fails, or only the first $KXPATCH_FAULT_READ_TIMES of them.
 *
 * It also counts the steps that change the folder $KXPATCH_KILL_UNDER (logs aside): each create
 * or truncation, rename, link, unlink and folder creation that succeeds, and the first write to
 * each file opened for writing (its bytes handed to the system before the count). With
 * $KXPATCH_KILL_AT = N the process kills itself (SIGKILL) right after the N-th step; with
 * $KXPATCH_KILL_TRACE naming a file, each step appends a line there ("N what path").
 * Every other call goes on to the C library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

/* ---- Counted steps ---------------------------------------------------------------------- */

/* Whether `path` (relative to `dirfd` unless absolute) lies in the watched folder and is not one
 * of the logs, whose lines are no state of the update. */
static int watched(int dirfd, const char* path) {
  const char* under = getenv("KXPATCH_KILL_UNDER");
  if (!under || !*under || !path) return 0;
  char full[PATH_MAX];
  if (path[0] != '/') {
    char link[64];
    ssize_t n;
    if (dirfd == AT_FDCWD) snprintf(link, sizeof link, "/proc/self/cwd");
    else snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    n = readlink(link, full, sizeof full - 1);
    if (n < 0) return 0;
    full[n] = 0;
    if ((size_t)n + 1 + strlen(path) >= sizeof full) return 0;
    strcat(full, "/");
    strcat(full, path);
    path = full;
  }
  const size_t length = strlen(under);
  if (strncmp(path, under, length) != 0 || (path[length] != '/' && path[length] != 0)) return 0;
  const char* base = strrchr(path, '/');
  base = base ? base + 1 : path;
  return strcmp(base, "updater.log") != 0 && strcmp(base, "pack.log") != 0;
}

static int steps;

static void counted(const char* what, const char* path) {
  const int step = __atomic_add_fetch(&steps, 1, __ATOMIC_SEQ_CST);
  const char* trace = getenv("KXPATCH_KILL_TRACE");
  if (trace && *trace) {
    char line[PATH_MAX + 64];
    const int n = snprintf(line, sizeof line, "%d %s %s\n", step, what, path ? path : "");
    const int fd = (int)syscall(SYS_openat, AT_FDCWD, trace, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      if (n > 0) (void)!syscall(SYS_write, fd, line, (size_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
      syscall(SYS_close, fd);
    }
  }
  const char* at = getenv("KXPATCH_KILL_AT");
  if (at && *at && atoi(at) == step) {
    syscall(SYS_kill, getpid(), SIGKILL);
    for (;;) pause();
  }
}

/* Files opened for writing in the watched folder whose first write is still to come, by
 * descriptor, with the file's identity (a descriptor the library closes out of sight may come
 * back for something else). */
#define KX_MAX_FD 1024
static struct {
  int pending;
  dev_t dev;
  ino_t ino;
  char path[256];
} writers[KX_MAX_FD];

static void forget(int fd) {
  if (fd >= 0 && fd < KX_MAX_FD) writers[fd].pending = 0;
}

static void opened(int fd, int dirfd, const char* path, int flags) {
  forget(fd);
  if (fd < 0 || !watched(dirfd, path)) return;
  if (flags & (O_CREAT | O_TRUNC)) counted("create", path);
  if (fd < KX_MAX_FD && (flags & O_ACCMODE) != O_RDONLY) {
    struct stat st;
    if (fstat(fd, &st) != 0) return;
    writers[fd].pending = 1;
    writers[fd].dev = st.st_dev;
    writers[fd].ino = st.st_ino;
    snprintf(writers[fd].path, sizeof writers[fd].path, "%s", path);
  }
}

/* After a write of `fd` that put bytes out: the first one is a step. */
static void wrote(int fd, FILE* stream) {
  if (fd < 0 || fd >= KX_MAX_FD || !writers[fd].pending) return;
  struct stat st;
  writers[fd].pending = 0;
  if (fstat(fd, &st) != 0 || st.st_dev != writers[fd].dev || st.st_ino != writers[fd].ino) return;
  if (stream) fflush(stream);
  counted("write", writers[fd].path);
}

static int named(const char* variable, const char* path) {
  const char* wanted = getenv(variable);
  return wanted && *wanted && path && strcmp(wanted, path) == 0;
}

typedef int (*OpenFn)(const char*, int, ...);
typedef int (*RenameFn)(const char*, const char*);

static int openUnlessFailed(const char* symbol, const char* path, int flags, mode_t mode) {
  if ((flags & O_CREAT) && named("KXPATCH_FAULT_CREATE", path)) {
    errno = ENOSPC;
    return -1;
  }
  OpenFn next = (OpenFn)dlsym(RTLD_NEXT, symbol);
  const int fd = next(path, flags, mode);
  opened(fd, AT_FDCWD, path, flags);
  return fd;
}

int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(rest, int) : 0;
  va_end(rest);
  return openUnlessFailed("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(rest, int) : 0;
  va_end(rest);
  return openUnlessFailed("open64", path, flags, mode);
}

typedef int (*OpenAtFn)(int, const char*, int, ...);

static int openAt(const char* symbol, int dirfd, const char* path, int flags, mode_t mode) {
  OpenAtFn next = (OpenAtFn)dlsym(RTLD_NEXT, symbol);
  const int fd = next(dirfd, path, flags, mode);
  opened(fd, dirfd, path, flags);
  return fd;
}

int openat(int dirfd, const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(rest, int) : 0;
  va_end(rest);
  return openAt("openat", dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & O_CREAT) ? (mode_t)va_arg(rest, int) : 0;
  va_end(rest);
  return openAt("openat64", dirfd, path, flags, mode);
}

static int renameFails(const char* from, const char* to) {
  if (named("KXPATCH_FAULT_REPLACE", to) || named("KXPATCH_FAULT_RENAME_FROM", from)) {
    errno = EBUSY;
    return 1;
  }
  return 0;
}

static int renamed(int result, int fromDir, const char* from, int toDir, const char* to) {
  if (result == 0 && (watched(fromDir, from) || watched(toDir, to)))
    counted("rename", watched(toDir, to) ? to : from);
  return result;
}

int rename(const char* from, const char* to) {
  if (renameFails(from, to)) return -1;
  RenameFn next = (RenameFn)dlsym(RTLD_NEXT, "rename");
  return renamed(next(from, to), AT_FDCWD, from, AT_FDCWD, to);
}

typedef int (*RenameAtFn)(int, const char*, int, const char*);
typedef int (*RenameAt2Fn)(int, const char*, int, const char*, unsigned);

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  if (renameFails(from, to)) return -1;
  RenameAtFn next = (RenameAtFn)dlsym(RTLD_NEXT, "renameat");
  return renamed(next(fromDir, from, toDir, to), fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
  if (renameFails(from, to)) return -1;
  RenameAt2Fn next = (RenameAt2Fn)dlsym(RTLD_NEXT, "renameat2");
  return renamed(next(fromDir, from, toDir, to, flags), fromDir, from, toDir, to);
}

typedef int (*UnlinkFn)(const char*);
typedef int (*UnlinkAtFn)(int, const char*, int);
typedef int (*MkdirFn)(const char*, mode_t);
typedef int (*MkdirAtFn)(int, const char*, mode_t);

int unlink(const char* path) {
  UnlinkFn next = (UnlinkFn)dlsym(RTLD_NEXT, "unlink");
  const int result = next(path);
  if (result == 0 && watched(AT_FDCWD, path)) counted("unlink", path);
  return result;
}

int unlinkat(int dirfd, const char* path, int flags) {
  UnlinkAtFn next = (UnlinkAtFn)dlsym(RTLD_NEXT, "unlinkat");
  const int result = next(dirfd, path, flags);
  if (result == 0 && watched(dirfd, path)) counted("unlink", path);
  return result;
}

int rmdir(const char* path) {
  UnlinkFn next = (UnlinkFn)dlsym(RTLD_NEXT, "rmdir");
  const int result = next(path);
  if (result == 0 && watched(AT_FDCWD, path)) counted("rmdir", path);
  return result;
}

int mkdir(const char* path, mode_t mode) {
  MkdirFn next = (MkdirFn)dlsym(RTLD_NEXT, "mkdir");
  const int result = next(path, mode);
  if (result == 0 && watched(AT_FDCWD, path)) counted("mkdir", path);
  return result;
}

int mkdirat(int dirfd, const char* path, mode_t mode) {
  MkdirAtFn next = (MkdirAtFn)dlsym(RTLD_NEXT, "mkdirat");
  const int result = next(dirfd, path, mode);
  if (result == 0 && watched(dirfd, path)) counted("mkdir", path);
  return result;
}

typedef size_t (*FwriteFn)(const void*, size_t, size_t, FILE*);
typedef ssize_t (*WriteFn)(int, const void*, size_t);
typedef ssize_t (*PwriteFn)(int, const void*, size_t, off_t);
typedef ssize_t (*CopyRangeFn)(int, off64_t*, int, off64_t*, size_t, unsigned);
typedef int (*FcloseFn)(FILE*);
typedef int (*CloseFn)(int);

size_t fwrite(const void* bytes, size_t size, size_t count, FILE* stream) {
  FwriteFn next = (FwriteFn)dlsym(RTLD_NEXT, "fwrite");
  const size_t written = next(bytes, size, count, stream);
  if (written > 0) wrote(fileno(stream), stream);
  return written;
}

ssize_t write(int fd, const void* bytes, size_t length) {
  WriteFn next = (WriteFn)dlsym(RTLD_NEXT, "write");
  const ssize_t written = next(fd, bytes, length);
  if (written > 0) wrote(fd, NULL);
  return written;
}

ssize_t pwrite(int fd, const void* bytes, size_t length, off_t offset) {
  PwriteFn next = (PwriteFn)dlsym(RTLD_NEXT, "pwrite");
  const ssize_t written = next(fd, bytes, length, offset);
  if (written > 0) wrote(fd, NULL);
  return written;
}

ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t length,
                        unsigned flags) {
  CopyRangeFn next = (CopyRangeFn)dlsym(RTLD_NEXT, "copy_file_range");
  const ssize_t copied = next(in, inOffset, out, outOffset, length, flags);
  if (copied > 0) wrote(out, NULL);
  return copied;
}

int fclose(FILE* stream) {
  FcloseFn next = (FcloseFn)dlsym(RTLD_NEXT, "fclose");
  if (stream) forget(fileno(stream));
  return next(stream);
}

int close(int fd) {
  CloseFn next = (CloseFn)dlsym(RTLD_NEXT, "close");
  forget(fd);
  return next(fd);
}

typedef ssize_t (*PreadFn)(int, void*, size_t, off_t);

static int readFails(int fd, size_t count, long long offset) {
  const char* path = getenv("KXPATCH_FAULT_READ");
  const char* at = getenv("KXPATCH_FAULT_READ_AT");
  if (!path || !*path || !at) return 0;
  const long long bad = atoll(at);
  if (bad < offset || bad >= offset + (long long)count) return 0;
  struct stat wanted;
  struct stat actual;
  if (stat(path, &wanted) != 0 || fstat(fd, &actual) != 0) return 0;
  if (wanted.st_dev != actual.st_dev || wanted.st_ino != actual.st_ino) return 0;
  const char* times = getenv("KXPATCH_FAULT_READ_TIMES");
  if (!times || !*times) return 1;
  static int failed;
  return __atomic_fetch_add(&failed, 1, __ATOMIC_SEQ_CST) < atoi(times);
}

static ssize_t preadUnlessFailed(const char* symbol, int fd, void* buffer, size_t count,
                                 long long offset) {
  if (readFails(fd, count, offset)) {
    errno = EIO;
    return -1;
  }
  PreadFn next = (PreadFn)dlsym(RTLD_NEXT, symbol);
  return next(fd, buffer, count, (off_t)offset);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return preadUnlessFailed("pread", fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
  return preadUnlessFailed("pread64", fd, buffer, count, offset);
}

typedef int (*LinkFn)(const char*, const char*);

int link(const char* existing, const char* name) {
  const char* none = getenv("KXPATCH_FAULT_NO_LINKS");
  if (none && *none) {
    errno = EPERM;
    return -1;
  }
  LinkFn next = (LinkFn)dlsym(RTLD_NEXT, "link");
  const int result = next(existing, name);
  if (result == 0 && watched(AT_FDCWD, name)) counted("link", name);
  return result;
}
