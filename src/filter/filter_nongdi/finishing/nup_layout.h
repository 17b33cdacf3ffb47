// The geometry of N-up sheets: the grid, the order in which pages fill its
// cells, the transform and clip that put a page into its cell, the sheet
// header and the border lines. Pure functions; all lengths in XPS units
// (1/96 inch), computed in single precision as the sheets are laid out,
// the border lines in double precision from those values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filter/framework/inter_filter_records.h"

// Built once, on the first page of the job.
struct NUpLayout {
    bool rotatedSheet = false;  // the sheet is laid out with width and height exchanged
    bool jobPortrait = true;
    std::int32_t direction = 0;  // presentation direction index, 0 to 3
    std::uint32_t columns = 1;
    std::uint32_t rows = 1;
    // order[row * columns + column]: the 0-based sequence number of the page in that cell.
    std::vector<std::uint32_t> order{0};
    std::uint32_t pagesPerSheet = 1;  // N, or 1 when N has no grid
    std::int32_t borderStyle = 0;     // 0 None ... 5 DashDotDot
    // Per page: the area the grid divides and the page's sequence number on its sheet.
    float usableWidth = 0;
    float usableHeight = 0;
    std::uint32_t sequence = 0;
};

// Whether the sheet is turned for N pages in a job of that orientation.
bool IsRotatedSheet(bool jobPortrait, std::int32_t pagesPerSheet) noexcept;

struct GridSize {
    std::uint32_t columns;
    std::uint32_t rows;
};
// The grid for N pages; 1 x 1 for any N outside 2, 4, 6, 8, 9, 16.
GridSize NUpGrid(std::int32_t pagesPerSheet, bool rotatedSheet) noexcept;

// The sequence number of the page in row r, column c (0 = top, left) for a
// presentation direction: 0 RightBottom, 1 BottomRight, 2 LeftBottom,
// 3 BottomLeft; any other index reads as 0.
std::uint32_t PresentationOrder(std::int32_t direction, std::uint32_t r, std::uint32_t c, std::uint32_t columns,
                                std::uint32_t rows) noexcept;

// The layout of the job's sheets from layoutDetail: [0] N, [1] the direction
// for landscape jobs, [2] for portrait jobs, [3] the border style.
NUpLayout MakeNUpLayout(const JobRecord& job);

// The sheet and page sizes one page record gives.
struct NUpPageGeometry {
    float marginX, marginY;                   // sheet margins, also taken as the page's
    float printableWidth, printableHeight;    // of the sheet
    float contentWidth, contentHeight;        // of the page, turned when it is landscape
    bool pagePortrait;
};
NUpPageGeometry PageGeometryOf(const PageRecord& record) noexcept;

// "<FixedPage ...><Canvas RenderTransform=...>": the sheet, with the margin
// canvas inside which the cells and lines are drawn.
std::string NUpSheetHeader(const NUpLayout& layout, const NUpPageGeometry& sheet);

// 0 none, 1 clockwise, 3 counter-clockwise.
int NUpQuarterTurn(bool jobPortrait, bool pagePortrait, std::int32_t direction) noexcept;

struct CellTransform {
    float m11, m12, m21, m22, dx, dy;
};
// The transform that puts the page (geometry page) into the cell of
// layout.sequence on a grid over layout.usableWidth x usableHeight.
CellTransform NUpCellTransform(const NUpLayout& layout, const NUpPageGeometry& page);

// The cell's Canvas start tag: the transform, the clip to the page's
// printable area, and the namespace declarations (space-separated) after it.
std::string NUpCellStartTag(const CellTransform& transform, const NUpPageGeometry& page, std::string_view namespaces);

// The border lines of a sheet of that printable size: vertical lines left to
// right, then horizontal lines top to bottom; empty for style 0 (or any
// style outside 0 to 5, read as Solid).
std::string NUpBorderLines(const NUpLayout& layout, float printableWidth, float printableHeight);
