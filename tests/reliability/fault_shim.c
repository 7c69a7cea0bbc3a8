/* Preloaded into the installer by the reliability tests to make one file operation fail the way
 * the system makes it fail: creating the file named by $KXPATCH_FAULT_CREATE (a full disk), or
 * renaming a file onto the one named by $KXPATCH_FAULT_REPLACE (a target another program holds).
 * Every other call goes on to the C library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
