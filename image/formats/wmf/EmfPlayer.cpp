// Enhanced-metafile playback. Logical coordinates go through the world transform, then
// the page transform (mapping mode, window and viewport) into the reference device, and
// finally through the playback transform that fits the picture frame onto the raster.
// Record layouts: [MS-EMF] Enhanced Metafile Format, section 2.3.
#include "EmfPlayer.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace metafile {

namespace {

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

    bool IsFinite(const cairo_matrix_t& m)
    {
        return std::isfinite(m.xx) && std::isfinite(m.yx) && std::isfinite(m.xy)
            && std::isfinite(m.yy) && std::isfinite(m.x0) && std::isfinite(m.y0);
    }

    bool IsUsable(const cairo_matrix_t& m)
    {
        const double det = m.xx * m.yy - m.xy * m.yx;
        return IsFinite(m) && std::fabs(det) > 1e-12 && std::isfinite(det);
    }

    // Decodes the bitmap of a record (a BITMAPINFO and its bits) into a cairo surface, rows
    // top first. Uncompressed 1, 4, 8, 16, 24 and 32-bit bitmaps are read; others give null.
    SurfacePtr DecodeRecordBitmap(const Record& record, uint32_t infoOffset, uint32_t infoSize,
        uint32_t bitsOffset, uint32_t bitsSize)
    {
        if (infoSize < 40 || !record.HasBlock(infoOffset, infoSize)
            || !record.HasBlock(bitsOffset, bitsSize))
            return nullptr;
        const uint8_t* info = record.data + infoOffset;
        const uint32_t headerSize = ReadLe32(info);
        const int32_t width = ReadS32(info + 4);
        const int32_t rawHeight = ReadS32(info + 8);
        const uint16_t bpp = ReadLe16(info + 14);
        const uint32_t compression = ReadLe32(info + 16);
        uint32_t used = ReadLe32(info + 32);
        if (headerSize < 40 || headerSize > infoSize || width <= 0 || rawHeight == 0
            || rawHeight == INT32_MIN)
            return nullptr;
        const bool topDown = rawHeight < 0;
        const int32_t height = topDown ? -rawHeight : rawHeight;
        if (uint64_t(width) * uint64_t(height) > MAX_BITMAP_PIXELS)
            return nullptr;
        if (compression != 0 && !(compression == 3 && (bpp == 16 || bpp == 32)))
            return nullptr;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            return nullptr;

        std::vector<uint32_t> colors;
        if (bpp <= 8) {
            const uint32_t maxColors = 1u << bpp;
            if (used == 0 || used > maxColors)
                used = maxColors;
            const uint64_t tableBytes = uint64_t(used) * 4;
            if (tableBytes > infoSize - headerSize)
                used = uint32_t((infoSize - headerSize) / 4);
            colors.assign(maxColors, 0);
            for (uint32_t i = 0; i < used; i++) {
                const uint8_t* q = info + headerSize + size_t(i) * 4;
                colors[i] = uint32_t(q[0]) | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16);
            }
        }
        uint32_t redMask = 0x7C00, greenMask = 0x03E0, blueMask = 0x001F;
        if (compression == 3 && bpp == 16 && infoSize >= headerSize + 12 && headerSize == 40) {
            redMask = ReadLe32(info + 40);
            greenMask = ReadLe32(info + 44);
            blueMask = ReadLe32(info + 48);
        }

        const uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
        if (stride * uint64_t(height) > bitsSize)
            return nullptr;
        cairo_surface_t* created = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        if (cairo_surface_status(created) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(created);
            return nullptr;
        }
        SurfacePtr surface(created, SurfaceCloser());
        cairo_surface_flush(created);
        uint8_t* target = cairo_image_surface_get_data(created);
        const int targetStride = cairo_image_surface_get_stride(created);
        const uint8_t* bits = record.data + bitsOffset;

        auto channel = [](uint32_t value, uint32_t mask) -> uint32_t {
            if (mask == 0)
                return 0;
            while (!(mask & 1u)) {
                mask >>= 1;
                value >>= 1;
            }
            return (value & mask) * 255u / mask;
        };
        for (int32_t y = 0; y < height; y++) {
            const int32_t sourceRow = topDown ? y : height - 1 - y;
            const uint8_t* row = bits + size_t(sourceRow) * size_t(stride);
            auto* out = reinterpret_cast<uint32_t*>(target + size_t(y) * size_t(targetStride));
            for (int32_t x = 0; x < width; x++) {
                uint32_t pixel = 0;
                switch (bpp) {
                case 1:
                    pixel = colors[(row[x >> 3] >> (7 - (x & 7))) & 1];
                    break;
                case 4:
                    pixel = colors[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
                    break;
                case 8:
                    pixel = colors[row[x]];
                    break;
                case 16: {
                    const uint32_t v = ReadLe16(row + size_t(x) * 2);
                    pixel = (channel(v, redMask) << 16) | (channel(v, greenMask) << 8)
                        | channel(v, blueMask);
                    break;
                }
                case 24: {
                    const uint8_t* p = row + size_t(x) * 3;
                    pixel = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
                    break;
                }
                default: {
                    const uint8_t* p = row + size_t(x) * 4;
                    pixel = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
                    break;
                }
                }
                out[x] = pixel;
            }
        }
        cairo_surface_mark_dirty(created);
        return surface;
    }

    std::string Utf16ToUtf8(const uint8_t* text, uint32_t count)
    {
        std::string out;
        out.reserve(count);
        for (uint32_t i = 0; i < count; i++) {
            uint32_t c = ReadLe16(text + size_t(i) * 2);
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
                const uint32_t low = ReadLe16(text + size_t(i + 1) * 2);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i++;
                }
            }
            if ((c >= 0xD800 && c < 0xE000) || c == 0)
                c = 0xFFFD;
            if (c < 0x80) {
                out += char(c);
            } else if (c < 0x800) {
                out += char(0xC0 | (c >> 6));
                out += char(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += char(0xE0 | (c >> 12));
                out += char(0x80 | ((c >> 6) & 0x3F));
                out += char(0x80 | (c & 0x3F));
            } else {
                out += char(0xF0 | (c >> 18));
                out += char(0x80 | ((c >> 12) & 0x3F));
                out += char(0x80 | ((c >> 6) & 0x3F));
                out += char(0x80 | (c & 0x3F));
            }
        }
        return out;
    }

    class Player {
    public:
        Player(const EnhancedHeader& pictureHeader, cairo_t* context, int32_t width, int32_t height)
            : header(pictureHeader)
            , cr(context)
            , objects(pictureHeader.handles)
        {
            cairo_matrix_init_identity(&state.world);
            SetPlayback(width, height);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        }

        void Play(const uint8_t* data)
        {
            size_t offset = ReadLe32(data + 4);
            while (offset + 8 <= header.bytes) {
                const Record record { data + offset, ReadLe32(data + offset + 4) };
                const uint32_t type = ReadLe32(data + offset);
                // The record walk was checked before; this only keeps the loop finite.
                if (type == EMR_EOF || record.size < 8 || record.size > header.bytes - offset)
                    break;
                PlayRecord(type, record);
                offset += record.size;
                if (cairo_status(cr) != CAIRO_STATUS_SUCCESS)
                    break;
            }
        }

    private:
        const EnhancedHeader& header;
        cairo_t* cr;
        std::vector<GraphicsObject> objects;
        DeviceState state;
        std::vector<DeviceState> saved;
        cairo_matrix_t playback;
        bool inPath = false;
        cairo_path_t* pendingPath = nullptr;

    public:
        ~Player()
        {
            if (pendingPath)
                cairo_path_destroy(pendingPath);
        }

    private:
        // Reference-device pixels per millimetre.
        double PixelsPerMmX() const
        {
            return header.millimetresWidth > 0 && header.deviceWidth > 0
                ? double(header.deviceWidth) / header.millimetresWidth
                : 96.0 / 25.4;
        }
        double PixelsPerMmY() const
        {
            return header.millimetresHeight > 0 && header.deviceHeight > 0
                ? double(header.deviceHeight) / header.millimetresHeight
                : 96.0 / 25.4;
        }

        // The raster is the bounds rectangle in reference-device pixels (scaled when the
        // picture had to shrink). Mapping the bounds rather than the frame keeps the picture
        // undistorted when a writer's frame and bounds disagree.
        void SetPlayback(int32_t width, int32_t height)
        {
            const double left = header.bounds.left;
            const double top = header.bounds.top;
            const double spanX = std::max(double(header.bounds.right) - left, 1.0);
            const double spanY = std::max(double(header.bounds.bottom) - top, 1.0);
            cairo_matrix_init(&playback, width / spanX, 0, 0, height / spanY, -left * width / spanX,
                -top * height / spanY);
        }

        // Logical units to reference-device pixels.
        cairo_matrix_t PageTransform() const
        {
            double scaleX = 1, scaleY = 1;
            switch (state.mapMode) {
            case MM_LOMETRIC:
                scaleX = PixelsPerMmX() * 0.1, scaleY = -PixelsPerMmY() * 0.1;
                break;
            case MM_HIMETRIC:
                scaleX = PixelsPerMmX() * 0.01, scaleY = -PixelsPerMmY() * 0.01;
                break;
            case MM_LOENGLISH:
                scaleX = PixelsPerMmX() * 0.254, scaleY = -PixelsPerMmY() * 0.254;
                break;
            case MM_HIENGLISH:
                scaleX = PixelsPerMmX() * 0.0254, scaleY = -PixelsPerMmY() * 0.0254;
                break;
            case MM_TWIPS:
                scaleX = PixelsPerMmX() * 25.4 / 1440, scaleY = -PixelsPerMmY() * 25.4 / 1440;
                break;
            case MM_ISOTROPIC:
            case MM_ANISOTROPIC:
                if (state.windowExtentX != 0 && state.windowExtentY != 0) {
                    scaleX = state.viewportExtentX / state.windowExtentX;
                    scaleY = state.viewportExtentY / state.windowExtentY;
                    if (state.mapMode == MM_ISOTROPIC) {
                        const double size = std::min(std::fabs(scaleX), std::fabs(scaleY));
                        scaleX = std::copysign(size, scaleX);
                        scaleY = std::copysign(size, scaleY);
                    }
                }
                break;
            default:
                break;
            }
            cairo_matrix_t page;
            cairo_matrix_init(&page, scaleX, 0, 0, scaleY,
                state.viewportOriginX - state.windowOriginX * scaleX,
                state.viewportOriginY - state.windowOriginY * scaleY);
            return page;
        }

        // Logical units to raster pixels.
        cairo_matrix_t Transform() const
        {
            const cairo_matrix_t page = PageTransform();
            cairo_matrix_t worldPage, full;
            cairo_matrix_multiply(&worldPage, &state.world, &page);
            cairo_matrix_multiply(&full, &worldPage, &playback);
            return full;
        }

        // Sets the logical transform on the context; false when it cannot map anything.
        bool UseLogical()
        {
            const cairo_matrix_t m = Transform();
            if (!IsUsable(m))
                return false;
            cairo_set_matrix(cr, &m);
            return true;
        }

        bool IsReasonable(const Point& p) const
        {
            const cairo_matrix_t m = Transform();
            double x = p.x, y = p.y;
            cairo_matrix_transform_point(&m, &x, &y);
            return std::fabs(x) < COORDINATE_LIMIT && std::fabs(y) < COORDINATE_LIMIT;
        }

        static void SetColor(cairo_t* context, COLORREF color)
        {
            cairo_set_source_rgb(context, GetRValue(color) / 255.0, GetGValue(color) / 255.0,
                GetBValue(color) / 255.0);
        }

        // --- objects ---------------------------------------------------------------------

        GraphicsObject* ObjectAt(uint32_t index)
        {
            return index < objects.size() ? &objects[index] : nullptr;
        }

        void SelectStock(uint32_t stock)
        {
            switch (stock) {
            case 0: // white brush
            case 1: // light grey
            case 2: // grey
            case 3: // dark grey
            case 4: { // black
                static const uint8_t levels[] = { 255, 192, 128, 64, 0 };
                state.brush = Brush {};
                state.brush.color = RGB(levels[stock], levels[stock], levels[stock]);
                break;
            }
            case 5:
                state.brush = Brush {};
                state.brush.null = true;
                break;
            case 6:
            case 7:
                state.pen = Pen {};
                state.pen.color = stock == 6 ? 0xFFFFFF : 0;
                break;
            case 8:
                state.pen = Pen {};
                state.pen.null = true;
                break;
            case 18: // the context's own brush and pen: white and black
                state.brush = Brush {};
                break;
            case 19:
                state.pen = Pen {};
                break;
            default:
                if (stock >= 10 && stock <= 17)
                    state.font = Font {};
                break;
            }
        }

        void SelectObject(uint32_t index)
        {
            if (index & STOCK_OBJECT) {
                SelectStock(index & ~STOCK_OBJECT);
                return;
            }
            const GraphicsObject* object = ObjectAt(index);
            if (!object)
                return;
            switch (object->kind) {
            case GraphicsObject::Kind::Pen:
                state.pen = object->pen;
                break;
            case GraphicsObject::Kind::Brush:
                state.brush = object->brush;
                break;
            case GraphicsObject::Kind::Font:
                state.font = object->font;
                break;
            default:
                break;
            }
        }

        void CreatePen(uint32_t index, uint32_t style, double width, COLORREF color, bool geometric)
        {
            GraphicsObject* object = ObjectAt(index);
            if (!object)
                return;
            *object = GraphicsObject {};
            object->kind = GraphicsObject::Kind::Pen;
            object->pen.style = style;
            object->pen.null = (style & PS_STYLE_MASK) == PS_NULL;
            object->pen.width = std::fabs(width);
            object->pen.cosmetic = !geometric || width == 0;
            object->pen.color = color & 0xFFFFFF;
        }

        void CreateBrush(
            uint32_t index, uint32_t style, COLORREF color, SurfacePtr pattern = nullptr)
        {
            GraphicsObject* object = ObjectAt(index);
            if (!object)
                return;
            *object = GraphicsObject {};
            object->kind = GraphicsObject::Kind::Brush;
            object->brush.null = style == BS_NULL;
            object->brush.color = color & 0xFFFFFF;
            object->brush.pattern = std::move(pattern);
        }

        // --- painting --------------------------------------------------------------------

        void SetFillSource(const Brush& brush)
        {
            if (brush.pattern) {
                cairo_pattern_t* pattern = cairo_pattern_create_for_surface(brush.pattern.get());
                cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
                cairo_set_source(cr, pattern);
                cairo_pattern_destroy(pattern);
            } else {
                SetColor(cr, brush.color);
            }
        }

        void FillCurrent(bool preserve)
        {
            if (!state.brush.null) {
                cairo_set_fill_rule(cr,
                    state.polyFillMode == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD
                                                    : CAIRO_FILL_RULE_WINDING);
                SetFillSource(state.brush);
                cairo_fill_preserve(cr);
            }
            if (!preserve)
                cairo_new_path(cr);
        }

        void StrokeCurrent()
        {
            if (state.pen.null) {
                cairo_new_path(cr);
                return;
            }
            SetColor(cr, state.pen.color);
            const uint32_t style = state.pen.style;
            const uint32_t cap = style & PS_ENDCAP_MASK;
            const uint32_t join = style & PS_JOIN_MASK;
            cairo_set_line_cap(cr,
                cap == PS_ENDCAP_FLAT         ? CAIRO_LINE_CAP_BUTT
                    : cap == PS_ENDCAP_SQUARE ? CAIRO_LINE_CAP_SQUARE
                                              : CAIRO_LINE_CAP_ROUND);
            cairo_set_line_join(cr,
                join == PS_JOIN_MITER       ? CAIRO_LINE_JOIN_MITER
                    : join == PS_JOIN_BEVEL ? CAIRO_LINE_JOIN_BEVEL
                                            : CAIRO_LINE_JOIN_ROUND);
            const cairo_matrix_t m = Transform();
            const double scale = std::sqrt(std::fabs(m.xx * m.yy - m.xy * m.yx));
            if (state.pen.cosmetic || !IsUsable(m) || state.pen.width * scale < 1.0) {
                // Cosmetic pens, and geometric ones thinner than a pixel, are one pixel wide.
                cairo_identity_matrix(cr);
                cairo_set_line_width(cr, 1.0);
            } else {
                cairo_set_matrix(cr, &m);
                cairo_set_line_width(cr, state.pen.width);
            }
            cairo_stroke(cr);
        }

        // Paints the path just built: in a path bracket it stays for the path records.
        void FinishShape(bool fill, bool stroke)
        {
            if (inPath)
                return;
            if (fill)
                FillCurrent(true);
            if (stroke)
                StrokeCurrent();
            cairo_new_path(cr);
        }

        // Starts a shape: outside a path bracket the context's path is cleared first.
        bool BeginShape()
        {
            if (!inPath)
                cairo_new_path(cr);
            return UseLogical();
        }

        void EnsureCurrentPoint()
        {
            if (!cairo_has_current_point(cr))
                cairo_move_to(cr, state.position.x, state.position.y);
        }

        // --- geometry records ------------------------------------------------------------

        // Reads count points of 32 bits (or 16 when small) starting at offset.
        static bool ReadPoints(const Record& record, size_t offset, uint64_t count, bool small,
            std::vector<Point>& out)
        {
            const uint64_t pointBytes = small ? 4 : 8;
            if (offset > record.size || count > (record.size - offset) / pointBytes)
                return false;
            out.resize(size_t(count));
            for (size_t i = 0; i < out.size(); i++) {
                const size_t at = offset + i * size_t(pointBytes);
                out[i] = small ? Point { double(record.S16(at)), double(record.S16(at + 2)) }
                               : Point { double(record.S32(at)), double(record.S32(at + 4)) };
            }
            return true;
        }

        void Poly(const Record& record, uint32_t type, bool small)
        {
            if (!record.Has(28))
                return;
            std::vector<Point> points;
            if (!ReadPoints(record, 28, record.U32(24), small, points) || points.empty())
                return;
            const bool continues = type == EMR_POLYBEZIERTO || type == EMR_POLYLINETO
                || type == EMR_POLYBEZIERTO16 || type == EMR_POLYLINETO16;
            const bool bezier = type == EMR_POLYBEZIER || type == EMR_POLYBEZIERTO
                || type == EMR_POLYBEZIER16 || type == EMR_POLYBEZIERTO16;
            const bool closed = type == EMR_POLYGON || type == EMR_POLYGON16;
            if (!BeginShape())
                return;
            size_t first = 0;
            if (continues) {
                if (inPath)
                    EnsureCurrentPoint();
                else
                    cairo_move_to(cr, state.position.x, state.position.y);
            } else {
                cairo_move_to(cr, points[0].x, points[0].y);
                first = 1;
            }
            if (bezier) {
                for (size_t i = first; i + 2 < points.size(); i += 3)
                    cairo_curve_to(cr, points[i].x, points[i].y, points[i + 1].x, points[i + 1].y,
                        points[i + 2].x, points[i + 2].y);
            } else {
                for (size_t i = first; i < points.size(); i++)
                    cairo_line_to(cr, points[i].x, points[i].y);
            }
            if (closed)
                cairo_close_path(cr);
            if (continues)
                state.position = points.back();
            FinishShape(closed, true);
        }

        void PolyPoly(const Record& record, bool closed, bool small)
        {
            if (!record.Has(32))
                return;
            const uint32_t figures = record.U32(24);
            const uint32_t total = record.U32(28);
            if (figures > (record.size - 32) / 4)
                return;
            std::vector<Point> points;
            if (!ReadPoints(record, 32 + size_t(figures) * 4, total, small, points))
                return;
            if (!BeginShape())
                return;
            size_t next = 0;
            for (uint32_t f = 0; f < figures; f++) {
                const uint32_t count = record.U32(32 + size_t(f) * 4);
                if (count > points.size() - next)
                    break;
                for (uint32_t i = 0; i < count; i++) {
                    const Point& p = points[next + i];
                    if (i == 0)
                        cairo_move_to(cr, p.x, p.y);
                    else
                        cairo_line_to(cr, p.x, p.y);
                }
                if (closed && count)
                    cairo_close_path(cr);
                next += count;
            }
            FinishShape(closed, true);
        }

        void PolyDraw(const Record& record, bool small)
        {
            if (!record.Has(28))
                return;
            const uint32_t count = record.U32(24);
            std::vector<Point> points;
            if (!ReadPoints(record, 28, count, small, points))
                return;
            const size_t typesAt = 28 + points.size() * (small ? 4 : 8);
            if (typesAt > record.size || record.size - typesAt < points.size())
                return;
            if (!BeginShape())
                return;
            EnsureCurrentPoint();
            for (size_t i = 0; i < points.size(); i++) {
                const uint8_t kind = record.data[typesAt + i];
                const Point& p = points[i];
                switch (kind & 6) {
                case 6: // move
                    cairo_move_to(cr, p.x, p.y);
                    break;
                case 4: // Bézier: three points
                    if (i + 2 < points.size()) {
                        cairo_curve_to(cr, p.x, p.y, points[i + 1].x, points[i + 1].y,
                            points[i + 2].x, points[i + 2].y);
                        i += 2;
                    }
                    break;
                default:
                    cairo_line_to(cr, p.x, p.y);
                    break;
                }
                if (record.data[typesAt + std::min(i, points.size() - 1)] & 1)
                    cairo_close_path(cr);
            }
            if (!points.empty())
                state.position = points.back();
            FinishShape(false, true);
        }

        static void Normalise(double& a, double& b)
        {
            if (a > b)
                std::swap(a, b);
        }

        void AddEllipse(double left, double top, double right, double bottom)
        {
            const double cx = (left + right) / 2, cy = (top + bottom) / 2;
            const double rx = (right - left) / 2, ry = (bottom - top) / 2;
            cairo_move_to(cr, cx + rx, cy);
            cairo_curve_to(cr, cx + rx, cy + ry * KAPPA, cx + rx * KAPPA, cy + ry, cx, cy + ry);
            cairo_curve_to(cr, cx - rx * KAPPA, cy + ry, cx - rx, cy + ry * KAPPA, cx - rx, cy);
            cairo_curve_to(cr, cx - rx, cy - ry * KAPPA, cx - rx * KAPPA, cy - ry, cx, cy - ry);
            cairo_curve_to(cr, cx + rx * KAPPA, cy - ry, cx + rx, cy - ry * KAPPA, cx + rx, cy);
            cairo_close_path(cr);
        }

        void Box(const Record& record, uint32_t type)
        {
            if (!record.Has(24))
                return;
            double left = record.S32(8), top = record.S32(12);
            double right = record.S32(16), bottom = record.S32(20);
            Normalise(left, right);
            Normalise(top, bottom);
            if (!IsReasonable({ left, top }) || !IsReasonable({ right, bottom }) || !BeginShape())
                return;
            if (type == EMR_RECTANGLE) {
                cairo_rectangle(cr, left, top, right - left, bottom - top);
            } else if (type == EMR_ELLIPSE) {
                AddEllipse(left, top, right, bottom);
            } else { // rounded rectangle: the corner ellipse's width and height follow
                if (!record.Has(32))
                    return;
                const double rx
                    = std::min(std::fabs(double(record.S32(24))) / 2, (right - left) / 2);
                const double ry
                    = std::min(std::fabs(double(record.S32(28))) / 2, (bottom - top) / 2);
                cairo_move_to(cr, left + rx, top);
                cairo_line_to(cr, right - rx, top);
                cairo_curve_to(cr, right - rx + rx * KAPPA, top, right, top + ry - ry * KAPPA,
                    right, top + ry);
                cairo_line_to(cr, right, bottom - ry);
                cairo_curve_to(cr, right, bottom - ry + ry * KAPPA, right - rx + rx * KAPPA, bottom,
                    right - rx, bottom);
                cairo_line_to(cr, left + rx, bottom);
                cairo_curve_to(cr, left + rx - rx * KAPPA, bottom, left, bottom - ry + ry * KAPPA,
                    left, bottom - ry);
                cairo_line_to(cr, left, top + ry);
                cairo_curve_to(
                    cr, left, top + ry - ry * KAPPA, left + rx - rx * KAPPA, top, left + rx, top);
                cairo_close_path(cr);
            }
            FinishShape(true, true);
        }

        // Arcs run from the start radial to the end radial, counter-clockwise on the screen
        // unless the arc direction says otherwise; a fixed number of segments keeps the work
        // independent of the size.
        void ArcShape(const Record& record, uint32_t type)
        {
            if (!record.Has(40))
                return;
            double left = record.S32(8), top = record.S32(12);
            double right = record.S32(16), bottom = record.S32(20);
            Normalise(left, right);
            Normalise(top, bottom);
            const Point start { double(record.S32(24)), double(record.S32(28)) };
            const Point end { double(record.S32(32)), double(record.S32(36)) };
            if (!IsReasonable({ left, top }) || !IsReasonable({ right, bottom }) || !BeginShape())
                return;
            const double cx = (left + right) / 2, cy = (top + bottom) / 2;
            const double rx = (right - left) / 2, ry = (bottom - top) / 2;
            if (rx <= 0 || ry <= 0)
                return;
            const double a0 = std::atan2((start.y - cy) / ry, (start.x - cx) / rx);
            double a1 = std::atan2((end.y - cy) / ry, (end.x - cx) / rx);
            const bool clockwise = state.arcDirection == AD_CLOCKWISE;
            // y grows downwards, so counter-clockwise on the screen is a falling angle.
            if (!clockwise) {
                while (a1 >= a0)
                    a1 -= 2 * M_PI;
            } else {
                while (a1 <= a0)
                    a1 += 2 * M_PI;
            }
            constexpr int SEGMENTS = 64;
            const Point first { cx + rx * std::cos(a0), cy + ry * std::sin(a0) };
            if (type == EMR_ARCTO) {
                EnsureCurrentPoint();
                cairo_line_to(cr, first.x, first.y);
            } else if (type == EMR_PIE) {
                cairo_move_to(cr, cx, cy);
                cairo_line_to(cr, first.x, first.y);
            } else {
                cairo_move_to(cr, first.x, first.y);
            }
            for (int i = 1; i <= SEGMENTS; i++) {
                const double a = a0 + (a1 - a0) * i / SEGMENTS;
                cairo_line_to(cr, cx + rx * std::cos(a), cy + ry * std::sin(a));
            }
            if (type == EMR_ARCTO)
                state.position = { cx + rx * std::cos(a1), cy + ry * std::sin(a1) };
            const bool closed = type == EMR_CHORD || type == EMR_PIE;
            if (closed)
                cairo_close_path(cr);
            FinishShape(closed, true);
        }

        void LineTo(const Record& record)
        {
            if (!record.Has(16))
                return;
            const Point to { double(record.S32(8)), double(record.S32(12)) };
            if (!BeginShape())
                return;
            if (inPath)
                EnsureCurrentPoint();
            else
                cairo_move_to(cr, state.position.x, state.position.y);
            cairo_line_to(cr, to.x, to.y);
            state.position = to;
            FinishShape(false, true);
        }

        void MoveTo(const Record& record)
        {
            if (!record.Has(16))
                return;
            state.position = { double(record.S32(8)), double(record.S32(12)) };
            if (inPath && UseLogical())
                cairo_move_to(cr, state.position.x, state.position.y);
        }

        // --- paths -----------------------------------------------------------------------

        void DropPendingPath()
        {
            if (pendingPath)
                cairo_path_destroy(pendingPath);
            pendingPath = nullptr;
        }

        void EndPath()
        {
            if (!inPath)
                return;
            inPath = false;
            DropPendingPath();
            // Kept in raster pixels, so later transforms do not move it.
            cairo_identity_matrix(cr);
            pendingPath = cairo_copy_path(cr);
            cairo_new_path(cr);
        }

        bool RestorePendingPath()
        {
            cairo_new_path(cr);
            if (!pendingPath || pendingPath->status != CAIRO_STATUS_SUCCESS)
                return false;
            cairo_identity_matrix(cr);
            cairo_append_path(cr, pendingPath);
            return true;
        }

        void PaintPath(bool fill, bool stroke)
        {
            if (inPath)
                EndPath();
            if (!RestorePendingPath())
                return;
            if (fill)
                FillCurrent(true);
            if (stroke)
                StrokeCurrent();
            cairo_new_path(cr);
            DropPendingPath();
        }

        // --- clipping --------------------------------------------------------------------

        void ClipRect(const Record& record, bool exclude)
        {
            if (!record.Has(24) || !UseLogical())
                return;
            double left = record.S32(8), top = record.S32(12);
            double right = record.S32(16), bottom = record.S32(20);
            Normalise(left, right);
            Normalise(top, bottom);
            cairo_new_path(cr);
            if (exclude) {
                // Everything but the rectangle: a huge frame around it, filled even-odd.
                cairo_save(cr);
                cairo_identity_matrix(cr);
                cairo_rectangle(cr, -COORDINATE_LIMIT, -COORDINATE_LIMIT, 2 * COORDINATE_LIMIT,
                    2 * COORDINATE_LIMIT);
                cairo_restore(cr);
                UseLogical();
            }
            cairo_rectangle(cr, left, top, right - left, bottom - top);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
            cairo_clip(cr);
        }

        // Region rectangles are in reference-device pixels.
        bool AddRegion(const Record& record, size_t offset, uint32_t regionBytes)
        {
            if (regionBytes < 32 || !record.HasBlock(offset, regionBytes))
                return false;
            const uint32_t count = record.U32(offset + 8);
            if (count > (regionBytes - 32) / 16)
                return false;
            cairo_set_matrix(cr, &playback);
            for (uint32_t i = 0; i < count; i++) {
                const size_t at = offset + 32 + size_t(i) * 16;
                const double left = record.S32(at), top = record.S32(at + 4);
                const double right = record.S32(at + 8), bottom = record.S32(at + 12);
                if (right > left && bottom > top)
                    cairo_rectangle(cr, left, top, right - left, bottom - top);
            }
            return true;
        }

        void SelectClipRegion(const Record& record)
        {
            if (!record.Has(16))
                return;
            const uint32_t regionBytes = record.U32(8);
            const uint32_t mode = record.U32(12);
            if (mode == RGN_COPY && regionBytes == 0) {
                cairo_reset_clip(cr);
                return;
            }
            if (mode != RGN_AND && mode != RGN_COPY)
                return;
            cairo_new_path(cr);
            if (!AddRegion(record, 16, regionBytes))
                return;
            if (mode == RGN_COPY)
                cairo_reset_clip(cr);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
            cairo_clip(cr);
        }

        void SelectClipPath(const Record& record)
        {
            if (!record.Has(12))
                return;
            const uint32_t mode = record.U32(8);
            if (inPath)
                EndPath();
            if ((mode == RGN_AND || mode == RGN_COPY) && RestorePendingPath()) {
                if (mode == RGN_COPY) {
                    cairo_path_t* copy = cairo_copy_path(cr);
                    cairo_reset_clip(cr);
                    cairo_new_path(cr);
                    cairo_append_path(cr, copy);
                    cairo_path_destroy(copy);
                }
                cairo_set_fill_rule(cr,
                    state.polyFillMode == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD
                                                    : CAIRO_FILL_RULE_WINDING);
                cairo_clip(cr);
            }
            cairo_new_path(cr);
            DropPendingPath();
        }

        void FillRegion(const Record& record, bool withObjectBrush)
        {
            // FILLRGN: bounds, region size, brush, region; PAINTRGN: bounds, size, region.
            const size_t regionAt = withObjectBrush ? 32 : 28;
            if (!record.Has(regionAt))
                return;
            Brush brush = state.brush;
            if (withObjectBrush) {
                const uint32_t index = record.U32(28);
                if (index & STOCK_OBJECT) {
                    const Brush previous = state.brush;
                    SelectStock(index & ~STOCK_OBJECT);
                    brush = state.brush;
                    state.brush = previous;
                } else if (const GraphicsObject* object = ObjectAt(index);
                           object && object->kind == GraphicsObject::Kind::Brush) {
                    brush = object->brush;
                }
            }
            if (brush.null)
                return;
            cairo_new_path(cr);
            if (AddRegion(record, regionAt, record.U32(24))) {
                SetFillSource(brush);
                cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
                cairo_fill(cr);
            }
            cairo_new_path(cr);
        }

        // --- bitmaps ---------------------------------------------------------------------

        // Paints the source rectangle of a bitmap into a logical destination rectangle.
        void PaintBitmap(const SurfacePtr& bitmap, double xDest, double yDest, double cxDest,
            double cyDest, double xSrc, double ySrc, double cxSrc, double cySrc, uint32_t rop)
        {
            if (!bitmap || cxSrc == 0 || cySrc == 0 || cxDest == 0 || cyDest == 0)
                return;
            if (!IsReasonable({ xDest, yDest })
                || !IsReasonable({ xDest + cxDest, yDest + cyDest }))
                return;
            cairo_save(cr);
            if (!UseLogical()) {
                cairo_restore(cr);
                return;
            }
            cairo_new_path(cr);
            cairo_translate(cr, xDest, yDest);
            cairo_scale(cr, cxDest / cxSrc, cyDest / cySrc);
            cairo_rectangle(cr, 0, 0, cxSrc, cySrc);
            cairo_clip(cr);
            switch (rop) {
            case 0x008800C6: // source AND destination
                cairo_set_operator(cr, CAIRO_OPERATOR_MULTIPLY);
                break;
            case 0x00EE0086: // source OR destination
                cairo_set_operator(cr, CAIRO_OPERATOR_LIGHTEN);
                break;
            case 0x00660046: // source XOR destination
                cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
                break;
            default:
                break;
            }
            cairo_set_source_surface(cr, bitmap.get(), -xSrc, -ySrc);
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
            cairo_paint(cr);
            cairo_restore(cr);
        }

        // Blits without a source bitmap paint the brush, black or white.
        void PaintPattern(double x, double y, double cx, double cy, uint32_t rop)
        {
            Brush brush = state.brush;
            if (rop == 0x00000042) { // blackness
                brush = Brush {};
                brush.color = 0;
            } else if (rop == 0x00FF0062) { // whiteness
                brush = Brush {};
            } else if (rop != 0x00F00021) { // anything but the pattern copy leaves it
                return;
            }
            if (brush.null || !IsReasonable({ x, y }) || !IsReasonable({ x + cx, y + cy }))
                return;
            if (!UseLogical())
                return;
            cairo_new_path(cr);
            cairo_rectangle(cr, x, y, cx, cy);
            SetFillSource(brush);
            cairo_fill(cr);
        }

        void StretchDIBits(const Record& record)
        {
            if (!record.Has(80))
                return;
            const SurfacePtr bitmap = DecodeRecordBitmap(
                record, record.U32(48), record.U32(52), record.U32(56), record.U32(60));
            if (!bitmap)
                return;
            const double height = cairo_image_surface_get_height(bitmap.get());
            // The source rectangle counts its y from the bitmap's bottom row.
            const double cySrc = record.S32(44);
            const double ySrc = height - double(record.S32(36)) - cySrc;
            PaintBitmap(bitmap, record.S32(24), record.S32(28), record.S32(72), record.S32(76),
                record.S32(32), ySrc, record.S32(40), cySrc, record.U32(68));
        }

        void BitBlt(const Record& record, bool stretch)
        {
            if (!record.Has(stretch ? 108 : 100))
                return;
            const double x = record.S32(24), y = record.S32(28);
            const double cx = record.S32(32), cy = record.S32(36);
            const uint32_t rop = record.U32(40);
            const uint32_t infoSize = record.U32(88);
            if (infoSize == 0) {
                PaintPattern(x, y, cx, cy, rop);
                return;
            }
            const SurfacePtr bitmap = DecodeRecordBitmap(
                record, record.U32(84), infoSize, record.U32(92), record.U32(96));
            const double cxSrc = stretch ? record.S32(100) : cx;
            const double cySrc = stretch ? record.S32(104) : cy;
            PaintBitmap(bitmap, x, y, cx, cy, record.S32(44), record.S32(48), cxSrc, cySrc, rop);
        }

        void CreatePatternBrush(const Record& record)
        {
            // index, usage, bitmap info offset and size, bits offset and size
            if (!record.Has(32))
                return;
            SurfacePtr bitmap = DecodeRecordBitmap(
                record, record.U32(16), record.U32(20), record.U32(24), record.U32(28));
            CreateBrush(record.U32(8), 0, 0x808080, std::move(bitmap));
        }

        // --- text ------------------------------------------------------------------------

        void CreateFont(const Record& record)
        {
            if (!record.Has(104))
                return;
            GraphicsObject* object = ObjectAt(record.U32(8));
            if (!object)
                return;
            *object = GraphicsObject {};
            object->kind = GraphicsObject::Kind::Font;
            Font& font = object->font;
            font.height = record.S32(12);
            font.escapement = record.S32(20);
            font.weight = record.S32(28);
            font.italic = record.data[32] != 0;
            uint32_t length = 0;
            while (length < 32 && ReadLe16(record.data + 40 + length * 2) != 0)
                length++;
            font.face = Utf16ToUtf8(record.data + 40, length);
        }

        void TextOut(const Record& record, bool wide)
        {
            if (!record.Has(76))
                return;
            Point reference { double(record.S32(36)), double(record.S32(40)) };
            const uint32_t count = record.U32(44);
            const uint32_t textAt = record.U32(48);
            const uint32_t options = record.U32(52);
            const uint64_t textBytes = uint64_t(count) * (wide ? 2 : 1);
            if (!record.HasBlock(textAt, textBytes))
                return;
            std::string text;
            if (wide) {
                text = Utf16ToUtf8(record.data + textAt, count);
            } else {
                for (uint32_t i = 0; i < count; i++) {
                    const uint8_t c = record.data[textAt + i];
                    const uint8_t pair[2] = { c, 0 };
                    text += c ? Utf16ToUtf8(pair, 1) : std::string();
                }
            }
            const cairo_matrix_t m = Transform();
            if (!IsUsable(m))
                return;
            if (state.textAlign & TA_UPDATECP)
                reference = state.position;
            if (!IsReasonable(reference))
                return;

            cairo_save(cr);
            cairo_set_matrix(cr, &m);
            const double left = record.S32(56), top = record.S32(60);
            const double right = record.S32(64), bottom = record.S32(68);
            if ((options & ETO_OPAQUE) && right > left && bottom > top) {
                cairo_rectangle(cr, left, top, right - left, bottom - top);
                SetColor(cr, state.backgroundColor);
                cairo_fill(cr);
            }
            if ((options & ETO_CLIPPED) && right > left && bottom > top) {
                cairo_rectangle(cr, left, top, right - left, bottom - top);
                cairo_clip(cr);
            }
            if (text.empty()) {
                cairo_restore(cr);
                return;
            }

            // Glyphs stand upright on the raster whatever way the mapping turns the y axis.
            double x = reference.x, y = reference.y;
            cairo_matrix_transform_point(&m, &x, &y);
            const double scaleY = std::hypot(m.xy, m.yy);
            double em = std::fabs(state.font.height);
            if (state.font.height > 0)
                em *= 0.87; // a positive height counts the cell, internal leading included
            if (em == 0)
                em = 12;
            const double size = std::clamp(em * scaleY, 0.5, 4000.0);
            cairo_identity_matrix(cr);
            cairo_translate(cr, x, y);
            if (state.font.escapement)
                cairo_rotate(cr, -state.font.escapement / 10.0 * M_PI / 180.0);
            cairo_select_font_face(cr,
                state.font.face.empty() ? "sans-serif" : state.font.face.c_str(),
                state.font.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                state.font.weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(cr, size);
            cairo_text_extents_t extents;
            cairo_text_extents(cr, text.c_str(), &extents);
            cairo_font_extents_t fontExtents;
            cairo_font_extents(cr, &fontExtents);
            double dx = 0, dy = 0;
            const uint32_t horizontal = state.textAlign & TA_HORIZONTAL_MASK;
            if (horizontal == TA_CENTER)
                dx = -extents.x_advance / 2;
            else if (horizontal == TA_RIGHT)
                dx = -extents.x_advance;
            const uint32_t vertical = state.textAlign & TA_VERTICAL_MASK;
            if (vertical == 0) // top
                dy = fontExtents.ascent;
            else if (vertical == TA_BOTTOM)
                dy = -fontExtents.descent;
            else if (vertical != TA_BASELINE)
                dy = 0;
            if (state.backgroundMode == OPAQUE_BACKGROUND && !(options & ETO_OPAQUE)) {
                cairo_rectangle(cr, dx, dy - fontExtents.ascent, extents.x_advance,
                    fontExtents.ascent + fontExtents.descent);
                SetColor(cr, state.backgroundColor);
                cairo_fill(cr);
            }
            SetColor(cr, state.textColor);
            cairo_move_to(cr, dx, dy);
            cairo_show_text(cr, text.c_str());
            cairo_new_path(cr);
            cairo_restore(cr);
            if (state.textAlign & TA_UPDATECP)
                state.position.x += extents.x_advance / std::max(std::hypot(m.xx, m.yx), 1e-9);
        }

        // --- state -----------------------------------------------------------------------

        static bool ReadTransform(const Record& record, size_t offset, cairo_matrix_t& out)
        {
            cairo_matrix_init(&out, record.F32(offset), record.F32(offset + 4),
                record.F32(offset + 8), record.F32(offset + 12), record.F32(offset + 16),
                record.F32(offset + 20));
            return IsFinite(out);
        }

        void ModifyWorld(const Record& record)
        {
            if (!record.Has(36))
                return;
            cairo_matrix_t change;
            const uint32_t mode = record.U32(32);
            if (mode == 1) {
                cairo_matrix_init_identity(&state.world);
                return;
            }
            if (!ReadTransform(record, 8, change))
                return;
            cairo_matrix_t result;
            if (mode == 2) // the change applies first
                cairo_matrix_multiply(&result, &change, &state.world);
            else if (mode == 3)
                cairo_matrix_multiply(&result, &state.world, &change);
            else if (mode == 4)
                result = change;
            else
                return;
            state.world = result;
        }

        void SaveState()
        {
            if (saved.size() >= size_t(MAX_SAVED_STATES))
                return;
            saved.push_back(state);
            cairo_save(cr);
        }

        void RestoreState(int32_t relative)
        {
            if (relative >= 0) // absolute levels are rare; count from the start
                relative = relative - int32_t(saved.size()) - 1;
            if (relative >= 0 || -int64_t(relative) > int64_t(saved.size()))
                return;
            for (int32_t i = 0; i < -relative; i++) {
                state = saved.back();
                saved.pop_back();
                cairo_restore(cr);
            }
        }

        void PlayRecord(uint32_t type, const Record& record)
        {
            switch (type) {
            case EMR_POLYBEZIER:
            case EMR_POLYGON:
            case EMR_POLYLINE:
            case EMR_POLYBEZIERTO:
            case EMR_POLYLINETO:
                Poly(record, type, false);
                break;
            case EMR_POLYBEZIER16:
            case EMR_POLYGON16:
            case EMR_POLYLINE16:
            case EMR_POLYBEZIERTO16:
            case EMR_POLYLINETO16:
                Poly(record, type - (EMR_POLYBEZIER16 - EMR_POLYBEZIER), true);
                break;
            case EMR_POLYPOLYLINE:
            case EMR_POLYPOLYGON:
                PolyPoly(record, type == EMR_POLYPOLYGON, false);
                break;
            case EMR_POLYPOLYLINE16:
            case EMR_POLYPOLYGON16:
                PolyPoly(record, type == EMR_POLYPOLYGON16, true);
                break;
            case EMR_POLYDRAW:
            case EMR_POLYDRAW16:
                PolyDraw(record, type == EMR_POLYDRAW16);
                break;
            case EMR_SETWINDOWEXTEX:
                if (record.Has(16))
                    state.windowExtentX = record.S32(8), state.windowExtentY = record.S32(12);
                break;
            case EMR_SETWINDOWORGEX:
                if (record.Has(16))
                    state.windowOriginX = record.S32(8), state.windowOriginY = record.S32(12);
                break;
            case EMR_SETVIEWPORTEXTEX:
                if (record.Has(16))
                    state.viewportExtentX = record.S32(8), state.viewportExtentY = record.S32(12);
                break;
            case EMR_SETVIEWPORTORGEX:
                if (record.Has(16))
                    state.viewportOriginX = record.S32(8), state.viewportOriginY = record.S32(12);
                break;
            case EMR_SCALEVIEWPORTEXTEX:
            case EMR_SCALEWINDOWEXTEX:
                if (record.Has(24) && record.S32(12) != 0 && record.S32(20) != 0) {
                    double& ex = type == EMR_SCALEWINDOWEXTEX ? state.windowExtentX
                                                              : state.viewportExtentX;
                    double& ey = type == EMR_SCALEWINDOWEXTEX ? state.windowExtentY
                                                              : state.viewportExtentY;
                    ex = ex * record.S32(8) / record.S32(12);
                    ey = ey * record.S32(16) / record.S32(20);
                }
                break;
            case EMR_SETMAPMODE:
                if (record.Has(12))
                    state.mapMode = record.S32(8);
                break;
            case EMR_SETBKMODE:
                if (record.Has(12))
                    state.backgroundMode = record.S32(8);
                break;
            case EMR_SETPOLYFILLMODE:
                if (record.Has(12))
                    state.polyFillMode = record.S32(8);
                break;
            case EMR_SETTEXTALIGN:
                if (record.Has(12))
                    state.textAlign = record.U32(8);
                break;
            case EMR_SETTEXTCOLOR:
                if (record.Has(12))
                    state.textColor = record.U32(8) & 0xFFFFFF;
                break;
            case EMR_SETBKCOLOR:
                if (record.Has(12))
                    state.backgroundColor = record.U32(8) & 0xFFFFFF;
                break;
            case EMR_SETARCDIRECTION:
                if (record.Has(12))
                    state.arcDirection = record.S32(8);
                break;
            case EMR_SETPIXELV:
                if (record.Has(20) && UseLogical()) {
                    double x = record.S32(8), y = record.S32(12);
                    const cairo_matrix_t m = Transform();
                    cairo_matrix_transform_point(&m, &x, &y);
                    cairo_identity_matrix(cr);
                    cairo_new_path(cr);
                    cairo_rectangle(cr, std::floor(x), std::floor(y), 1, 1);
                    SetColor(cr, record.U32(16));
                    cairo_fill(cr);
                }
                break;
            case EMR_MOVETOEX:
                MoveTo(record);
                break;
            case EMR_LINETO:
                LineTo(record);
                break;
            case EMR_EXCLUDECLIPRECT:
            case EMR_INTERSECTCLIPRECT:
                ClipRect(record, type == EMR_EXCLUDECLIPRECT);
                break;
            case EMR_SAVEDC:
                SaveState();
                break;
            case EMR_RESTOREDC:
                if (record.Has(12))
                    RestoreState(record.S32(8));
                break;
            case EMR_SETWORLDTRANSFORM: {
                cairo_matrix_t world;
                if (record.Has(32) && ReadTransform(record, 8, world))
                    state.world = world;
                break;
            }
            case EMR_MODIFYWORLDTRANSFORM:
                ModifyWorld(record);
                break;
            case EMR_SELECTOBJECT:
                if (record.Has(12))
                    SelectObject(record.U32(8));
                break;
            case EMR_DELETEOBJECT:
                if (record.Has(12)) {
                    if (GraphicsObject* object = ObjectAt(record.U32(8)))
                        *object = GraphicsObject {};
                }
                break;
            case EMR_CREATEPEN:
                if (record.Has(28)) {
                    const uint32_t style = record.U32(12);
                    const double width = record.S32(16);
                    CreatePen(record.U32(8), style, width, record.U32(24), width > 1);
                }
                break;
            case EMR_EXTCREATEPEN:
                if (record.Has(52)) {
                    uint32_t style = record.U32(28);
                    if (record.U32(36) == BS_NULL)
                        style = (style & ~PS_STYLE_MASK) | PS_NULL;
                    CreatePen(record.U32(8), style, record.U32(32), record.U32(40),
                        (style & PS_GEOMETRIC) != 0);
                }
                break;
            case EMR_CREATEBRUSHINDIRECT:
                if (record.Has(24))
                    CreateBrush(record.U32(8), record.U32(12), record.U32(16));
                break;
            case EMR_CREATEMONOBRUSH:
            case EMR_CREATEDIBPATTERNBRUSHPT:
                CreatePatternBrush(record);
                break;
            case EMR_EXTCREATEFONTINDIRECTW:
                CreateFont(record);
                break;
            case EMR_RECTANGLE:
            case EMR_ELLIPSE:
            case EMR_ROUNDRECT:
                Box(record, type);
                break;
            case EMR_ARC:
            case EMR_ARCTO:
            case EMR_CHORD:
            case EMR_PIE:
                ArcShape(record, type);
                break;
            case EMR_BEGINPATH:
                DropPendingPath();
                cairo_new_path(cr);
                inPath = true;
                break;
            case EMR_ENDPATH:
                EndPath();
                break;
            case EMR_CLOSEFIGURE:
                if (inPath && cairo_has_current_point(cr))
                    cairo_close_path(cr);
                break;
            case EMR_ABORTPATH:
                inPath = false;
                cairo_new_path(cr);
                DropPendingPath();
                break;
            case EMR_FILLPATH:
                PaintPath(true, false);
                break;
            case EMR_STROKEPATH:
                PaintPath(false, true);
                break;
            case EMR_STROKEANDFILLPATH:
                PaintPath(true, true);
                break;
            case EMR_SELECTCLIPPATH:
                SelectClipPath(record);
                break;
            case EMR_EXTSELECTCLIPRGN:
                SelectClipRegion(record);
                break;
            case EMR_FILLRGN:
                FillRegion(record, true);
                break;
            case EMR_PAINTRGN:
                FillRegion(record, false);
                break;
            case EMR_BITBLT:
            case EMR_STRETCHBLT:
                BitBlt(record, type == EMR_STRETCHBLT);
                break;
            case EMR_STRETCHDIBITS:
                StretchDIBits(record);
                break;
            case EMR_EXTTEXTOUTA:
            case EMR_EXTTEXTOUTW:
                TextOut(record, type == EMR_EXTTEXTOUTW);
                break;
            default:
                break;
            }
        }
    };

    struct ContextCloser {
        void operator()(cairo_t* context) const { cairo_destroy(context); }
    };

} // namespace

bool PlayEnhancedMetafile(const uint8_t* data, const EnhancedHeader& header, uint32_t* pixels,
    int32_t width, int32_t height)
{
    if (!data || !pixels || width <= 0 || height <= 0)
        return false;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
    if (stride != width * 4)
        return false;
    cairo_surface_t* created = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(pixels), CAIRO_FORMAT_RGB24, width, height, stride);
    const SurfacePtr surface(created, SurfaceCloser());
    if (cairo_surface_status(created) != CAIRO_STATUS_SUCCESS)
        return false;
    const std::unique_ptr<cairo_t, ContextCloser> context(cairo_create(created));
    if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    {
        Player player(header, context.get(), width, height);
        player.Play(data);
    }
    cairo_surface_flush(created);
    return true;
}

} // namespace metafile
