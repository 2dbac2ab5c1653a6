/* A stand-in for advert.so that records every call, with its arguments, one line each
 * to the file named by ADVERT_RECORDER_LOG.  Switches, read at each call:
 *   ADVERT_RECORDER_FAIL    entry point names (comma separated) that report failure;
 *                           failure is 0x10000, nonzero but with low 16 bits clear
 *   ADVERT_RECORDER_STATE   the state _IsConnectOkay writes (default 0)
 *   ADVERT_RECORDER_STATUS  the word _GetStatus writes (default 0)
 *   ADVERT_RECORDER_FIRE    callbacks (repaint, network, adrecorded, comma separated,
 *                           repeats allowed) made once from the first _Paint after they
 *                           were registered
 * Built with OMIT_<name> (such as OMIT_SetProxy) it lacks that entry point.
 *
 * Arguments are logged as numbers, except: the context block as "B<n>" (n counting
 * blocks seen since load; "B?" when its layout is wrong or its slot is not 0), the
 * module handle as "M" when it is this library's, callbacks as "fn", word addresses
 * as "ptr" and pixel buffers as "<width>x<height>/<stride>".  _Paint fills the buffer
 * with 0xFF336699. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "AdvertInterface.h"

enum { MAX_BLOCKS = 16, LINE_SIZE = 512 };
enum { CB_REPAINT, CB_NETWORK, CB_ADRECORDED, CB_COUNT };
static const char* const kCallbackNames[CB_COUNT] = {"repaint", "network", "adrecorded"};

typedef struct Seen {
    intptr_t block;
    AdCallback callbacks[CB_COUNT];
    intptr_t values[CB_COUNT];
    int fired;
} Seen;

static Seen gSeen[MAX_BLOCKS];
static int gSeenCount;

static Seen* seen(intptr_t block) {
    for (int i = 0; i < gSeenCount; ++i)
        if (gSeen[i].block == block) return &gSeen[i];
    if (gSeenCount == MAX_BLOCKS) return NULL;
    gSeen[gSeenCount].block = block;
    return &gSeen[gSeenCount++];
}

static void block_text(intptr_t block, char* out, size_t size) {
    const AdContextBlock* b = (const AdContextBlock*)block;
    Seen* s = seen(block);
    if (!b || !b->word || *b->word != 0 || b->reserved != 0 || !s)
        snprintf(out, size, "B?");
    else
        snprintf(out, size, "B%d", (int)(s - gSeen) + 1);
}

static void log_line(const char* text) {
    const char* path = getenv("ADVERT_RECORDER_LOG");
    if (!path || !*path) return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    char line[LINE_SIZE];
    const int n = snprintf(line, sizeof line, "%s\n", text);
    if (n > 0) {
        const ssize_t ignored = write(fd, line, (size_t)n < sizeof line ? (size_t)n : sizeof line - 1);
        (void)ignored;
    }
    close(fd);
}

static void log_call(const char* name, intptr_t block, const char* rest) {
    char b[16];
    char line[LINE_SIZE];
    block_text(block, b, sizeof b);
    snprintf(line, sizeof line, "%s %s%s%s", name, b, rest && *rest ? " " : "", rest ? rest : "");
    log_line(line);
}

static int listed(const char* variable, const char* name) {
    const char* list = getenv(variable);
    const size_t len = strlen(name);
    while (list && *list) {
        const char* end = strchr(list, ',');
        const size_t itemLen = end ? (size_t)(end - list) : strlen(list);
        if (itemLen == len && strncmp(list, name, len) == 0) return 1;
        list = end ? end + 1 : NULL;
    }
    return 0;
}

static intptr_t result(const char* name) { return listed("ADVERT_RECORDER_FAIL", name) ? 0x10000 : 1; }

static long long number(const char* variable) {
    const char* text = getenv(variable);
    return text ? strtoll(text, NULL, 0) : 0;
}

static int is_own_handle(intptr_t module) {
    Dl_info info;
    if (!dladdr((void*)&is_own_handle, &info) || !info.dli_fname) return 0;
    void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) return 0;
    dlclose(handle);
    return (intptr_t)handle == module;
}

static intptr_t register_callback(const char* name, int which, intptr_t block, intptr_t callback,
                                  intptr_t value) {
    char rest[64];
    snprintf(rest, sizeof rest, "%s %lld", callback ? "fn" : "0", (long long)value);
    log_call(name, block, rest);
    Seen* s = seen(block);
    if (s) {
        s->callbacks[which] = (AdCallback)callback;
        s->values[which] = value;
    }
    return result(name);
}

static void fire_callbacks(intptr_t block) {
    Seen* s = seen(block);
    const char* list = getenv("ADVERT_RECORDER_FIRE");
    if (!s || s->fired || !list || !*list) return;
    s->fired = 1;
    while (*list) {
        const char* end = strchr(list, ',');
        const size_t len = end ? (size_t)(end - list) : strlen(list);
        for (int i = 0; i < CB_COUNT; ++i) {
            if (strlen(kCallbackNames[i]) != len || strncmp(list, kCallbackNames[i], len) != 0) continue;
            char line[64];
            snprintf(line, sizeof line, "callback %s %lld", kCallbackNames[i], (long long)s->values[i]);
            log_line(line);
            if (s->callbacks[i]) s->callbacks[i](s->values[i]);
        }
        if (!end) break;
        list = end + 1;
    }
}

intptr_t _Startup(intptr_t block, intptr_t module, intptr_t reserved, intptr_t programId,
                  intptr_t sizeOrdinal, intptr_t optionFlags) {
    char rest[128];
    char m[32];
    if (is_own_handle(module))
        snprintf(m, sizeof m, "M");
    else
        snprintf(m, sizeof m, "%lld", (long long)module);
    snprintf(rest, sizeof rest, "%s %lld %lld %lld %lld", m, (long long)reserved,
             (long long)programId, (long long)sizeOrdinal, (long long)optionFlags);
    log_call("_Startup", block, rest);
    return result("_Startup");
}

#ifndef OMIT_Paint
intptr_t _Paint(intptr_t block, intptr_t pixelBuffer, intptr_t x, intptr_t y) {
    const AdPixelBuffer* b = (const AdPixelBuffer*)pixelBuffer;
    char rest[96];
    if (b)
        snprintf(rest, sizeof rest, "%dx%d/%d %lld %lld", b->width, b->height, b->stride,
                 (long long)x, (long long)y);
    else
        snprintf(rest, sizeof rest, "0 %lld %lld", (long long)x, (long long)y);
    log_call("_Paint", block, rest);
    if (b && b->pixels)
        for (int row = 0; row < b->height; ++row)
            for (int col = 0; col < b->width; ++col)
                b->pixels[(size_t)row * (size_t)(b->stride / 4) + (size_t)col] = 0xFF336699u;
    fire_callbacks(block);
    return result("_Paint");
}
#endif

#define BLOCK_ONLY(fn)                              \
    intptr_t fn(intptr_t block) {                   \
        log_call(#fn, block, NULL);                 \
        return result(#fn);                         \
    }

#define BLOCK_AND_VALUE(fn)                         \
    intptr_t fn(intptr_t block, intptr_t value) {   \
        char rest[32];                              \
        snprintf(rest, sizeof rest, "%lld", (long long)value); \
        log_call(#fn, block, rest);                 \
        return result(#fn);                         \
    }

#ifndef OMIT_OnClick
BLOCK_ONLY(_OnClick)
#endif
#ifndef OMIT_SetCallback
intptr_t _SetCallback(intptr_t block, intptr_t callback, intptr_t value) {
    return register_callback("_SetCallback", CB_REPAINT, block, callback, value);
}
#endif
#ifndef OMIT_SetNetworkCallback
intptr_t _SetNetworkCallback(intptr_t block, intptr_t callback, intptr_t value) {
    return register_callback("_SetNetworkCallback", CB_NETWORK, block, callback, value);
}
#endif
#ifndef OMIT_SetAdRecordedCallback
intptr_t _SetAdRecordedCallback(intptr_t block, intptr_t callback, intptr_t value) {
    return register_callback("_SetAdRecordedCallback", CB_ADRECORDED, block, callback, value);
}
#endif
BLOCK_AND_VALUE(_SetBandwidthThrottle)
BLOCK_AND_VALUE(_SetMinimumAdDisplayTime)

intptr_t _IsConnectOkay(intptr_t block, intptr_t word) {
    log_call("_IsConnectOkay", block, word ? "ptr" : "0");
    if (word) *(int32_t*)word = (int32_t)number("ADVERT_RECORDER_STATE");
    return result("_IsConnectOkay");
}

BLOCK_ONLY(_RetryConnect)
BLOCK_AND_VALUE(_SetNetworkState)
#ifndef OMIT_SetProxy
BLOCK_ONLY(_SetProxy)
#endif

intptr_t _GetStatus(intptr_t block, intptr_t word, intptr_t reserved) {
    char rest[32];
    snprintf(rest, sizeof rest, "%s %lld", word ? "ptr" : "0", (long long)reserved);
    log_call("_GetStatus", block, rest);
    if (word) *(int32_t*)word = (int32_t)number("ADVERT_RECORDER_STATUS");
    return result("_GetStatus");
}

BLOCK_ONLY(_UseDefaultAd)
#ifndef OMIT_Shutdown
BLOCK_ONLY(_Shutdown)
#endif
BLOCK_ONLY(_debugTriggerEvent)
