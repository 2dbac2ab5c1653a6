// Points and rectangles in root-window (screen) coordinates.
#pragma once

#include <ostream>

namespace quorvel::test {

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
    Point center() const { return {x + width / 2, y + height / 2}; }
    bool contains(Point p) const {
        return p.x >= x && p.y >= y && p.x < x + width && p.y < y + height;
    }
};

inline std::ostream& operator<<(std::ostream& o, const Point& p) {
    return o << "(" << p.x << "," << p.y << ")";
}
inline std::ostream& operator<<(std::ostream& o, const Rect& r) {
    return o << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

}  // namespace quorvel::test
