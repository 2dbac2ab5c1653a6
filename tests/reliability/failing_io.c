/* Preloaded into a worker to make chosen file operations fail.
 *   FAILIO_OP     write | fsync | close | rename | dirsync
 *   FAILIO_MATCH  the operation fails only on files whose path contains this text
 *   FAILIO_ERRNO  the error number to fail with (default EIO)
 * fsync covers fdatasync as well; dirsync is fsync on a folder. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int op_is(const char* op) {
    const char* o = getenv("FAILIO_OP");
    return o && strcmp(o, op) == 0;
}

static int fail_errno(void) {
    const char* e = getenv("FAILIO_ERRNO");
    return e ? atoi(e) : EIO;
}

static int path_matches(const char* path) {
    const char* pattern = getenv("FAILIO_MATCH");
    return pattern && path && strstr(path, pattern) != NULL;
}

static int fd_matches(int fd, int want_dir) {
    char link[64], path[4096];
    struct stat st;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 0) return 0;
    path[n] = 0;
    if (fstat(fd, &st) != 0 || (S_ISDIR(st.st_mode) != 0) != want_dir) return 0;
    return path_matches(path);
}

ssize_t write(int fd, const void* buf, size_t n) {
    static ssize_t (*real)(int, const void*, size_t);
    if (!real) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (op_is("write") && fd_matches(fd, 0)) {
        /* Half goes through first, as on a disk that fills up. */
        if (n > 1) return real(fd, buf, n / 2) > 0 ? (errno = fail_errno(), -1) : -1;
        errno = fail_errno();
        return -1;
    }
    return real(fd, buf, n);
}

static int sync_common(int fd, int (*real)(int)) {
    if ((op_is("fsync") && fd_matches(fd, 0)) || (op_is("dirsync") && fd_matches(fd, 1))) {
        errno = fail_errno();
        return -1;
    }
    return real(fd);
}

int fsync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    return sync_common(fd, real);
}

int fdatasync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    return sync_common(fd, real);
}

int close(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "close");
    const int fail = op_is("close") && fd_matches(fd, 0);
    const int rc = real(fd);
    if (fail) {
        errno = fail_errno();
        return -1;
    }
    return rc;
}

int rename(const char* from, const char* to) {
    static int (*real)(const char*, const char*);
    if (!real) real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    if (op_is("rename") && path_matches(from)) {
        errno = fail_errno();
        return -1;
    }
    return real(from, to);
}
