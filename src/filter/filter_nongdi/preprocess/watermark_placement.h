// The text watermark: its settings, where on the page it stands (position,
// margins, adjustment), the frames around it and the angle's matrix terms
// from the driver's sine table. The outlines of the text are built by
// watermark_outlines.h into the same template.
//
// Lengths: the placement works in 600-units (1/600 inch) and answers in
// 1/96 inch, the unit of the markup (x 0.16).
#pragma once

#include <cstdint>
#include <string>

#include "platform/winerror.h"

// Every watermark path is named this, then the page index, "_" and the path counter.
inline constexpr const char* kWatermarkPathName = "halvane_watermark";

struct WatermarkSettings {
    std::int32_t enabled = 0;        // 1 when a text watermark is printed
    std::int32_t firstPageOnly = 0;  // 1: only on the job's first page
    std::int16_t fontSize = 0;       // points
    std::int32_t colour = 0;         // 0xRRGGBB
    std::int32_t weight = 0;         // 0 means 400 for the layout
    std::uint8_t italic = 0;
    std::uint8_t charSet = 0;
    double opacity = 0;              // 0.5 whenever enabled
    std::int16_t adjustmentX = 0;    // points
    std::int16_t adjustmentY = 0;    // points
    std::int16_t angle = 0;          // degrees
    std::int32_t trim = 0;           // 0 none, 1 Circle, 2 SingleFrame, 3 DoubleFrame
    std::int32_t position = 0;       // 0 UpperLeft ... 3 Center ... 6 LowerRight
    char16_t text[64] = {};          // at most 63 units, zero-terminated
    char16_t fontName[32] = {};      // at most 31 units, zero-terminated
    std::int32_t marginX = 0;        // 1/600 inch; 236 when enabled
    std::int32_t marginY = 0;
};

// sin and cos of a whole angle in degrees, from the table of sin(0..90)
// rounded to four decimals.
double WatermarkSine(std::int32_t degrees) noexcept;
double WatermarkCosine(std::int32_t degrees) noexcept;

// cos, sin(-angle), -sin(-angle), cos: the terms written before the offsets.
struct WatermarkMatrix {
    double m11, m12, m21, m22;
};
WatermarkMatrix WatermarkMatrixOf(std::int32_t degrees) noexcept;

struct WatermarkPlacement {
    double x = 0, y = 0;                    // the centre, 1/96 inch
    double halfWidth = 0, halfHeight = 0;   // of the frame box, 1/96 inch
    double radius = 0;                      // of the circle, 1/96 inch
};

// Where the watermark stands on a page pageWidth x pageHeight (600-units, as
// printed) for text of width textWidth and height textHeight at size F (all
// 600-units). E_FAIL for a position outside 0..6.
HRESULT PlaceWatermark(const WatermarkSettings& settings, std::int32_t pageWidth, std::int32_t pageHeight, float size,
                       float textWidth, float textHeight, WatermarkPlacement& placement);

// The frame paths for the settings' trim (none for 0), named from counter,
// which counts every path written. Throws std::bad_alloc.
std::string WatermarkFrames(const WatermarkSettings& settings, const WatermarkPlacement& placement,
                            std::int32_t& counter);
