// The Direct2D pieces that geometry producers call: points, Bezier segments
// and the simplified geometry sink that receives an outline as figures of
// lines and cubic Bezier curves.
#pragma once

#include "platform/unknwn.h"

struct D2D1_POINT_2F {
    FLOAT x;
    FLOAT y;
};

// A cubic Bezier curve from the current point: two control points and the end point.
struct D2D1_BEZIER_SEGMENT {
    D2D1_POINT_2F point1;
    D2D1_POINT_2F point2;
    D2D1_POINT_2F point3;
};

enum D2D1_FILL_MODE : DWORD { D2D1_FILL_MODE_ALTERNATE = 0, D2D1_FILL_MODE_WINDING = 1 };
enum D2D1_PATH_SEGMENT : DWORD {
    D2D1_PATH_SEGMENT_NONE = 0,
    D2D1_PATH_SEGMENT_FORCE_UNSTROKED = 1,
    D2D1_PATH_SEGMENT_FORCE_ROUND_LINE_JOIN = 2,
};
enum D2D1_FIGURE_BEGIN : DWORD { D2D1_FIGURE_BEGIN_FILLED = 0, D2D1_FIGURE_BEGIN_HOLLOW = 1 };
enum D2D1_FIGURE_END : DWORD { D2D1_FIGURE_END_OPEN = 0, D2D1_FIGURE_END_CLOSED = 1 };

ZNTR_DEFINE_IID(ID2D1SimplifiedGeometrySink, "2CD9069E-12E2-11DC-9FED-001143A055F9");

// Receives one geometry: SetFillMode first, then figures, each BeginFigure,
// any number of AddLines / AddBeziers, EndFigure; Close at the end.
struct ID2D1SimplifiedGeometrySink : IUnknown {
    using Base = IUnknown;
    STDMETHOD_(void, SetFillMode)(D2D1_FILL_MODE fillMode) = 0;
    STDMETHOD_(void, SetSegmentFlags)(D2D1_PATH_SEGMENT vertexFlags) = 0;
    STDMETHOD_(void, BeginFigure)(D2D1_POINT_2F startPoint, D2D1_FIGURE_BEGIN figureBegin) = 0;
    STDMETHOD_(void, AddLines)(const D2D1_POINT_2F* points, UINT32 pointsCount) = 0;
    STDMETHOD_(void, AddBeziers)(const D2D1_BEZIER_SEGMENT* beziers, UINT32 beziersCount) = 0;
    STDMETHOD_(void, EndFigure)(D2D1_FIGURE_END figureEnd) = 0;
    STDMETHOD(Close)() = 0;

protected:
    ~ID2D1SimplifiedGeometrySink() = default;
};
