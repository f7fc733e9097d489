// The enhanced-metafile player's own parts: record layouts and constants, the drawing
// objects and device state, and the player, whose members live in EmfPlayer.cpp (state,
// objects and the record groups), EmfShapes.cpp (shapes, paths, clipping), EmfBitmaps.cpp
// and EmfText.cpp. Record layouts: [MS-EMF] Enhanced Metafile Format, section 2.3.
#pragma once

#include "MetafileLayout.h"

#include <cairo.h>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace metafile::emf {

// Record types that are drawn or change the drawing state.
enum : uint32_t {
    EMR_POLYBEZIER = 2,
    EMR_POLYGON = 3,
    EMR_POLYLINE = 4,
    EMR_POLYBEZIERTO = 5,
    EMR_POLYLINETO = 6,
    EMR_POLYPOLYLINE = 7,
    EMR_POLYPOLYGON = 8,
    EMR_SETWINDOWEXTEX = 9,
    EMR_SETWINDOWORGEX = 10,
    EMR_SETVIEWPORTEXTEX = 11,
    EMR_SETVIEWPORTORGEX = 12,
    EMR_SETPIXELV = 15,
    EMR_SETMAPMODE = 17,
    EMR_SETBKMODE = 18,
    EMR_SETPOLYFILLMODE = 19,
    EMR_SETTEXTALIGN = 22,
    EMR_SETTEXTCOLOR = 24,
    EMR_SETBKCOLOR = 25,
    EMR_MOVETOEX = 27,
    EMR_EXCLUDECLIPRECT = 29,
    EMR_INTERSECTCLIPRECT = 30,
    EMR_SCALEVIEWPORTEXTEX = 31,
    EMR_SCALEWINDOWEXTEX = 32,
    EMR_SAVEDC = 33,
    EMR_RESTOREDC = 34,
    EMR_SETWORLDTRANSFORM = 35,
    EMR_MODIFYWORLDTRANSFORM = 36,
    EMR_SELECTOBJECT = 37,
    EMR_CREATEPEN = 38,
    EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40,
    EMR_ELLIPSE = 42,
    EMR_RECTANGLE = 43,
    EMR_ROUNDRECT = 44,
    EMR_ARC = 45,
    EMR_CHORD = 46,
    EMR_PIE = 47,
    EMR_LINETO = 54,
    EMR_ARCTO = 55,
    EMR_POLYDRAW = 56,
    EMR_SETARCDIRECTION = 57,
    EMR_BEGINPATH = 59,
    EMR_ENDPATH = 60,
    EMR_CLOSEFIGURE = 61,
    EMR_FILLPATH = 62,
    EMR_STROKEANDFILLPATH = 63,
    EMR_STROKEPATH = 64,
    EMR_SELECTCLIPPATH = 67,
    EMR_ABORTPATH = 68,
    EMR_FILLRGN = 71,
    EMR_PAINTRGN = 74,
    EMR_EXTSELECTCLIPRGN = 75,
    EMR_BITBLT = 76,
    EMR_STRETCHBLT = 77,
    EMR_STRETCHDIBITS = 81,
    EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTA = 83,
    EMR_EXTTEXTOUTW = 84,
    EMR_POLYBEZIER16 = 85,
    EMR_POLYGON16 = 86,
    EMR_POLYLINE16 = 87,
    EMR_POLYBEZIERTO16 = 88,
    EMR_POLYLINETO16 = 89,
    EMR_POLYPOLYLINE16 = 90,
    EMR_POLYPOLYGON16 = 91,
    EMR_POLYDRAW16 = 92,
    EMR_CREATEMONOBRUSH = 93,
    EMR_CREATEDIBPATTERNBRUSHPT = 94,
    EMR_EXTCREATEPEN = 95,
};

enum : int32_t {
    MM_TEXT = 1,
    MM_LOMETRIC = 2,
    MM_HIMETRIC = 3,
    MM_LOENGLISH = 4,
    MM_HIENGLISH = 5,
    MM_TWIPS = 6,
    MM_ISOTROPIC = 7,
    MM_ANISOTROPIC = 8,
};

constexpr uint32_t STOCK_OBJECT = 0x80000000u;
constexpr uint32_t PS_STYLE_MASK = 0x0000000Fu;
constexpr uint32_t PS_NULL = 5;
constexpr uint32_t PS_ENDCAP_MASK = 0x00000F00u;
constexpr uint32_t PS_ENDCAP_SQUARE = 0x00000100u;
constexpr uint32_t PS_ENDCAP_FLAT = 0x00000200u;
constexpr uint32_t PS_JOIN_MASK = 0x0000F000u;
constexpr uint32_t PS_JOIN_BEVEL = 0x00001000u;
constexpr uint32_t PS_JOIN_MITER = 0x00002000u;
constexpr uint32_t PS_GEOMETRIC = 0x00010000u;
constexpr uint32_t BS_NULL = 1;
constexpr int32_t ALTERNATE = 1;
constexpr int32_t OPAQUE_BACKGROUND = 2;
constexpr uint32_t TA_UPDATECP = 1;
constexpr uint32_t TA_HORIZONTAL_MASK = 6;
constexpr uint32_t TA_RIGHT = 2;
constexpr uint32_t TA_CENTER = 6;
constexpr uint32_t TA_VERTICAL_MASK = 24;
constexpr uint32_t TA_BOTTOM = 8;
constexpr uint32_t TA_BASELINE = 24;
constexpr uint32_t ETO_OPAQUE = 2;
constexpr uint32_t ETO_CLIPPED = 4;
constexpr uint32_t RGN_AND = 1;
constexpr uint32_t RGN_COPY = 5;
constexpr int32_t AD_CLOCKWISE = 2;
constexpr int32_t MAX_SAVED_STATES = 1024;
// A bitmap in a record may not expand to more pixels than this.
constexpr uint64_t MAX_BITMAP_PIXELS = uint64_t(1) << 24;
// Farther than this from the raster, in pixels, a coordinate only wastes work.
constexpr double COORDINATE_LIMIT = 1.0e6;
// The Bézier approximation of a quarter ellipse.
constexpr double KAPPA = 0.5522847498307936;

// A record's bytes, read only inside the record.
struct Record {
    const uint8_t* data;
    uint32_t size;
    bool Has(size_t bytes) const { return size >= bytes; }
    uint32_t U32(size_t offset) const { return ReadLe32(data + offset); }
    int32_t S32(size_t offset) const { return ReadS32(data + offset); }
    int16_t S16(size_t offset) const { return ReadS16(data + offset); }
    float F32(size_t offset) const
    {
        const uint32_t bits = U32(offset);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // A block of the record given by its offset and length fields.
    bool HasBlock(uint64_t offset, uint64_t length) const
    {
        return offset <= size && length <= size - offset;
    }
};

struct Point {
    double x;
    double y;
};

struct Pen {
    bool null = false;
    bool cosmetic = true;
    double width = 0;
    uint32_t style = 0;
    COLORREF color = 0;
};

struct SurfaceCloser {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::shared_ptr<cairo_surface_t>;

struct Brush {
    bool null = false;
    COLORREF color = 0xFFFFFF;
    SurfacePtr pattern; // a tiled bitmap brush, when set
};

struct Font {
    double height = 0;
    int32_t escapement = 0;
    int32_t weight = 400;
    bool italic = false;
    std::string face;
};

struct GraphicsObject {
    enum class Kind { Empty, Pen, Brush, Font } kind = Kind::Empty;
    Pen pen;
    Brush brush;
    Font font;
};

struct DeviceState {
    int32_t mapMode = MM_TEXT;
    double windowOriginX = 0, windowOriginY = 0;
    double windowExtentX = 1, windowExtentY = 1;
    double viewportOriginX = 0, viewportOriginY = 0;
    double viewportExtentX = 1, viewportExtentY = 1;
    cairo_matrix_t world;
    Pen pen;
    Brush brush;
    Font font;
    int32_t polyFillMode = ALTERNATE;
    int32_t backgroundMode = OPAQUE_BACKGROUND;
    COLORREF backgroundColor = 0xFFFFFF;
    COLORREF textColor = 0;
    uint32_t textAlign = 0;
    int32_t arcDirection = 1;
    Point position { 0, 0 };
};

inline bool IsFinite(const cairo_matrix_t& m)
{
    return std::isfinite(m.xx) && std::isfinite(m.yx) && std::isfinite(m.xy) && std::isfinite(m.yy)
        && std::isfinite(m.x0) && std::isfinite(m.y0);
}

inline bool IsUsable(const cairo_matrix_t& m)
{
    const double det = m.xx * m.yy - m.xy * m.yx;
    return IsFinite(m) && std::fabs(det) > 1e-12 && std::isfinite(det);
}

// Plays the records of one picture onto a cairo context whose surface is the raster.
class EmfPlayback {
public:
    EmfPlayback(
        const EnhancedHeader& pictureHeader, cairo_t* context, int32_t width, int32_t height);
    ~EmfPlayback();
    EmfPlayback(const EmfPlayback&) = delete;
    EmfPlayback& operator=(const EmfPlayback&) = delete;

    void Play(const uint8_t* data);

private:
    // --- transforms ----------------------------------------------------------------------
    double PixelsPerMmX() const;
    double PixelsPerMmY() const;
    void SetPlayback(int32_t width, int32_t height);
    cairo_matrix_t PageTransform() const;
    cairo_matrix_t Transform() const;
    bool UseLogical();
    bool IsReasonable(const Point& p) const;
    static void SetColor(cairo_t* context, COLORREF color);

    // --- objects -------------------------------------------------------------------------
    GraphicsObject* ObjectAt(uint32_t index);
    void SelectStock(uint32_t stock);
    void SelectObject(uint32_t index);
    void CreatePen(uint32_t index, uint32_t style, double width, COLORREF color, bool geometric);
    void CreateBrush(uint32_t index, uint32_t style, COLORREF color, SurfacePtr pattern = nullptr);

    // --- painting ------------------------------------------------------------------------
    void SetFillSource(const Brush& brush);
    void FillCurrent(bool preserve);
    void StrokeCurrent();
    void FinishShape(bool fill, bool stroke);
    bool BeginShape();
    void EnsureCurrentPoint();

    // --- geometry ------------------------------------------------------------------------
    static bool ReadPoints(
        const Record& record, size_t offset, uint64_t count, bool small, std::vector<Point>& out);
    void Poly(const Record& record, uint32_t type, bool small);
    void PolyPoly(const Record& record, bool closed, bool small);
    void PolyDraw(const Record& record, bool small);
    static void Normalise(double& a, double& b);
    void AddEllipse(double left, double top, double right, double bottom);
    void Box(const Record& record, uint32_t type);
    void ArcShape(const Record& record, uint32_t type);
    void LineTo(const Record& record);
    void MoveTo(const Record& record);

    // --- paths ---------------------------------------------------------------------------
    void DropPendingPath();
    void EndPath();
    bool RestorePendingPath();
    void PaintPath(bool fill, bool stroke);

    // --- clipping ------------------------------------------------------------------------
    void ClipRect(const Record& record, bool exclude);
    bool AddRegion(const Record& record, size_t offset, uint32_t regionBytes);
    void SelectClipRegion(const Record& record);
    void SelectClipPath(const Record& record);
    void FillRegion(const Record& record, bool withObjectBrush);

    // --- bitmaps -------------------------------------------------------------------------
    void PaintBitmap(const SurfacePtr& bitmap, double xDest, double yDest, double cxDest,
        double cyDest, double xSrc, double ySrc, double cxSrc, double cySrc, uint32_t rop);
    void PaintPattern(double x, double y, double cx, double cy, uint32_t rop);
    void StretchDIBits(const Record& record);
    void BitBlt(const Record& record, bool stretch);
    void CreatePatternBrush(const Record& record);

    // --- text ----------------------------------------------------------------------------
    void CreateFont(const Record& record);
    void TextOut(const Record& record, bool wide);

    // --- state ---------------------------------------------------------------------------
    static bool ReadTransform(const Record& record, size_t offset, cairo_matrix_t& out);
    void ModifyWorld(const Record& record);
    void SaveState();
    void RestoreState(int32_t relative);

    // --- records: each group answers whether a record is one of its own -----------------
    void PlayRecord(uint32_t type, const Record& record);
    bool PlayShapeRecord(uint32_t type, const Record& record);
    bool PlayPathRecord(uint32_t type, const Record& record);
    bool PlayObjectRecord(uint32_t type, const Record& record);
    bool PlayStateRecord(uint32_t type, const Record& record);
    bool PlayBitmapRecord(uint32_t type, const Record& record);
    bool PlayTextRecord(uint32_t type, const Record& record);

    const EnhancedHeader& header;
    cairo_t* cr;
    std::vector<GraphicsObject> objects;
    DeviceState state;
    std::vector<DeviceState> saved;
    cairo_matrix_t playback;
    bool inPath = false;
    cairo_path_t* pendingPath = nullptr;
};

} // namespace metafile::emf
