/* The plain C interface between the banner and the advertising library advert.so.
 * Shared by both sides so that a changed signature breaks the build, not the run.
 *
 * Every argument slot is an intptr_t, wide enough for an address.  Results count as
 * success when their low 16 bits are not all zero.  The first argument of every entry
 * point is the banner's context block (AdContextBlock*).
 */
#ifndef QUORVEL_ADVERT_INTERFACE_H
#define QUORVEL_ADVERT_INTERFACE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Owned by the banner and never touched by it after creation.  `word` points to a slot
 * of the banner, 0 at first, that the library may use for its own per-banner state. */
typedef struct AdContextBlock {
    intptr_t* word;
    intptr_t reserved; /* 0 */
} AdContextBlock;

/* What _Paint draws into: the banner's off-screen bitmap.  Pixels are 0xFFRRGGBB, row
 * after row, `stride` bytes apart. */
typedef struct AdPixelBuffer {
    int32_t width;
    int32_t height;
    int32_t stride;
    uint32_t* pixels;
} AdPixelBuffer;

/* Callbacks take the value registered with them (the banner) and must be called on the
 * window thread. */
typedef void (*AdCallback)(intptr_t value);

typedef intptr_t (*AdStartupFn)(intptr_t block, intptr_t module, intptr_t reserved,
                                intptr_t programId, intptr_t sizeOrdinal, intptr_t optionFlags);
typedef intptr_t (*AdPaintFn)(intptr_t block, intptr_t pixelBuffer, intptr_t x, intptr_t y);
typedef intptr_t (*AdBlockFn)(intptr_t block);
typedef intptr_t (*AdSetCallbackFn)(intptr_t block, intptr_t callback, intptr_t value);
typedef intptr_t (*AdSetValueFn)(intptr_t block, intptr_t value);
/* `word` is the address of an int32_t that receives the state. */
typedef intptr_t (*AdIsConnectOkayFn)(intptr_t block, intptr_t word);
/* `word` is the address of an int32_t that receives the status word. */
typedef intptr_t (*AdGetStatusFn)(intptr_t block, intptr_t word, intptr_t reserved);

/* The library side.  These names are the library's fixed exports. */
#ifdef ADVERT_LIBRARY
#define ADVERT_EXPORT __attribute__((visibility("default")))
ADVERT_EXPORT intptr_t _Startup(intptr_t block, intptr_t module, intptr_t reserved,
                                intptr_t programId, intptr_t sizeOrdinal, intptr_t optionFlags);
ADVERT_EXPORT intptr_t _Paint(intptr_t block, intptr_t pixelBuffer, intptr_t x, intptr_t y);
ADVERT_EXPORT intptr_t _OnClick(intptr_t block);
ADVERT_EXPORT intptr_t _SetCallback(intptr_t block, intptr_t callback, intptr_t value);
ADVERT_EXPORT intptr_t _SetNetworkCallback(intptr_t block, intptr_t callback, intptr_t value);
ADVERT_EXPORT intptr_t _SetAdRecordedCallback(intptr_t block, intptr_t callback, intptr_t value);
ADVERT_EXPORT intptr_t _SetBandwidthThrottle(intptr_t block, intptr_t value);
ADVERT_EXPORT intptr_t _SetMinimumAdDisplayTime(intptr_t block, intptr_t value);
ADVERT_EXPORT intptr_t _IsConnectOkay(intptr_t block, intptr_t word);
ADVERT_EXPORT intptr_t _RetryConnect(intptr_t block);
ADVERT_EXPORT intptr_t _SetNetworkState(intptr_t block, intptr_t value);
ADVERT_EXPORT intptr_t _SetProxy(intptr_t block);
ADVERT_EXPORT intptr_t _GetStatus(intptr_t block, intptr_t word, intptr_t reserved);
ADVERT_EXPORT intptr_t _UseDefaultAd(intptr_t block);
ADVERT_EXPORT intptr_t _Shutdown(intptr_t block);
ADVERT_EXPORT intptr_t _debugTriggerEvent(intptr_t block);
#endif

#ifdef __cplusplus
}
#endif

#endif
