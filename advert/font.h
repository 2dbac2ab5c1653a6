/* The banner's own bitmap font: 5 x 8 cells (capitals 7 rows high, one row for
 * descenders), drawn with a one-pixel gap between characters. */
#ifndef ADVERT_FONT_H
#define ADVERT_FONT_H

enum { FONT_WIDTH = 5, FONT_HEIGHT = 8, FONT_ADVANCE = 6, FONT_CAP_HEIGHT = 7 };

/* 1 when the pixel at (col, row) of character c is set; unknown characters draw as '?'. */
int font_pixel(char c, int col, int row);

#endif
