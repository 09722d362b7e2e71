// A small antialiased rasteriser for the skin artwork: shapes are signed distance
// functions, filled by supersampling each pixel; colours are composited source-over
// in premultiplied form.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace art {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;  // straight (not premultiplied), 0..1
};

inline Rgba Hex(uint32_t rgb, double alpha = 1.0) {
    return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha};
}

inline Rgba Mix(const Rgba& a, const Rgba& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

inline Rgba WithAlpha(Rgba c, double alpha) {
    c.a = alpha;
    return c;
}

struct Box {
    double x0, y0, x1, y1;
};

// Negative inside, positive outside, roughly the distance to the edge in pixels.
using Distance = std::function<double(double, double)>;

struct Shape {
    Distance distance;
    Box bounds;
};

using Paint = std::function<Rgba(double, double)>;

inline Paint Solid(Rgba c) {
    return [c](double, double) { return c; };
}

// Linear gradient from (x0,y0) in c0 to (x1,y1) in c1, clamped beyond the ends.
inline Paint Linear(double x0, double y0, Rgba c0, double x1, double y1, Rgba c1) {
    const double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    return [=](double x, double y) {
        double t = len2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / len2 : 0;
        return Mix(c0, c1, std::clamp(t, 0.0, 1.0));
    };
}

inline Paint Vertical(double y0, Rgba c0, double y1, Rgba c1) { return Linear(0, y0, c0, 0, y1, c1); }

// ---- shapes ---------------------------------------------------------------------

inline Shape RoundRect(double x0, double y0, double x1, double y1, double radius) {
    const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const double hx = (x1 - x0) / 2, hy = (y1 - y0) / 2;
    const double r = std::min({radius, hx, hy});
    return {[=](double x, double y) {
                double qx = std::abs(x - cx) - hx + r, qy = std::abs(y - cy) - hy + r;
                double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
                return outside + std::min(std::max(qx, qy), 0.0) - r;
            },
            {x0, y0, x1, y1}};
}

inline Shape Rect(double x0, double y0, double x1, double y1) { return RoundRect(x0, y0, x1, y1, 0); }

inline Shape Circle(double cx, double cy, double r) {
    return {[=](double x, double y) { return std::hypot(x - cx, y - cy) - r; }, {cx - r, cy - r, cx + r, cy + r}};
}

// A stroke of half-width w from (ax,ay) to (bx,by) with round caps.
inline Shape Capsule(double ax, double ay, double bx, double by, double w) {
    return {[=](double x, double y) {
                double px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
                double len2 = dx * dx + dy * dy;
                double t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0, 1.0) : 0;
                return std::hypot(px - dx * t, py - dy * t) - w;
            },
            {std::min(ax, bx) - w, std::min(ay, by) - w, std::max(ax, bx) + w, std::max(ay, by) + w}};
}

struct Point {
    double x, y;
};

// A polygon (any winding), its corners rounded by `round` pixels.
inline Shape Polygon(std::vector<Point> pts, double round = 0) {
    Box box{1e9, 1e9, -1e9, -1e9};
    for (const Point& p : pts) {
        box = {std::min(box.x0, p.x), std::min(box.y0, p.y), std::max(box.x1, p.x), std::max(box.y1, p.y)};
    }
    return {[pts = std::move(pts), round](double x, double y) {
                double best = 1e18;
                bool inside = false;
                for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
                    const Point& a = pts[i];
                    const Point& b = pts[j];
                    double ex = b.x - a.x, ey = b.y - a.y, wx = x - a.x, wy = y - a.y;
                    double len2 = ex * ex + ey * ey;
                    double t = len2 > 0 ? std::clamp((wx * ex + wy * ey) / len2, 0.0, 1.0) : 0;
                    best = std::min(best, std::hypot(wx - ex * t, wy - ey * t));
                    if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
                }
                return (inside ? -best : best) - round;
            },
            {box.x0 - round, box.y0 - round, box.x1 + round, box.y1 + round}};
}

inline Shape Union(const Shape& a, const Shape& b) {
    return {[a, b](double x, double y) { return std::min(a.distance(x, y), b.distance(x, y)); },
            {std::min(a.bounds.x0, b.bounds.x0), std::min(a.bounds.y0, b.bounds.y0),
             std::max(a.bounds.x1, b.bounds.x1), std::max(a.bounds.y1, b.bounds.y1)}};
}

inline Shape Subtract(const Shape& a, const Shape& b) {
    return {[a, b](double x, double y) { return std::max(a.distance(x, y), -b.distance(x, y)); }, a.bounds};
}

inline Shape Intersect(const Shape& a, const Shape& b) {
    return {[a, b](double x, double y) { return std::max(a.distance(x, y), b.distance(x, y)); },
            {std::max(a.bounds.x0, b.bounds.x0), std::max(a.bounds.y0, b.bounds.y0),
             std::min(a.bounds.x1, b.bounds.x1), std::min(a.bounds.y1, b.bounds.y1)}};
}

// The shape turned by `degrees` (clockwise on screen) about (cx, cy).
inline Shape Rotate(const Shape& s, double degrees, double cx, double cy) {
    const double rad = degrees * 3.14159265358979323846 / 180.0;
    const double c = std::cos(rad), sn = std::sin(rad);
    Box b = s.bounds;
    double radius = 0;
    for (double x : {b.x0, b.x1}) {
        for (double y : {b.y0, b.y1}) radius = std::max(radius, std::hypot(x - cx, y - cy));
    }
    return {[s, c, sn, cx, cy](double x, double y) {
                double dx = x - cx, dy = y - cy;
                return s.distance(cx + dx * c + dy * sn, cy - dx * sn + dy * c);
            },
            {cx - radius, cy - radius, cx + radius, cy + radius}};
}

// ---- canvas ---------------------------------------------------------------------

// Shapes, paints and positions are given in design units (pixels at 100 %); a canvas
// drawn at another scale has scale times as many pixels each way (rounded half away from
// zero, as the skin library scales) and samples the shapes at pixel / scale. At scale 1
// every computation is the same as with no scale at all.
class Canvas {
public:
    Canvas(int width, int height, double scale = 1.0)
        : width_(int(std::lround(width * scale))),
          height_(int(std::lround(height * scale))),
          scale_(scale),
          pixels_(size_t(width_) * height_) {}

    int Width() const { return width_; }
    int Height() const { return height_; }
    double Scale() const { return scale_; }
    // A design length in this canvas's pixels.
    int Px(double v) const { return int(std::lround(v * scale_)); }

    Rgba At(int x, int y) const {
        const Rgba& p = pixels_[size_t(y) * width_ + x];
        if (p.a <= 0) return {};
        return {p.r / p.a, p.g / p.a, p.b / p.a, p.a};
    }

    // Composites colour c over pixel (x, y) with the given coverage.
    void Blend(int x, int y, Rgba c, double coverage) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        double a = std::clamp(c.a * coverage, 0.0, 1.0);
        Rgba& p = pixels_[size_t(y) * width_ + x];
        p = {c.r * a + p.r * (1 - a), c.g * a + p.g * (1 - a), c.b * a + p.b * (1 - a), a + p.a * (1 - a)};
    }

    // Fills the shape with the paint, each pixel sampled on an n x n grid.
    void Fill(const Shape& s, const Paint& paint, int n = 6) {
        const double k = scale_;
        int x0 = std::max(0, int(std::floor(s.bounds.x0 * k)) - 1);
        int y0 = std::max(0, int(std::floor(s.bounds.y0 * k)) - 1);
        int x1 = std::min(width_, int(std::ceil(s.bounds.x1 * k)) + 1);
        int y1 = std::min(height_, int(std::ceil(s.bounds.y1 * k)) + 1);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                // Far from the edge every sample agrees: one test decides.
                double centre = s.distance((x + 0.5) / k, (y + 0.5) / k) * k;
                int hits = 0;
                if (centre < -0.75) {
                    hits = n * n;
                } else if (centre <= 0.75) {
                    for (int j = 0; j < n; ++j) {
                        for (int i = 0; i < n; ++i) {
                            if (s.distance((x + (i + 0.5) / n) / k, (y + (j + 0.5) / n) / k) < 0) ++hits;
                        }
                    }
                }
                if (hits) Blend(x, y, paint((x + 0.5) / k, (y + 0.5) / k), double(hits) / (n * n));
            }
        }
    }

    void Fill(const Shape& s, Rgba c, int n = 6) { Fill(s, Solid(c), n); }

    // A soft shadow of the shape: full strength deep inside, half at the edge, fading
    // over about `blur` pixels outside.
    void Shadow(const Shape& s, Rgba c, double blur, double dx, double dy) {
        Shape moved{[s, dx, dy](double x, double y) { return s.distance(x - dx, y - dy); },
                    {s.bounds.x0 + dx - 3 * blur, s.bounds.y0 + dy - 3 * blur, s.bounds.x1 + dx + 3 * blur,
                     s.bounds.y1 + dy + 3 * blur}};
        const double k = scale_;
        int x0 = std::max(0, int(moved.bounds.x0 * k)), y0 = std::max(0, int(moved.bounds.y0 * k));
        int x1 = std::min(width_, int(moved.bounds.x1 * k) + 1), y1 = std::min(height_, int(moved.bounds.y1 * k) + 1);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                double d = moved.distance((x + 0.5) / k, (y + 0.5) / k);
                Blend(x, y, c, 0.5 * std::erfc(d / blur));
            }
        }
    }

    // Straight-alpha RGBA bytes, rows top to bottom.
    std::vector<uint8_t> Rgba8() const {
        std::vector<uint8_t> out;
        out.reserve(pixels_.size() * 4);
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                Rgba c = At(x, y);
                for (double v : {c.r, c.g, c.b, c.a}) out.push_back(ToByte(v));
            }
        }
        return out;
    }

    // RGB bytes of the canvas laid over an opaque backdrop colour.
    std::vector<uint8_t> Rgb8(Rgba backdrop = Hex(0xFFFFFF)) const {
        std::vector<uint8_t> out;
        out.reserve(pixels_.size() * 3);
        for (const Rgba& p : pixels_) {
            out.push_back(ToByte(p.r + backdrop.r * (1 - p.a)));
            out.push_back(ToByte(p.g + backdrop.g * (1 - p.a)));
            out.push_back(ToByte(p.b + backdrop.b * (1 - p.a)));
        }
        return out;
    }

    // Copies another canvas of the same scale onto this one with its top-left corner at
    // (x, y) in design units.
    void Draw(const Canvas& src, int x, int y) {
        x = Px(x);
        y = Px(y);
        for (int j = 0; j < src.height_; ++j) {
            for (int i = 0; i < src.width_; ++i) {
                Rgba c = src.At(i, j);
                if (c.a > 0) Blend(x + i, y + j, c, 1.0);
            }
        }
    }

    // The region (x, y, w, h), in design units, as a canvas of its own.
    Canvas Crop(int x, int y, int w, int h) const {
        Canvas out(w, h, scale_);
        x = Px(x);
        y = Px(y);
        w = out.width_;
        h = out.height_;
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) out.pixels_[size_t(j) * w + i] = pixels_[size_t(y + j) * width_ + (x + i)];
        }
        return out;
    }

private:
    static uint8_t ToByte(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

    int width_;
    int height_;
    double scale_;
    std::vector<Rgba> pixels_;  // premultiplied
};

}  // namespace art
