#include "banner_paint.h"

#include <string.h>

#include "font.h"

enum { MAX_LINES = 16 };

typedef struct Canvas {
    uint32_t* pixels;
    int width;
    int height;
    int stride; /* in pixels */
} Canvas;

typedef struct Span {
    const char* text;
    int length;
} Span;

static const uint32_t kTop = 0xFF2F6FB5;
static const uint32_t kBottom = 0xFF143663;
static const uint32_t kBorder = 0xFF0A1F3D;
static const uint32_t kHighlight = 0xFF5C95D6;
static const uint32_t kTitle = 0xFFFFFFFF;
static const uint32_t kShadow = 0xFF0A1F3D;
static const uint32_t kLine = 0xFFFFD66B;

static uint32_t blend(uint32_t a, uint32_t b, int num, int den) {
    uint32_t out = 0xFF000000;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int ca = (int)((a >> shift) & 0xFF), cb = (int)((b >> shift) & 0xFF);
        out |= (uint32_t)(ca + (cb - ca) * num / den) << shift;
    }
    return out;
}

static void put(const Canvas* c, int x, int y, uint32_t colour) {
    if (x >= 0 && y >= 0 && x < c->width && y < c->height) c->pixels[y * c->stride + x] = colour;
}

static void fill_rows(const Canvas* c, int y, int rows, uint32_t colour) {
    for (int r = y; r < y + rows && r < c->height; ++r)
        for (int x = 0; x < c->width; ++x) put(c, x, r, colour);
}

static void draw_background(const Canvas* c) {
    const int den = c->height > 1 ? c->height - 1 : 1;
    for (int y = 0; y < c->height; ++y) fill_rows(c, y, 1, blend(kTop, kBottom, y, den));
    if (c->height > 4) fill_rows(c, 1, 1, kHighlight);
    for (int x = 0; x < c->width; ++x) {
        put(c, x, 0, kBorder);
        put(c, x, c->height - 1, kBorder);
    }
    for (int y = 0; y < c->height; ++y) {
        put(c, 0, y, kBorder);
        put(c, c->width - 1, y, kBorder);
    }
}

static int text_width(int length, int scale) {
    return length > 0 ? (length * FONT_ADVANCE - 1) * scale : 0;
}

static void draw_text(const Canvas* c, const char* text, int length, int x, int y, int scale,
                      uint32_t colour) {
    for (int i = 0; i < length; ++i, x += FONT_ADVANCE * scale)
        for (int row = 0; row < FONT_HEIGHT; ++row)
            for (int col = 0; col < FONT_WIDTH; ++col)
                if (font_pixel(text[i], col, row))
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx)
                            put(c, x + col * scale + dx, y + row * scale + dy, colour);
}

/* Greedy word wrap to at most `maxChars` per line.  Returns the number of lines, or -1
 * when a word would have to be broken and `mayBreak` is 0. */
static int wrap(const char* text, int maxChars, int mayBreak, Span* lines) {
    int count = 0;
    const char* p = text;
    if (maxChars < 1) return -1;
    while (*p && count < MAX_LINES) {
        while (*p == ' ') ++p;
        if (!*p) break;
        const char* start = p;
        const char* end = p; /* end of the last whole word that fits */
        const char* q = p;
        while (*q) {
            const char* wordEnd = q;
            while (*wordEnd && *wordEnd != ' ') ++wordEnd;
            if (wordEnd - start > maxChars) break;
            end = wordEnd;
            q = wordEnd;
            while (*q == ' ') ++q;
        }
        if (end == start) { /* one word longer than the line */
            if (!mayBreak) return -1;
            end = start + maxChars;
        }
        lines[count].text = start;
        lines[count].length = (int)(end - start);
        ++count;
        p = end;
    }
    return count;
}

typedef struct Layout {
    int titleScale;
    int lineScale;
    int lineCount;
    Span lines[MAX_LINES];
    int height;
} Layout;

static int layout_height(int titleScale, int lineScale, int lineCount) {
    const int lineStep = (FONT_HEIGHT + 1) * lineScale;
    return FONT_CAP_HEIGHT * titleScale + 2 * titleScale + lineCount * lineStep - lineScale;
}

/* The largest title and line scales at which everything fits without breaking words;
 * else the smallest scales with words broken and lines cut at the bottom. */
static void choose_layout(const char* title, const char* line, int width, int height,
                          Layout* out) {
    static const int kChoices[][2] = {{3, 2}, {3, 1}, {2, 2}, {2, 1}, {1, 2}, {1, 1}};
    const int titleLength = (int)strlen(title);
    for (size_t i = 0; i < sizeof kChoices / sizeof kChoices[0]; ++i) {
        const int ts = kChoices[i][0], ls = kChoices[i][1];
        if (text_width(titleLength, ts) > width) continue;
        const int n = wrap(line, (width / ls + 1) / FONT_ADVANCE, 0, out->lines);
        if (n < 0 || layout_height(ts, ls, n) > height) continue;
        out->titleScale = ts;
        out->lineScale = ls;
        out->lineCount = n;
        out->height = layout_height(ts, ls, n);
        return;
    }
    out->titleScale = 1;
    out->lineScale = 1;
    out->lineCount = wrap(line, (width + 1) / FONT_ADVANCE, 1, out->lines);
    while (out->lineCount > 0 && layout_height(1, 1, out->lineCount) > height) --out->lineCount;
    out->height = layout_height(1, 1, out->lineCount);
}

void paint_banner(const AdPixelBuffer* buffer, int x, int y, const char* title, const char* line) {
    if (!buffer || !buffer->pixels || buffer->width <= 0 || buffer->height <= 0) return;
    if (buffer->stride < buffer->width * 4 || buffer->stride % 4 != 0) return;
    if (x < 0 || y < 0 || x >= buffer->width || y >= buffer->height) return;
    Canvas c;
    c.stride = buffer->stride / 4;
    c.pixels = buffer->pixels + (size_t)y * (size_t)c.stride + (size_t)x;
    c.width = buffer->width - x;
    c.height = buffer->height - y;
    draw_background(&c);

    /* Narrow or low banners give their last pixels to the text. */
    const int pad = (c.width < 80 || c.height < 40) ? 1 : 3;
    const int innerWidth = c.width - 2 * pad, innerHeight = c.height - 2 * pad;
    if (innerWidth <= 0 || innerHeight <= 0) return;
    Layout layout;
    choose_layout(title, line, innerWidth, innerHeight, &layout);

    int top = pad + (innerHeight - layout.height) / 2;
    if (top < pad) top = pad;
    const int titleLength = (int)strlen(title);
    const int ts = layout.titleScale;
    const int titleX = (c.width - text_width(titleLength, ts)) / 2;
    draw_text(&c, title, titleLength, titleX + 1, top + 1, ts, kShadow);
    draw_text(&c, title, titleLength, titleX, top, ts, kTitle);

    int lineY = top + (FONT_CAP_HEIGHT + 2) * ts;
    const int ls = layout.lineScale;
    for (int i = 0; i < layout.lineCount; ++i, lineY += (FONT_HEIGHT + 1) * ls) {
        const Span* s = &layout.lines[i];
        draw_text(&c, s->text, s->length, (c.width - text_width(s->length, ls)) / 2, lineY, ls,
                  kLine);
    }
}
