#include "StatusIconGenerator.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr int kSize = 96;
constexpr double kCornerRadius = 18;
constexpr int kSamples = 4; // per axis, for the symbol's edges
constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb kPlate = {0, 0, 255};
constexpr Rgb kSymbol = {255, 255, 255};
constexpr Rgb kSeeThrough = {0, 0, 0};

struct Point {
    double x, y;
};

// A symbol is a set of points: true where the symbol's colour goes.
using Shape = std::function<bool(Point)>;

double distanceToSegment(Point p, Point a, Point b) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

Shape stroke(Point a, Point b, double width) {
    return [=](Point p) { return distanceToSegment(p, a, b) <= width / 2; };
}

Shape ring(Point c, double radius, double width) {
    return [=](Point p) { return std::abs(std::hypot(p.x - c.x, p.y - c.y) - radius) <= width / 2; };
}

Shape disc(Point c, double radius) {
    return [=](Point p) { return std::hypot(p.x - c.x, p.y - c.y) <= radius; };
}

double cross(Point o, Point a, Point b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

Shape triangle(Point a, Point b, Point c) {
    return [=](Point p) {
        double d1 = cross(a, b, p), d2 = cross(b, c, p), d3 = cross(c, a, p);
        bool negative = d1 < 0 || d2 < 0 || d3 < 0;
        bool positive = d1 > 0 || d2 > 0 || d3 > 0;
        return !(negative && positive);
    };
}

Shape shapes(std::vector<Shape> parts) {
    return [parts = std::move(parts)](Point p) {
        return std::any_of(parts.begin(), parts.end(), [p](const Shape& s) { return s(p); });
    };
}

// The plate: the icon square with rounded corners, hard-edged so that its outside stays
// exactly black.
bool onPlate(double x, double y) {
    double cx = std::clamp(x, kCornerRadius, kSize - kCornerRadius);
    double cy = std::clamp(y, kCornerRadius, kSize - kCornerRadius);
    return std::hypot(x - cx, y - cy) <= kCornerRadius;
}

uint8_t mix(uint8_t from, uint8_t to, double t) {
    return static_cast<uint8_t>(std::lround(from + (to - from) * t));
}

StatusIcon render(const std::string& file, const Shape& symbol) {
    StatusIcon icon{file, kSize, std::vector<uint8_t>(size_t(kSize) * kSize * 3)};
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            Rgb c = kSeeThrough;
            if (onPlate(x + 0.5, y + 0.5)) {
                int hits = 0;
                for (int sy = 0; sy < kSamples; ++sy) {
                    for (int sx = 0; sx < kSamples; ++sx) {
                        hits += symbol({x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples}) ? 1 : 0;
                    }
                }
                double t = double(hits) / (kSamples * kSamples);
                c = {mix(kPlate.r, kSymbol.r, t), mix(kPlate.g, kSymbol.g, t), mix(kPlate.b, kSymbol.b, t)};
            }
            uint8_t* p = &icon.rgb[(size_t(y) * kSize + x) * 3];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
        }
    }
    return icon;
}

// Digital zoom: a magnifying glass with a plus in its lens.
Shape magnifier() {
    const Point lens = {40, 40};
    return shapes({ring(lens, 22, 8), stroke({56, 56}, {78, 78}, 13), stroke({29, 40}, {51, 40}, 6),
                   stroke({40, 29}, {40, 51}, 6)});
}

// Alignment: a target with cross hairs that stop short of its centre dot.
Shape alignment() {
    const Point c = {48, 48};
    return shapes({ring(c, 26, 6), disc(c, 5), stroke({12, 48}, {34, 48}, 6), stroke({62, 48}, {84, 48}, 6),
                   stroke({48, 12}, {48, 34}, 6), stroke({48, 62}, {48, 84}, 6)});
}

// Divergence: two arrows pointing apart from a centre line.
Shape divergent() {
    return shapes({stroke({48, 20}, {48, 76}, 6), stroke({22, 48}, {40, 48}, 8),
                   triangle({10, 48}, {28, 34}, {28, 62}), stroke({56, 48}, {74, 48}, 8),
                   triangle({86, 48}, {68, 34}, {68, 62})});
}

// Brightness: a sun with eight rays.
Shape brightness() {
    const Point c = {48, 48};
    std::vector<Shape> parts = {disc(c, 15)};
    constexpr int kRays = 8;
    for (int i = 0; i < kRays; ++i) {
        double a = 2 * kPi * i / kRays;
        parts.push_back(stroke({c.x + 23 * std::cos(a), c.y + 23 * std::sin(a)},
                               {c.x + 36 * std::cos(a), c.y + 36 * std::sin(a)}, 7));
    }
    return shapes(std::move(parts));
}

} // namespace

std::vector<StatusIcon> drawStatusIcons() {
    return {render("icon_magnifier.png", magnifier()), render("icon_alignmentmode.png", alignment()),
            render("icon_divergentmode.png", divergent()), render("icon_brightnessmode.png", brightness())};
}

bool writeStatusIcon(const StatusIcon& icon, const std::string& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(icon.size);
    png.height = static_cast<png_uint_32>(icon.size);
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, icon.rgb.data(), 0, nullptr) != 0;
}
