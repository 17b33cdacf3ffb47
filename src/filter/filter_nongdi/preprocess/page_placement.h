// Page placement: the Canvas elements that carry a page's incoming content
// onto its new size, opened right after the rewritten FixedPage start tag.
// A fit-to-page canvas (with the binding gutter, and a quarter turn when the
// content and the target disagree in shape), a PageScaling canvas and a clip
// to the incoming size; every canvas but the clip is counted, and the page
// flow closes the counted ones at the end of the page.
//
// Lengths: the records' 1/600 inch become 1/96 inch (x 96 / 600); numbers
// are written with six decimals in the classic locale.
#pragma once

#include <cstdint>
#include <string>

#include "filter/framework/inter_filter_records.h"

// The fit scale of a source (a x b) onto a target (c x d): the smaller of
// the two ratios, truncated to six decimals, and whether the source is
// turned a quarter to fit (the two disagree in shape).
struct FitScale {
    double scale;
    bool rotated;
};
FitScale ComputeFitScale(double a, double b, double c, double d) noexcept;

// The binding edge (1 left, 2 top, 3 right, 4 bottom) as it applies to one
// page: turned once for a landscape page, mirrored for the back side of a
// two-sided job, mirrored again for a reversed orientation.
std::int32_t PageBindingEdge(const JobRecord& job, const PageRecord& page) noexcept;

struct PlacementMarkup {
    std::string markup;       // the canvas start tags, in order
    std::int32_t counted = 0; // canvases the page flow closes; the clip canvas is not counted
};

// The placement canvases for a page whose incoming size is width x height.
// Throws std::bad_alloc.
PlacementMarkup BuildPlacement(const JobRecord& job, const PageRecord& page, double height, double width);
