/* An LD_PRELOAD shim that fails changes to ATTRIB.DDF in a real process.
 * Every pwrite, fsync and ftruncate on a descriptor opened on a path ending in
 * ATTRIB.DDF is a changing call, numbered from 0. Environment:
 *   SCRUTOR_SHIM_FAIL_AT=N    fail changing call N
 *   SCRUTOR_SHIM_FAIL_FROM=N  fail changing call N and every later one
 *   SCRUTOR_SHIM_ERRNO=E      the errno of a failure (default EIO); with
 *                             ENOSPC a failing pwrite first writes half its bytes
 *   SCRUTOR_SHIM_COUNT=PATH   at exit, write the number of changing calls there */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#define MAX_FDS 1024

static char attribFd[MAX_FDS];
static long changes;
static long failAt = -1, failFrom = -1;
static int failErrno = EIO;
static int configured;

static void WriteCount(void) {
  const char* path = getenv("SCRUTOR_SHIM_COUNT");
  if (path == NULL) return;
  FILE* f = fopen(path, "w");
  if (f == NULL) return;
  fprintf(f, "%ld\n", changes);
  fclose(f);
}

static void Configure(void) {
  if (configured) return;
  configured = 1;
  const char* v;
  if ((v = getenv("SCRUTOR_SHIM_FAIL_AT")) != NULL) failAt = atol(v);
  if ((v = getenv("SCRUTOR_SHIM_FAIL_FROM")) != NULL) failFrom = atol(v);
  if ((v = getenv("SCRUTOR_SHIM_ERRNO")) != NULL) failErrno = atoi(v);
  atexit(WriteCount);
}

static int EndsWithAttrib(const char* path) {
  size_t n = strlen(path);
  return n >= 10 && strcmp(path + n - 10, "ATTRIB.DDF") == 0;
}

static void Track(int fd, const char* path) {
  if (fd >= 0 && fd < MAX_FDS) attribFd[fd] = (char)EndsWithAttrib(path);
}

/* Whether this changing call on fd fails. */
static int Fails(int fd) {
  Configure();
  if (fd < 0 || fd >= MAX_FDS || !attribFd[fd]) return 0;
  long n = changes++;
  return n == failAt || (failFrom >= 0 && n >= failFrom);
}

typedef int (*OpenFn)(const char*, int, ...);

static int OpenVia(const char* name, const char* path, int flags, va_list args) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) mode = (mode_t)va_arg(args, int);
  OpenFn real = (OpenFn)dlsym(RTLD_NEXT, name);
  int fd = real(path, flags, mode);
  Track(fd, path);
  return fd;
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  int fd = OpenVia("open", path, flags, args);
  va_end(args);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  int fd = OpenVia("open64", path, flags, args);
  va_end(args);
  return fd;
}

int close(int fd) {
  static int (*real)(int);
  if (real == NULL) real = (int (*)(int))dlsym(RTLD_NEXT, "close");
  if (fd >= 0 && fd < MAX_FDS) attribFd[fd] = 0;
  return real(fd);
}

static ssize_t PwriteVia(const char* name, int fd, const void* buf, size_t count, off_t offset) {
  ssize_t (*real)(int, const void*, size_t, off_t) =
      (ssize_t (*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, name);
  if (Fails(fd)) {
    if (failErrno == ENOSPC && count > 1) real(fd, buf, count / 2, offset);
    errno = failErrno;
    return -1;
  }
  return real(fd, buf, count, offset);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  return PwriteVia("pwrite", fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  return PwriteVia("pwrite64", fd, buf, count, offset);
}

int fsync(int fd) {
  static int (*real)(int);
  if (real == NULL) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  if (Fails(fd)) {
    errno = failErrno;
    return -1;
  }
  return real(fd);
}

static int TruncateVia(const char* name, int fd, off_t length) {
  int (*real)(int, off_t) = (int (*)(int, off_t))dlsym(RTLD_NEXT, name);
  if (Fails(fd)) {
    errno = failErrno;
    return -1;
  }
  return real(fd, length);
}

int ftruncate(int fd, off_t length) { return TruncateVia("ftruncate", fd, length); }
int ftruncate64(int fd, off_t length) { return TruncateVia("ftruncate64", fd, length); }
