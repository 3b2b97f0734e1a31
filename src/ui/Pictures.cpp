#include "Pictures.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace pictures {

namespace {

struct Rgba {
    int r, g, b, a = 255;
};

// A square canvas in design units (the picture's size at 96 dots per inch);
// every shape is a test of a point, sampled 4 × 4 times a pixel, so edges are
// smooth at any scale.
class Canvas {
  public:
    Canvas(int size, double designSize)
        : scale_(size / designSize),
          image_{size, size, std::vector<std::uint32_t>(std::size_t(size) * size)} {}

    using Shape = std::function<bool(double x, double y)>;

    void fill(const Shape& inside, Rgba colour) {
        constexpr int Samples = 4;
        for (int py = 0; py < image_.height; ++py) {
            for (int px = 0; px < image_.width; ++px) {
                int hits = 0;
                for (int sy = 0; sy < Samples; ++sy)
                    for (int sx = 0; sx < Samples; ++sx)
                        hits += inside((px + (sx + 0.5) / Samples) / scale_,
                                       (py + (sy + 0.5) / Samples) / scale_);
                if (hits)
                    blend(px, py, colour, double(hits) / (Samples * Samples));
            }
        }
    }

    Image take() { return std::move(image_); }

  private:
    // Source over destination, straight alpha.
    void blend(int x, int y, Rgba c, double coverage) {
        std::uint32_t& pixel = image_.pixels[std::size_t(y) * image_.width + x];
        const double sa = c.a / 255.0 * coverage;
        const double da = (pixel >> 24) / 255.0;
        const double oa = sa + da * (1 - sa);
        auto channel = [&](int source, int shift) {
            const double d = (pixel >> shift & 0xFF);
            return oa > 0 ? int(std::lround((source * sa + d * da * (1 - sa)) / oa)) : 0;
        };
        const int r = channel(c.r, 16), g = channel(c.g, 8), b = channel(c.b, 0);
        pixel = std::uint32_t(std::lround(oa * 255)) << 24 | std::uint32_t(r) << 16 |
                std::uint32_t(g) << 8 | std::uint32_t(b);
    }

    double scale_;
    Image image_;
};

using Shape = Canvas::Shape;

Shape Ellipse(double left, double top, double width, double height) {
    const double cx = left + width / 2, cy = top + height / 2, rx = width / 2, ry = height / 2;
    return [=](double x, double y) {
        const double dx = (x - cx) / rx, dy = (y - cy) / ry;
        return dx * dx + dy * dy <= 1;
    };
}

Shape Rect(double left, double top, double width, double height) {
    return [=](double x, double y) {
        return x >= left && x < left + width && y >= top && y < top + height;
    };
}

Shape Polygon(std::vector<std::pair<double, double>> points) {
    return [points = std::move(points)](double x, double y) {
        bool inside = false;
        for (std::size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
            const auto [xi, yi] = points[i];
            const auto [xj, yj] = points[j];
            if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
                inside = !inside;
        }
        return inside;
    };
}

// A stroke of the given width along a segment, with round ends.
Shape Line(double x1, double y1, double x2, double y2, double width) {
    return [=](double x, double y) {
        const double dx = x2 - x1, dy = y2 - y1;
        const double t =
            std::clamp(((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        const double ex = x - (x1 + t * dx), ey = y - (y1 + t * dy);
        return ex * ex + ey * ey <= width * width / 4;
    };
}

// A ring between two radii, from angle `from` through `sweep` degrees
// (counter-clockwise, 0 to the right, as on paper).
Shape Arc(double cx, double cy, double radius, double width, double from, double sweep) {
    return [=](double x, double y) {
        const double dx = x - cx, dy = cy - y;
        const double r = std::hypot(dx, dy);
        if (r < radius - width / 2 || r > radius + width / 2)
            return false;
        double angle = std::atan2(dy, dx) * 180 / std::numbers::pi - from;
        while (angle < 0)
            angle += 360;
        return angle <= sweep;
    };
}

Shape Outside(Shape outer, Shape inner) {
    return [=](double x, double y) { return outer(x, y) && !inner(x, y); };
}

// A filled disk with a one-unit edge.
void Disk(Canvas& c, double left, double top, double size, Rgba fill, Rgba edge) {
    c.fill(Ellipse(left - 0.5, top - 0.5, size + 1, size + 1), edge);
    c.fill(Ellipse(left + 0.5, top + 0.5, size - 1, size - 1), fill);
}

void Bulb(Canvas& c, Rgba glass, Rgba edge) {
    Disk(c, 4.5, 2.5, 7, glass, edge);
    c.fill(Rect(5, 10, 6, 4), {80, 80, 80});
    c.fill(Rect(6, 11, 4, 2), {150, 150, 150});
}

void Draw(Canvas& c, Picture picture) {
    const Rgba white{255, 255, 255};
    switch (picture) {
        case Picture::Blocking:
            Disk(c, 1.5, 1.5, 13, {210, 20, 20}, {120, 0, 0});
            c.fill(Rect(4, 7, 8, 2.5), white);
            break;
        case Picture::Unblocking:
            Disk(c, 1.5, 1.5, 13, {20, 160, 40}, {0, 80, 0});
            c.fill(Line(4.5, 8, 7, 10.5, 2), white);
            c.fill(Line(7, 10.5, 11.5, 5.5, 2), white);
            break;
        case Picture::LedOn: {
            const Rgba rays{230, 170, 0};
            c.fill(Line(8, 0, 8, 1.5, 1.2), rays);
            c.fill(Line(1, 6, 3, 6, 1.2), rays);
            c.fill(Line(13, 6, 15, 6, 1.2), rays);
            c.fill(Line(2.5, 1.5, 4, 3, 1.2), rays);
            c.fill(Line(13.5, 1.5, 12, 3, 1.2), rays);
            Bulb(c, {60, 255, 60}, {0, 120, 0});
            break;
        }
        case Picture::LedOff:
            Bulb(c, {0, 90, 0}, {0, 40, 0});
            break;
        case Picture::Reread: {
            const Rgba blue{20, 70, 200};
            c.fill(Arc(8, 8, 5.5, 2, 60, 280), blue);
            c.fill(Polygon({{14.5, 6.5}, {9.5, 6}, {13, 1.5}}), blue);
            break;
        }
        case Picture::ResetOrder: {
            const Rgba blue{20, 60, 170};
            c.fill(Rect(1, 3, 14, 11), blue);
            c.fill(Rect(2, 4, 12, 9), white);
            c.fill(Outside(Ellipse(5.5, 5, 5, 7), Ellipse(7, 6.5, 2, 4)), blue);
            break;
        }
        case Picture::Demo:
            c.fill(Polygon({{4, 2}, {14.2, 8}, {4, 14}}), {0, 90, 0});
            c.fill(Polygon({{5, 3.8}, {12.2, 8}, {5, 12.2}}), {30, 170, 30});
            break;
        case Picture::End: {
            c.fill(Rect(1, 1, 10, 14), {90, 60, 20});
            c.fill(Rect(2, 2, 8, 12), {170, 120, 60});
            const Rgba red{200, 20, 20};
            c.fill(Rect(6, 7, 6, 2), red);
            c.fill(Polygon({{15.5, 8}, {11, 4}, {11, 12}}), red);
            break;
        }
        case Picture::Information:
            Disk(c, 1.5, 1.5, 13, {30, 90, 210}, {10, 40, 120});
            c.fill(Ellipse(7, 3.5, 2, 2), white);
            c.fill(Rect(7, 6.5, 2, 6), white);
            break;
        case Picture::None:
        case Picture::LampOn:  // LampPicture draws the lamps
        case Picture::LampOff:
            break;
    }
}

int Grey(std::uint32_t pixel) {
    return int(((pixel >> 16 & 0xFF) * 11 + (pixel >> 8 & 0xFF) * 16 + (pixel & 0xFF) * 5) / 32);
}

}  // namespace

Image ButtonPicture(Picture picture, int size) {
    Canvas c(size, ButtonPictureSize);
    Draw(c, picture);
    return c.take();
}

Image DisabledPicture(const Image& normal) {
    Image out{normal.width, normal.height, std::vector<std::uint32_t>(normal.pixels.size())};
    auto at = [&](const Image& image, int x, int y) -> std::uint32_t {
        return x < 0 || y < 0 ? 0 : image.pixels[std::size_t(y) * image.width + x];
    };
    for (int y = 0; y < normal.height; ++y) {
        for (int x = 0; x < normal.width; ++x) {
            const std::uint32_t pixel = at(normal, x, y);
            std::uint32_t alpha = pixel >> 24;
            std::uint32_t level = std::uint32_t(128 + Grey(pixel) / 2);
            if (alpha < 128) {
                // The light edge: the dark parts of the shape one pixel up and left.
                const std::uint32_t shadow = at(normal, x - 1, y - 1);
                if ((shadow >> 24) >= 128 && Grey(shadow) < 160) {
                    alpha = shadow >> 24;
                    level = 255;
                }
            }
            out.pixels[std::size_t(y) * out.width + x] =
                alpha << 24 | level << 16 | level << 8 | level;
        }
    }
    return out;
}

Image LampPicture(bool lit, int size) {
    Canvas c(size, LampSize);
    c.fill(Ellipse(1, 1, 15, 15), {40, 40, 40});
    // A glass lit from the upper left: rings from the edge inwards.
    const Rgba outer = lit ? Rgba{0, 190, 0} : Rgba{0, 45, 0};
    const Rgba middle = lit ? Rgba{40, 255, 40} : Rgba{0, 80, 0};
    const Rgba centre = lit ? Rgba{220, 255, 220} : Rgba{40, 110, 40};
    c.fill(Ellipse(2, 2, 13, 13), outer);
    c.fill(Ellipse(3, 2.5, 9, 9), middle);
    c.fill(Ellipse(5, 4.5, 4, 4), centre);
    return c.take();
}

Image ProgramIcon(int size) {
    Canvas c(size, 32);
    // The reader: a dark case with a chip on its face and its LED.
    auto rounded = [](double left, double top, double width, double height, double r) -> Shape {
        return [=](double x, double y) {
            const double cx = std::clamp(x, left + r, left + width - r);
            const double cy = std::clamp(y, top + r, top + height - r);
            return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
        };
    };
    c.fill(rounded(2, 2, 28, 28, 5.5), {20, 25, 30});
    c.fill(rounded(3, 3, 26, 26, 4.5), {55, 65, 80});
    c.fill(rounded(7, 11, 15, 13, 2.5), {120, 90, 0});
    c.fill(rounded(8, 12, 13, 11, 1.5), {225, 180, 40});
    c.fill(Rect(14, 12, 1, 11), {120, 90, 0});
    c.fill(Rect(8, 17, 13, 1), {120, 90, 0});
    c.fill(Ellipse(20.5, 4.5, 7, 7), {0, 60, 0});
    c.fill(Ellipse(21.5, 5.5, 5, 5), {0, 200, 0});
    c.fill(Ellipse(22.5, 6, 2.5, 2.5), {200, 255, 200});
    return c.take();
}

}  // namespace pictures
