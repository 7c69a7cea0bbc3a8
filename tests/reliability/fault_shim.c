/* Preloaded into the installer by the reliability tests to make one file operation fail the way
 * the system makes it fail: creating the file named by $KXPATCH_FAULT_CREATE (a full disk), or
 * renaming a file onto the one named by $KXPATCH_FAULT_REPLACE (a target another program holds).
 * Every other call goes on to the C library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int named(const char* variable, const char* path) {
  const char* wanted = getenv(variable);
  return wanted && *wanted && path && strcmp(wanted, path) == 0;
}

static int writes(const char* mode) { return mode && (strchr(mode, 'w') || strchr(mode, 'a')); }

typedef FILE* (*OpenFn)(const char*, const char*);
typedef int (*RenameFn)(const char*, const char*);

static FILE* openUnlessFailed(const char* symbol, const char* path, const char* mode) {
  if (writes(mode) && named("KXPATCH_FAULT_CREATE", path)) {
    errno = ENOSPC;
    return NULL;
  }
  OpenFn next = (OpenFn)dlsym(RTLD_NEXT, symbol);
  return next(path, mode);
}

FILE* fopen(const char* path, const char* mode) { return openUnlessFailed("fopen", path, mode); }

FILE* fopen64(const char* path, const char* mode) {
  return openUnlessFailed("fopen64", path, mode);
}

int rename(const char* from, const char* to) {
  if (named("KXPATCH_FAULT_REPLACE", to)) {
    errno = EBUSY;
    return -1;
  }
  RenameFn next = (RenameFn)dlsym(RTLD_NEXT, "rename");
  return next(from, to);
}
