/* Preloaded into the installer or kxtool by the reliability tests to make one file operation fail
 * the way the system makes it fail: creating the file named by $KXPATCH_FAULT_CREATE (a full
 * disk), renaming a file onto the one named by $KXPATCH_FAULT_REPLACE (a target another program
 * holds), making a second name for a file when $KXPATCH_FAULT_NO_LINKS is set (a file system
 * without hard links), or reading, at an offset, the byte $KXPATCH_FAULT_READ_AT of the file named by
 * $KXPATCH_FAULT_READ (a bad sector): every such read fails, or only the first
 * $KXPATCH_FAULT_READ_TIMES of them. Every other call goes on to the C library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

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
  return next(path, flags, mode);
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

int rename(const char* from, const char* to) {
  if (named("KXPATCH_FAULT_REPLACE", to)) {
    errno = EBUSY;
    return -1;
  }
  RenameFn next = (RenameFn)dlsym(RTLD_NEXT, "rename");
  return next(from, to);
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
  return next(existing, name);
}
