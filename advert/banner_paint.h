/* Drawing of the house banner into the banner's pixel buffer. */
#ifndef ADVERT_BANNER_PAINT_H
#define ADVERT_BANNER_PAINT_H

#include "AdvertInterface.h"

/* Fills the buffer from (x, y) to its far corner with the banner: a gradient, a border,
 * the title large and the line below it, both centred and wrapped to fit. */
void paint_banner(const AdPixelBuffer* buffer, int x, int y, const char* title, const char* line);

#endif
