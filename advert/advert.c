/* The house advertising library.  It has no network and shows the program's own
 * banner: the name and a short line that changes every MinimumAdDisplayTime seconds
 * (30 when that is 0).  Callbacks are made only from inside _Paint, which the banner
 * calls on its window thread. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "banner_paint.h"

extern char** environ;

enum {
    SIZE_COUNT = 12,
    DEFAULT_DISPLAY_SECONDS = 30,
    STATUS_NETWORK_IS_UP = 0x2,
    STATUS_CLICK_HAS_FAILED = 0x100,
    STATUS_CLICK_HAS_WORKED = 0x200,
    STATUS_IDLE = 0x1000,
};

static const char kTitle[] = "Quorvel";
static const char* const kLines[] = {
    /* Short enough for two rows of the 88 x 31 banner and words for the 50 wide one. */
    "Keep every ad on schedule",
    "Your ads, placed on time",
    "Type once, post anywhere",
    "Never miss a repeat date",
    "Share sites as data files",
};
enum { LINE_COUNT = sizeof kLines / sizeof kLines[0] };

typedef struct Registration {
    AdCallback callback;
    intptr_t value;
} Registration;

/* One per started banner, kept in the slot its context block points to. */
typedef struct AdvertState {
    int32_t programId;
    int32_t sizeOrdinal;
    uint32_t optionFlags;
    Registration repaint, network, adRecorded;
    int32_t bandwidthThrottle;
    int32_t minimumDisplayTime;
    int networkUp;
    uint32_t clickStatus;
    int line;
    int64_t lineSinceMs;
    int recordPending; /* the current line has not been reported as shown yet */
} AdvertState;

/* Banners paint before they start (or when starting failed): they show the first line
 * and never call back.  Their click status is shared, which is harmless. */
static uint32_t gUnstartedClickStatus;

static int64_t now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static intptr_t* slot_of(intptr_t block) {
    const AdContextBlock* b = (const AdContextBlock*)block;
    return b ? b->word : NULL;
}

static AdvertState* state_of(intptr_t block) {
    intptr_t* slot = slot_of(block);
    return slot && *slot ? (AdvertState*)*slot : NULL;
}

static int64_t display_ms(const AdvertState* s) {
    const int64_t seconds = s->minimumDisplayTime > 0 ? s->minimumDisplayTime : DEFAULT_DISPLAY_SECONDS;
    return seconds * 1000;
}

/* ---- the help page ---- */

/* The running program's path with its extension replaced by ".html". */
static int help_page_path(char* out, size_t size) {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return 0;
    exe[n] = '\0';
    char* name = strrchr(exe, '/');
    name = name ? name + 1 : exe;
    char* dot = strrchr(name, '.');
    if (dot && dot > name) *dot = '\0';
    const int written = snprintf(out, size, "%s.html", exe);
    return written > 0 && (size_t)written < size;
}

static int find_program(const char* name, char* out, size_t size) {
    const char* path = getenv("PATH");
    if (!path || !*path) path = "/usr/local/bin:/usr/bin:/bin";
    while (*path) {
        const char* end = strchr(path, ':');
        const size_t len = end ? (size_t)(end - path) : strlen(path);
        if (len > 0) {
            const int written = snprintf(out, size, "%.*s/%s", (int)len, path, name);
            if (written > 0 && (size_t)written < size && access(out, X_OK) == 0) return 1;
        }
        if (!end) break;
        path = end + 1;
    }
    return 0;
}

/* Starts `program` with one argument, fully detached: the child forks the real process
 * and exits at once, so we wait only for that and the grandchild belongs to init.
 * Everything is prepared before fork; after it only async-signal-safe calls are made,
 * since the program has other threads. */
static int launch_detached(const char* program, const char* argument) {
    char* argv[] = {(char*)"xdg-open", (char*)argument, NULL};
    const int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t child = fork();
    if (child < 0) {
        if (devnull >= 0) close(devnull);
        return 0;
    }
    if (child == 0) {
        const pid_t grandchild = fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
        setsid();
        if (devnull >= 0) dup2(devnull, STDIN_FILENO);
        execve(program, argv, environ);
        _exit(127);
    }
    if (devnull >= 0) close(devnull);
    int status = 0;
    pid_t reaped;
    do reaped = waitpid(child, &status, 0);
    while (reaped < 0 && errno == EINTR);
    /* ECHILD: the program reaps children itself; the launch went ahead. */
    if (reaped < 0) return errno == ECHILD;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static int open_help_page(void) {
    char page[PATH_MAX + 8];
    char opener[PATH_MAX];
    if (!help_page_path(page, sizeof page) || access(page, R_OK) != 0) return 0;
    if (!find_program("xdg-open", opener, sizeof opener)) return 0;
    return launch_detached(opener, page);
}

/* ---- entry points ---- */

intptr_t _Startup(intptr_t block, intptr_t module, intptr_t reserved, intptr_t programId,
                  intptr_t sizeOrdinal, intptr_t optionFlags) {
    (void)module;
    (void)reserved;
    intptr_t* slot = slot_of(block);
    if (!slot) return 0;
    const int size = (int)(sizeOrdinal & 0xFF);
    if (size >= SIZE_COUNT) return 0;
    if (*slot) return 1; /* already started */
    AdvertState* s = calloc(1, sizeof *s);
    if (!s) return 0;
    s->programId = (int32_t)programId;
    s->sizeOrdinal = size;
    s->optionFlags = (uint32_t)optionFlags;
    s->bandwidthThrottle = INT32_MAX;
    s->lineSinceMs = now_ms();
    s->recordPending = 1;
    *slot = (intptr_t)s;
    return 1;
}

intptr_t _Paint(intptr_t block, intptr_t pixelBuffer, intptr_t x, intptr_t y) {
    AdvertState* s = state_of(block);
    const AdPixelBuffer* buffer = (const AdPixelBuffer*)pixelBuffer;
    if (!s) {
        paint_banner(buffer, (int)x, (int)y, kTitle, kLines[0]);
        return 1;
    }
    int changed = 0;
    const int64_t now = now_ms();
    if (now - s->lineSinceMs >= display_ms(s)) {
        s->line = (s->line + 1) % LINE_COUNT;
        s->lineSinceMs = now;
        s->recordPending = 1;
        changed = 1;
    }
    paint_banner(buffer, (int)x, (int)y, kTitle, kLines[s->line]);

    /* Copies first: a callback may end the banner, and with it this state. */
    const Registration repaint = s->repaint, recorded = s->adRecorded;
    const int record = s->recordPending && recorded.callback;
    if (record) s->recordPending = 0;
    if (changed && repaint.callback) repaint.callback(repaint.value);
    if (record) recorded.callback(recorded.value);
    return 1;
}

intptr_t _OnClick(intptr_t block) {
    AdvertState* s = state_of(block);
    const int ok = open_help_page();
    uint32_t* status = s ? &s->clickStatus : &gUnstartedClickStatus;
    *status = ok ? STATUS_CLICK_HAS_WORKED : STATUS_CLICK_HAS_FAILED;
    return ok;
}

static intptr_t register_callback(AdvertState* s, Registration* r, intptr_t callback,
                                  intptr_t value) {
    if (!s) return 0;
    r->callback = (AdCallback)callback;
    r->value = value;
    return 1;
}

intptr_t _SetCallback(intptr_t block, intptr_t callback, intptr_t value) {
    AdvertState* s = state_of(block);
    return register_callback(s, s ? &s->repaint : NULL, callback, value);
}

intptr_t _SetNetworkCallback(intptr_t block, intptr_t callback, intptr_t value) {
    AdvertState* s = state_of(block);
    return register_callback(s, s ? &s->network : NULL, callback, value);
}

intptr_t _SetAdRecordedCallback(intptr_t block, intptr_t callback, intptr_t value) {
    AdvertState* s = state_of(block);
    return register_callback(s, s ? &s->adRecorded : NULL, callback, value);
}

intptr_t _SetBandwidthThrottle(intptr_t block, intptr_t value) {
    AdvertState* s = state_of(block);
    if (!s) return 0;
    s->bandwidthThrottle = (int32_t)value;
    return 1;
}

intptr_t _SetMinimumAdDisplayTime(intptr_t block, intptr_t value) {
    AdvertState* s = state_of(block);
    if (!s) return 0;
    s->minimumDisplayTime = (int32_t)value;
    return 1;
}

/* Without a network of its own the library reports what the program last told it. */
intptr_t _IsConnectOkay(intptr_t block, intptr_t word) {
    AdvertState* s = state_of(block);
    int32_t* state = (int32_t*)word;
    if (!s || !state) return 0;
    *state = s->networkUp ? 1 : 0;
    return 1;
}

intptr_t _RetryConnect(intptr_t block) { return state_of(block) != NULL; }

intptr_t _SetNetworkState(intptr_t block, intptr_t value) {
    AdvertState* s = state_of(block);
    if (!s) return 0;
    s->networkUp = (int32_t)value != 0;
    return 1;
}

intptr_t _SetProxy(intptr_t block) { return state_of(block) != NULL; }

intptr_t _GetStatus(intptr_t block, intptr_t word, intptr_t reserved) {
    (void)reserved;
    AdvertState* s = state_of(block);
    int32_t* status = (int32_t*)word;
    if (!status) return 0;
    uint32_t bits = s ? STATUS_IDLE | s->clickStatus : gUnstartedClickStatus;
    if (s && s->networkUp) bits |= STATUS_NETWORK_IS_UP;
    *status = (int32_t)bits;
    return 1;
}

/* The house banner is the default ad already. */
intptr_t _UseDefaultAd(intptr_t block) { return state_of(block) != NULL; }

intptr_t _Shutdown(intptr_t block) {
    intptr_t* slot = slot_of(block);
    if (!slot || !*slot) return 0;
    free((AdvertState*)*slot);
    *slot = 0;
    return 1;
}

/* Brings the next line forward to the next paint. */
intptr_t _debugTriggerEvent(intptr_t block) {
    AdvertState* s = state_of(block);
    if (!s) return 0;
    s->lineSinceMs = now_ms() - display_ms(s);
    return 1;
}
