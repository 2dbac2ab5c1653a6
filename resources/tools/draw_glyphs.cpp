// Draws the row and button glyphs and the application icon as PNG files.
//
// Not part of the normal build: the PNGs it writes are committed. After changing a
// drawing, rebuild and rerun it from the repository's top folder:
//
//   g++ -std=c++20 -O2 -Wall -Wextra -fPIC resources/tools/draw_glyphs.cpp -o /tmp/draw_glyphs $(pkg-config --cflags --libs Qt6Gui) && /tmp/draw_glyphs resources
//
// It also refreshes the copies of the glyphs that the help page carries inside itself.
//
// Glyphs are drawn on a 16-unit grid: once at 16 x 16 and once at 32 x 32 ("name@2x.png",
// which Qt picks on 2x screens). Shapes sit on whole or half pixels so that strokes stay
// sharp; anti-aliasing is left on for the round and slanted parts only, where it helps.
// Backgrounds stay transparent so the row colour shows through.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRegularExpression>
#include <QString>
#include <QtMath>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

using Drawing = std::function<void(QPainter&, int px)>;

QImage render(const Drawing& draw, int px) {
    QImage image(px, px, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    draw(p, px);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The greyed image of a disabled button: the shape's lightness kept, colour dropped,
// lifted towards a light grey and partly transparent, as desktop styles grey icons.
QImage disabledOf(const QImage& source) {
    QImage out = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb c = line[x];
            const int a = qAlpha(c);
            if (a == 0) continue;
            const double lum = 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
            const int grey = qBound(0, int(std::lround(92 + lum * 0.52)), 255);
            line[x] = qRgba(grey, grey, grey, int(std::lround(a * 0.72)));
        }
    }
    return out;
}

bool save(const QImage& image, const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The help page shows the row and button glyphs as pictures inside the page itself;
// refresh those copies from the new drawings.
bool refreshHelpPage(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return true;  // no page to refresh
    QString page = QString::fromUtf8(file.readAll());
    file.close();
    const QRegularExpression picture(
        QStringLiteral("(data-glyph=\"(\\w+)\" src=\"data:image/png;base64,)[^\"]*\""));
    QString updated;
    qsizetype from = 0;
    for (auto it = picture.globalMatch(page); it.hasNext();) {
        const auto m = it.next();
        QFile png(QFileInfo(path).absolutePath() + "/glyphs/" + m.captured(2) + "@2x.png");
        if (!png.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "no glyph %s for the help page\n", qPrintable(m.captured(2)));
            return false;
        }
        updated += page.mid(from, m.capturedStart() - from) + m.captured(1) +
                   QString::fromLatin1(png.readAll().toBase64()) + '"';
        from = m.capturedEnd();
    }
    updated += page.mid(from);
    if (updated == page) return true;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(updated.toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

QPen pen(const QColor& colour, double width) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// ---- Tick marks ---------------------------------------------------------------------

// The green tick of a done Item: a dark rim around a bright stroke, lit from above.
void drawTick(QPainter& p, int px) {
    p.scale(px / 16.0, px / 16.0);
    QPainterPath tick;
    tick.moveTo(2.6, 8.4);
    tick.lineTo(6.2, 12.0);
    tick.lineTo(13.4, 3.8);
    p.strokePath(tick, pen(QColor(0x1d, 0x63, 0x1b), 4.0));
    QLinearGradient fill(0, 3, 0, 13);
    fill.setColorAt(0.0, QColor(0x8c, 0xe0, 0x5a));
    fill.setColorAt(1.0, QColor(0x2f, 0xa0, 0x28));
    p.strokePath(tick, QPen(QBrush(fill), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

// The check mark of the script editor's "Done" button: one firm stroke, no rim, so it
// reads as a button symbol rather than as a row state.
void drawDone(QPainter& p, int px) {
    p.scale(px / 16.0, px / 16.0);
    QPainterPath tick;
    tick.moveTo(3.0, 8.6);
    tick.lineTo(6.4, 12.0);
    tick.lineTo(13.2, 4.2);
    p.strokePath(tick, pen(QColor(0x25, 0x8a, 0x2a), px >= 32 ? 2.6 : 2.4));
}

// ---- Alarm clock --------------------------------------------------------------------

// Pixel art at 16 px: one letter per pixel, '.' transparent.
void drawPixels(QPainter& p, const char* const rows[16], const std::function<QColor(char)>& colour) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16 && rows[y][x]; ++x)
            if (rows[y][x] != '.') p.fillRect(QRect(x, y, 1, 1), colour(rows[y][x]));
    p.setRenderHint(QPainter::Antialiasing, true);
}

const QColor kClockRim(0x6b, 0x0b, 0x0b);
const QColor kClockRed(0xd4, 0x22, 0x18);
const QColor kClockLight(0xff, 0x6e, 0x52);
const QColor kClockFace(0xff, 0xfd, 0xf6);
const QColor kClockHand(0x26, 0x26, 0x26);
const QColor kRay(0xff, 0xbe, 0x00);
const QColor kRayEdge(0xd9, 0x8c, 0x00);

// The red alarm clock of a due Item, ringing: yellow rays on both sides and above. At
// 16 px a circle this small only stays sharp when it is placed pixel by pixel.
void drawAlarmClock16(QPainter& p) {
    static const char* const rows[16] = {
        ".......yy.......",
        "..KKK..YY..KKK..",
        ".KlRRK.KK.KRRlK.",
        ".KRRKKKKKKKKRRK.",
        "..KKKRRRRRRKKK..",
        ".y.KRlWWWWRRK.y.",
        "y..KRWWHWWWRK..y",
        "...KRWWHWWWRK...",
        "yy.KRWWHHHWRK.yy",
        "...KRWWWWWWRK...",
        "y..KRRWWWWRRK..y",
        ".y..KRRRRRRK..y.",
        ".....KKKKKK.....",
        "....KK....KK....",
        "...KK......KK...",
        "................",
    };
    drawPixels(p, rows, [](char c) {
        switch (c) {
            case 'K': return kClockRim;
            case 'R': return kClockRed;
            case 'l': return kClockLight;
            case 'W': return kClockFace;
            case 'H': return kClockHand;
            case 'Y': return kRay;
            default: return kRayEdge;  // 'y'
        }
    });
}

void drawAlarmClock32(QPainter& p) {
    p.scale(2.0, 2.0);  // the 16-unit grid, two pixels to a unit
    const double u = 0.5;  // one physical pixel
    const QPointF c(8.0, 9.0);
    const double r = 5.0;

    auto ray = [&](double deg, double from, double to) {
        const double a = qDegreesToRadians(deg);
        const QPointF d(std::cos(a), -std::sin(a));
        const QLineF line(c + d * from, c + d * to);
        p.setPen(pen(kRayEdge, 3 * u));
        p.drawLine(line);
        p.setPen(pen(kRay, 1.6 * u));
        p.drawLine(line);
    };
    ray(180, 6.1, 7.3);
    ray(0, 6.1, 7.3);
    ray(152, 6.6, 7.6);
    ray(28, 6.6, 7.6);
    ray(208, 6.4, 7.4);
    ray(-28, 6.4, 7.4);
    ray(90, 7.1, 8.3);

    // Legs.
    p.setPen(pen(kClockRim, 3 * u));
    p.drawLine(QPointF(5.3, 13.2), QPointF(4.0, 14.6));
    p.drawLine(QPointF(10.7, 13.2), QPointF(12.0, 14.6));

    // Bells at ten and two o'clock, with the hammer between them.
    p.setPen(Qt::NoPen);
    p.setBrush(kClockRim);
    p.drawRect(QRectF(7.0, 2.5, 2.0, 1.5));
    QLinearGradient bell(0, 2, 0, 7);
    bell.setColorAt(0.0, kClockLight);
    bell.setColorAt(1.0, kClockRed);
    p.setPen(QPen(kClockRim, 2 * u));
    p.setBrush(bell);
    for (double x : {3.9, 12.1}) {
        QPainterPath cap;
        const QPointF bc(x, 4.9);
        cap.moveTo(bc);
        cap.arcTo(QRectF(bc.x() - 2.6, bc.y() - 2.6, 5.2, 5.2), x < 8 ? 45 : -45, 180);
        cap.closeSubpath();
        p.drawPath(cap);
    }

    // Body: a red case around a white face.
    QRadialGradient body(c + QPointF(-1.6, -1.8), 7.0);
    body.setColorAt(0.0, kClockLight);
    body.setColorAt(1.0, QColor(0xb3, 0x10, 0x10));
    p.setPen(QPen(kClockRim, 1.5 * u));
    p.setBrush(body);
    p.drawEllipse(c, r - 0.75 * u, r - 0.75 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(kClockFace);
    p.drawEllipse(c, 3.2, 3.2);

    // Hands on whole pixels: straight up and to the right, a red hub where they meet.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(kClockHand);
    p.drawRect(QRectF(7.5, 6.5, 1.0, 3.0));
    p.drawRect(QRectF(7.5, 8.5, 2.5, 1.0));
    p.setBrush(kClockRed);
    p.drawRect(QRectF(7.5, 8.5, 1.0, 1.0));
    p.setRenderHint(QPainter::Antialiasing, true);
}

void drawAlarmClock(QPainter& p, int px) {
    if (px >= 32)
        drawAlarmClock32(p);
    else
        drawAlarmClock16(p);
}

// ---- Keyboards ----------------------------------------------------------------------

struct KeyboardColours {
    QColor rim, bodyTop, bodyBottom, key;
};

// A keyboard seen from above: a case with clipped corners, rows of keys and a space bar.
// All straight lines, so it is drawn on whole pixels of each size.
void drawKeyboard(QPainter& p, int px, const KeyboardColours& k) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    const bool hi = px >= 32;
    // An odd width (15 or 31) keeps the key rows centred in the case.
    const QRect caseRect = hi ? QRect(0, 7, 31, 18) : QRect(0, 4, 15, 9);
    QLinearGradient g(0, caseRect.top(), 0, caseRect.bottom());
    g.setColorAt(0.0, k.bodyTop);
    g.setColorAt(1.0, k.bodyBottom);
    p.fillRect(caseRect.adjusted(1, 1, -1, -1), g);
    const int l = caseRect.left(), t = caseRect.top();
    const int r = caseRect.right(), b = caseRect.bottom();
    p.fillRect(QRect(l + 1, t, r - l - 1, 1), k.rim);
    p.fillRect(QRect(l + 1, b, r - l - 1, 1), k.rim);
    p.fillRect(QRect(l, t + 1, 1, b - t - 1), k.rim);
    p.fillRect(QRect(r, t + 1, 1, b - t - 1), k.rim);
    if (hi) {  // a lighter inner edge along the top gives the case some depth
        p.fillRect(QRect(l + 1, t + 1, r - l - 1, 1), k.bodyTop.lighter(112));
    }

    auto key = [&](int x, int y, int w, int h) { p.fillRect(QRect(x, y, w, h), k.key); };
    if (!hi) {
        for (int x = 2; x <= 12; x += 2) key(x, 6, 1, 1);
        for (int x = 3; x <= 11; x += 2) key(x, 8, 1, 1);
        key(4, 10, 7, 1);
    } else {
        // Rows of 3 x 2 keys, 1-pixel gaps, the middle row set off by half a key.
        for (int i = 0; i < 7; ++i) key(2 + i * 4, 10, 3, 2);
        for (int i = 0; i < 6; ++i) key(4 + i * 4, 14, 3, 2);
        key(2, 18, 5, 2);
        key(8, 18, 15, 2);
        key(24, 18, 5, 2);
    }
    p.setRenderHint(QPainter::Antialiasing, true);
}

const KeyboardColours kGreyKeyboard{QColor(0x4d, 0x52, 0x57), QColor(0xf0, 0xf2, 0xf4),
                                    QColor(0xc2, 0xc7, 0xcc), QColor(0x5c, 0x62, 0x68)};
const KeyboardColours kGreenKeyboard{QColor(0x1b, 0x5e, 0x20), QColor(0x96, 0xe0, 0x74),
                                     QColor(0x3c, 0xa2, 0x38), QColor(0x17, 0x55, 0x1b)};

// ---- Application icon ---------------------------------------------------------------

// A calendar page whose days are keyboard keys, with the red alarm clock of a due Item in
// front of its lower right corner: the program's schedule and its typing in one picture.
// Designed on a 64-unit grid; every edge is rounded to whole pixels of the target size.
void drawIconScaled(QPainter& p, int px) {
    const double k = px / 64.0;
    auto S = [&](double v) { return std::round(v * k); };
    auto box = [&](double x0, double y0, double x1, double y1) {
        return QRectF(S(x0), S(y0), S(x1) - S(x0), S(y1) - S(y0));
    };
    const double line = std::max(1.0, std::round(px / 40.0));
    const QColor outline(0x4a, 0x4f, 0x55);

    // Soft shadow under the page, for the larger sizes.
    const QRectF page = box(3, 10, 48, 58);
    const double radius = std::max(2.0, 5.0 * k);
    if (px >= 48) {
        for (int i = 3; i >= 1; --i) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 0, 18));
            const double o = i * k * 0.9;
            p.drawRoundedRect(page.adjusted(-o * 0.3, o * 0.3, o * 0.3, o), radius + o, radius + o);
        }
    }

    // The page.
    QPainterPath pageShape;
    const QRectF inner = page.adjusted(line / 2, line / 2, -line / 2, -line / 2);
    pageShape.addRoundedRect(inner, radius, radius);
    QLinearGradient paper(0, page.top(), 0, page.bottom());
    paper.setColorAt(0.0, QColor(0xff, 0xff, 0xff));
    paper.setColorAt(1.0, QColor(0xe9, 0xed, 0xf1));
    p.fillPath(pageShape, paper);

    // Red header strip, clipped to the rounded page.
    p.save();
    p.setClipPath(pageShape);
    QLinearGradient red(0, page.top(), 0, S(23));
    red.setColorAt(0.0, QColor(0xf2, 0x4a, 0x3c));
    red.setColorAt(1.0, QColor(0xc2, 0x16, 0x12));
    p.fillRect(box(0, 0, 64, 23), red);
    p.fillRect(QRectF(page.left(), S(23), page.width(), line), QColor(0x8e, 0x10, 0x0e));
    p.restore();
    p.setPen(QPen(outline, line));
    p.setBrush(Qt::NoBrush);
    p.drawPath(pageShape);

    // Binder rings over the header.
    p.setPen(Qt::NoPen);
    for (double x : {13.0, 34.0}) {
        const QRectF ring = box(x, 5, x + 4, 16);
        p.setBrush(QColor(0x3a, 0x3e, 0x43));
        p.drawRoundedRect(ring, ring.width() / 2, ring.width() / 2);
        p.setBrush(QColor(0x9a, 0xa0, 0xa6));
        const QRectF shine = ring.adjusted(ring.width() * 0.3, ring.width() * 0.3,
                                           -ring.width() * 0.45, -ring.height() * 0.45);
        if (px >= 48) p.drawRoundedRect(shine, shine.width() / 2, shine.width() / 2);
    }

    // The days: keyboard keys, two rows and a space bar. Light caps over a darker lower
    // edge where there is room for them, plain blocks below 48 px.
    const double keyRadius = std::max(1.0, 1.6 * k);
    auto key = [&](double x0, double y0, double x1, double y1) {
        const QRectF cap = box(x0, y0, x1, y1);
        if (px < 48) {
            p.setRenderHint(QPainter::Antialiasing, false);
            p.fillRect(cap, QColor(0x7c, 0x83, 0x8a));
            p.fillRect(cap.adjusted(0, 0, 0, -1), QColor(0xa9, 0xb0, 0xb7));
            p.setRenderHint(QPainter::Antialiasing, true);
            return;
        }
        p.setBrush(QColor(0x7c, 0x83, 0x8a));
        p.drawRoundedRect(cap, keyRadius, keyRadius);
        const QRectF top = cap.adjusted(line, line, -line, -std::max(line * 2, std::round(2.2 * k)));
        QLinearGradient face(0, top.top(), 0, top.bottom());
        face.setColorAt(0.0, QColor(0xff, 0xff, 0xff));
        face.setColorAt(1.0, QColor(0xdc, 0xe1, 0xe6));
        p.setBrush(face);
        p.drawRoundedRect(top, keyRadius * 0.7, keyRadius * 0.7);
    };
    key(8, 27, 18, 35);
    key(21, 27, 31, 35);
    key(34, 27, 44, 35);
    key(8, 38, 18, 46);
    key(21, 38, 31, 46);
    key(8, 49, 31, 53);

    // The alarm clock, set off from the page by a thin white halo.
    const QPointF c(S(46.5), S(46.5));
    const double r = S(12.5);
    const QColor rim(0x6b, 0x0b, 0x0b);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(c, r + line * 1.5, r + line * 1.5);
    for (double dx : {-1.0, 1.0}) {  // bells
        QPainterPath cap;
        const QPointF bc = c + QPointF(dx * r * 0.76, -r * 0.76);
        const double br = r * 0.44;
        cap.moveTo(bc);
        cap.arcTo(QRectF(bc.x() - br, bc.y() - br, 2 * br, 2 * br), dx < 0 ? 45 : -45, 180);
        cap.closeSubpath();
        p.setPen(QPen(QColor(255, 255, 255), line * 3));
        p.setBrush(QColor(255, 255, 255));
        p.drawPath(cap);
        QLinearGradient bell(0, bc.y() - br, 0, bc.y() + br);
        bell.setColorAt(0.0, QColor(0xff, 0x6a, 0x50));
        bell.setColorAt(1.0, QColor(0xc8, 0x16, 0x12));
        p.setPen(QPen(rim, line));
        p.setBrush(bell);
        p.drawPath(cap);
    }
    QRadialGradient body(c + QPointF(-r * 0.35, -r * 0.4), r * 1.4);
    body.setColorAt(0.0, QColor(0xff, 0x5c, 0x48));
    body.setColorAt(1.0, QColor(0xb3, 0x10, 0x10));
    p.setPen(QPen(rim, line));
    p.setBrush(body);
    p.drawEllipse(c, r - line / 2, r - line / 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xfd, 0xf6));
    const double face = r * 0.68;
    p.drawEllipse(c, face, face);
    if (px >= 64) {  // hour ticks
        p.setPen(QPen(QColor(0x8a, 0x8f, 0x95), line, Qt::SolidLine, Qt::RoundCap));
        for (int h = 0; h < 12; h += 3) {
            const double a = qDegreesToRadians(h * 30.0);
            const QPointF d(std::sin(a), -std::cos(a));
            p.drawLine(c + d * face * 0.78, c + d * face * 0.92);
        }
    }
    const double hand = std::max(1.0, std::round(px / 32.0));
    p.setPen(QPen(QColor(0x26, 0x26, 0x26), hand, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(0, -face * 0.78));
    p.drawLine(c, c + QPointF(face * 0.55, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd0, 0x18, 0x18));
    p.drawEllipse(c, hand * 0.9, hand * 0.9);
}

// At 16 px there is room for the idea only, so each pixel is placed by hand.
void drawIcon16(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    auto px = [&](int x, int y, int w, int h, QColor c) {
        p.setBrush(c);
        p.drawRect(QRect(x, y, w, h));
    };
    const QColor outline(0x4a, 0x4f, 0x55), red(0xd8, 0x2a, 0x20), darkRed(0x8e, 0x10, 0x0e);
    px(1, 3, 11, 11, QColor(0xfb, 0xfc, 0xfd));  // page
    px(1, 3, 11, 3, red);                         // header
    px(1, 5, 11, 1, darkRed);
    px(1, 2, 11, 1, outline);                     // frame
    px(1, 14, 11, 1, outline);
    px(0, 3, 1, 11, outline);
    px(12, 3, 1, 11, outline);
    px(3, 1, 1, 3, QColor(0x3a, 0x3e, 0x43));     // rings
    px(9, 1, 1, 3, QColor(0x3a, 0x3e, 0x43));
    const QColor keyTop(0xa8, 0xaf, 0xb6), keyEdge(0x6a, 0x70, 0x76);
    for (int x : {2, 5, 8}) {                     // keys
        px(x, 7, 2, 1, keyTop);
        px(x, 8, 2, 1, keyEdge);
    }
    for (int x : {2, 5}) {
        px(x, 10, 2, 1, keyTop);
        px(x, 11, 2, 1, keyEdge);
    }
    // The clock: an 8 x 8 disc in the corner, with a white halo on its upper left.
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(12.0, 12.0);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(c, 4.6, 4.6);
    p.setBrush(QColor(0x6b, 0x0b, 0x0b));
    p.drawEllipse(c, 4.0, 4.0);
    p.setBrush(red);
    p.drawEllipse(c, 3.2, 3.2);
    p.setBrush(QColor(0xff, 0xfd, 0xf6));
    p.drawEllipse(c, 2.2, 2.2);
    p.setRenderHint(QPainter::Antialiasing, false);
    px(11, 10, 1, 2, QColor(0x26, 0x26, 0x26));
    px(11, 11, 2, 1, QColor(0x26, 0x26, 0x26));
}

// At 32 px the scaled design blurs its keys and hands; this one puts them on whole pixels.
void drawIcon32(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor outline(0x4a, 0x4f, 0x55);
    // Page with clipped corners, header strip, binder rings.
    QLinearGradient paper(0, 4, 0, 28);
    paper.setColorAt(0.0, QColor(0xff, 0xff, 0xff));
    paper.setColorAt(1.0, QColor(0xe6, 0xea, 0xee));
    p.fillRect(QRect(2, 5, 21, 23), paper);
    QLinearGradient red(0, 5, 0, 11);
    red.setColorAt(0.0, QColor(0xf2, 0x4a, 0x3c));
    red.setColorAt(1.0, QColor(0xc2, 0x16, 0x12));
    p.fillRect(QRect(2, 5, 21, 6), red);
    p.fillRect(QRect(2, 11, 21, 1), QColor(0x8e, 0x10, 0x0e));
    p.fillRect(QRect(2, 4, 21, 1), outline);
    p.fillRect(QRect(2, 28, 21, 1), outline);
    p.fillRect(QRect(1, 5, 1, 23), outline);
    p.fillRect(QRect(23, 5, 1, 23), outline);
    for (int x : {6, 16}) {
        p.fillRect(QRect(x, 2, 2, 5), QColor(0x3a, 0x3e, 0x43));
        p.fillRect(QRect(x, 3, 1, 2), QColor(0x7a, 0x80, 0x86));
    }
    // Keys: light caps with a darker lower row.
    auto key = [&](int x, int y, int w) {
        p.fillRect(QRect(x, y, w, 3), QColor(0x7c, 0x83, 0x8a));
        p.fillRect(QRect(x, y, w, 2), QColor(0xb0, 0xb7, 0xbe));
    };
    key(4, 14, 5);
    key(10, 14, 5);
    key(16, 14, 5);
    key(4, 19, 5);
    key(10, 19, 5);
    p.fillRect(QRect(4, 24, 11, 2), QColor(0x7c, 0x83, 0x8a));
    p.fillRect(QRect(4, 24, 11, 1), QColor(0xb0, 0xb7, 0xbe));

    // The clock.
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(24.0, 24.0);
    const QColor rim(0x6b, 0x0b, 0x0b);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(c, 8.2, 8.2);
    for (double dx : {-1.0, 1.0}) {
        QPainterPath cap;
        const QPointF bc = c + QPointF(dx * 5.2, -5.2);
        cap.moveTo(bc);
        cap.arcTo(QRectF(bc.x() - 3.1, bc.y() - 3.1, 6.2, 6.2), dx < 0 ? 45 : -45, 180);
        cap.closeSubpath();
        p.setPen(QPen(QColor(255, 255, 255), 2.4));
        p.setBrush(QColor(255, 255, 255));
        p.drawPath(cap);
        p.setPen(QPen(rim, 1.0));
        p.setBrush(QColor(0xe0, 0x30, 0x22));
        p.drawPath(cap);
    }
    QRadialGradient body(c + QPointF(-2.5, -2.8), 10.0);
    body.setColorAt(0.0, QColor(0xff, 0x5c, 0x48));
    body.setColorAt(1.0, QColor(0xb3, 0x10, 0x10));
    p.setPen(QPen(rim, 1.0));
    p.setBrush(body);
    p.drawEllipse(c, 6.5, 6.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xfd, 0xf6));
    p.drawEllipse(c, 4.6, 4.6);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(23, 20, 2, 5), QColor(0x26, 0x26, 0x26));
    p.fillRect(QRect(23, 23, 5, 2), QColor(0x26, 0x26, 0x26));
    p.fillRect(QRect(23, 23, 2, 2), QColor(0xd0, 0x18, 0x18));
    p.setRenderHint(QPainter::Antialiasing, true);
}

void drawIcon(QPainter& p, int px) {
    if (px == 16)
        drawIcon16(p);
    else if (px == 32)
        drawIcon32(p);
    else
        drawIconScaled(p, px);
}

}  // namespace

int main(int argc, char** argv) {
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    bool ok = true;

    struct Glyph {
        const char* name;
        Drawing draw;
        bool withDisabled;
    };
    const Glyph glyphs[] = {
        {"checked", drawAlarmClock, true},
        {"checkgrn", drawTick, true},
        {"keygrn", [](QPainter& p, int px) { drawKeyboard(p, px, kGreenKeyboard); }, true},
        {"keyboard", [](QPainter& p, int px) { drawKeyboard(p, px, kGreyKeyboard); }, true},
        {"done", drawDone, false},
    };
    for (const Glyph& g : glyphs) {
        for (int px : {16, 32}) {
            const QString suffix = px == 32 ? QStringLiteral("@2x") : QString();
            const QImage image = render(g.draw, px);
            const QString base = root + "/glyphs/" + g.name;
            ok &= save(image, base + suffix + ".png");
            if (g.withDisabled) ok &= save(disabledOf(image), base + "_disabled" + suffix + ".png");
        }
    }

    for (int px : {16, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/icons/hicolor/%2x%2/apps").arg(root).arg(px);
        ok &= save(render(drawIcon, px), dir + "/quorvel.png");
    }
    ok &= refreshHelpPage(root + "/quorvel.html");
    return ok ? 0 : 1;
}
