#include "filter/filter_nongdi/preprocess/watermark_placement.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "filter/framework/classic_format.h"

namespace {

// sin(a) for a = 0..90 degrees, rounded to four decimals.
const std::array<double, 91>& SineTable()
{
    static const std::array<double, 91> table = [] {
        std::array<double, 91> t{};
        for (int a = 0; a <= 90; ++a)
            t[a] = std::round(std::sin(a * 3.14159265358979323846 / 180.0) * 10000.0) / 10000.0;
        return t;
    }();
    return table;
}

} // namespace

double WatermarkSine(std::int32_t degrees) noexcept
{
    const std::int32_t a = degrees % 360;  // the sign of degrees
    if (a < 0)
        return -WatermarkSine(-a);
    if (a > 180)
        return -WatermarkSine(a - 180);
    if (a > 90)
        return SineTable()[180 - a];
    return SineTable()[a];
}

double WatermarkCosine(std::int32_t degrees) noexcept { return WatermarkSine(degrees % 360 + 90); }

WatermarkMatrix WatermarkMatrixOf(std::int32_t degrees) noexcept
{
    const double c = WatermarkCosine(degrees);
    const double s = WatermarkSine(-degrees);
    return WatermarkMatrix{c, s, -s, c};
}

HRESULT PlaceWatermark(const WatermarkSettings& settings, std::int32_t pageWidth, std::int32_t pageHeight, float size,
                       float textWidth, float textHeight, WatermarkPlacement& placement)
{
    double mx = settings.marginX;
    double my = settings.marginY;
    if (settings.trim == 3) {
        mx -= size / 16;
        my -= size / 16;
    }

    double minX, maxX, minY, maxY;
    double boxWidth = textWidth;
    double boxHeight = textHeight;
    double circle = 0;
    if (settings.trim == 1) {
        circle = std::sqrt(std::pow(textHeight / 10000.0, 2) + std::pow(textWidth / 10000.0, 2)) * 5000.0;
        minX = minY = -circle;
        maxX = maxY = circle;
    } else {
        if (settings.trim == 2 || settings.trim == 3) {
            boxWidth = textWidth + 0.4 * textHeight;
            boxHeight = 1.2 * textHeight;
        }
        const double c = WatermarkCosine(settings.angle);
        const double s = WatermarkSine(settings.angle);
        minX = minY = HUGE_VAL;
        maxX = maxY = -HUGE_VAL;
        for (const double cx : {-boxWidth / 2, boxWidth / 2}) {
            for (const double cy : {-boxHeight / 2, boxHeight / 2}) {
                const double x = cx * c + cy * s;
                const double y = cy * c + cx * s;
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }

    const double left = mx - minX;
    const double right = pageWidth - mx - maxX;
    const double top = my - minY;
    const double bottom = pageHeight - my - maxY;
    const double middleX = pageWidth / 2;   // whole halves
    const double middleY = pageHeight / 2;
    double x;
    double y;
    switch (settings.position) {
    case 0: x = left; y = top; break;
    case 1: x = middleX; y = top; break;
    case 2: x = right; y = top; break;
    case 3: x = middleX; y = middleY; break;
    case 4: x = left; y = bottom; break;
    case 5: x = middleX; y = bottom; break;
    case 6: x = right; y = bottom; break;
    default: return E_FAIL;
    }
    placement.x = x * 0.16 + settings.adjustmentX * 96.0 / 72.0;
    placement.y = y * 0.16 + settings.adjustmentY * 96.0 / 72.0;
    placement.halfWidth = boxWidth * 0.08;
    placement.halfHeight = boxHeight * 0.08;
    placement.radius = circle * 0.16;
    return S_OK;
}

std::string WatermarkFrames(const WatermarkSettings& settings, const WatermarkPlacement& placement,
                            std::int32_t& counter)
{
    const WatermarkMatrix m = WatermarkMatrixOf(settings.angle);
    const double thickness = settings.fontSize * 96.0 / 600.0 * 0.5;
    const double hx = placement.halfWidth;
    const double hy = placement.halfHeight;
    std::string out;
    const auto rectangle = [&](double x0, double y0, double x1, double y1, double stroke) {
        out += FormatClassic("<Path Name=\"%s%%d_%d\" Opacity=\"%f\" Stroke=\"#%.6x\" StrokeThickness=\"%f\" StrokeLineJoin=\"Round\"",
                             kWatermarkPathName, counter, settings.opacity, static_cast<unsigned>(settings.colour), stroke);
        out += FormatClassic(" RenderTransform=\"%f,%f,%f,%f,%f,%f\" Data=\"M%f,%fL%f,%f %f,%f %f,%fZ\"/>", m.m11, m.m12,
                             m.m21, m.m22, placement.x, placement.y, x0, y0, x1, y0, x1, y1, x0, y1);
        ++counter;
    };
    switch (settings.trim) {
    case 1: {
        const double r = placement.radius;
        out += FormatClassic("<Path Name=\"%s%%d_%d\" Opacity=\"%f\" Stroke=\"#%.6x\" StrokeThickness=\"%f\" "
                             "RenderTransform=\"%f,%f,%f,%f,%f,%f\" Data=\"M%f,0A1,1 0 1 1 %f,0M%f,0A1,1 0 1 1 %f,0\"/>",
                             kWatermarkPathName, counter, settings.opacity, static_cast<unsigned>(settings.colour), thickness, m.m11,
                             m.m12, m.m21, m.m22, placement.x, placement.y, -r, r, r, -r);
        ++counter;
        break;
    }
    case 2:
        rectangle(-hx, -hy, hx, hy, thickness);
        break;
    case 3: {
        rectangle(-hx, -hy, hx, hy, thickness / 2);
        const std::int32_t inset = static_cast<std::int32_t>(settings.fontSize * 96 / 72) / 16;
        rectangle(-hx + inset, -hy + inset, hx - inset, hy - inset, thickness / 2);
        break;
    }
    default:
        break;
    }
    return out;
}
