// Records as the preprocess filter fills them for common jobs.
#pragma once

#include "filter/framework/inter_filter_records.h"

// An A4 page on A4 paper, margins of 1/6 inch, no fit, 100 %: what an empty
// ticket gives (landscape when portrait is false).
inline PageRecord A4Record(bool portrait = true)
{
    PageRecord r{};
    r.pageWidth = r.sheetWidth = 4960;
    r.pageHeight = r.sheetHeight = 7014;
    r.pageMarginX = r.pageMarginY = r.sheetMarginX = r.sheetMarginY = 100;
    r.pagePortrait = portrait ? 1 : 0;
    r.pageNumber = 1;
    r.resolution = 600;
    r.scalingPercent = 100;
    return r;
}
