// Enhanced-metafile playback. Logical coordinates go through the world transform, then
// the page transform (mapping mode, window and viewport) into the reference device, and
// finally through the playback transform that fits the picture frame onto the raster.
// Record layouts: [MS-EMF] Enhanced Metafile Format, section 2.3.
#include "EmfPlayer.h"

#include "EmfPlayback.h"

#include <algorithm>

namespace metafile::emf {

EmfPlayback::EmfPlayback(
    const EnhancedHeader& pictureHeader, cairo_t* context, int32_t width, int32_t height)
    : header(pictureHeader)
    , cr(context)
    , objects(pictureHeader.handles)
{
    cairo_matrix_init_identity(&state.world);
    SetPlayback(width, height);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
}

EmfPlayback::~EmfPlayback()
{
    if (pendingPath)
        cairo_path_destroy(pendingPath);
}

void EmfPlayback::Play(const uint8_t* data)
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

// Reference-device pixels per millimetre.
double EmfPlayback::PixelsPerMmX() const
{
    return header.millimetresWidth > 0 && header.deviceWidth > 0
        ? double(header.deviceWidth) / header.millimetresWidth
        : 96.0 / 25.4;
}

double EmfPlayback::PixelsPerMmY() const
{
    return header.millimetresHeight > 0 && header.deviceHeight > 0
        ? double(header.deviceHeight) / header.millimetresHeight
        : 96.0 / 25.4;
}

// The raster is the bounds rectangle in reference-device pixels (scaled when the
// picture had to shrink). Mapping the bounds rather than the frame keeps the picture
// undistorted when a writer's frame and bounds disagree.
void EmfPlayback::SetPlayback(int32_t width, int32_t height)
{
    const double left = header.bounds.left;
    const double top = header.bounds.top;
    const double spanX = std::max(double(header.bounds.right) - left, 1.0);
    const double spanY = std::max(double(header.bounds.bottom) - top, 1.0);
    cairo_matrix_init(&playback, width / spanX, 0, 0, height / spanY, -left * width / spanX,
        -top * height / spanY);
}

// Logical units to reference-device pixels.
cairo_matrix_t EmfPlayback::PageTransform() const
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
cairo_matrix_t EmfPlayback::Transform() const
{
    const cairo_matrix_t page = PageTransform();
    cairo_matrix_t worldPage, full;
    cairo_matrix_multiply(&worldPage, &state.world, &page);
    cairo_matrix_multiply(&full, &worldPage, &playback);
    return full;
}

// Sets the logical transform on the context; false when it cannot map anything.
bool EmfPlayback::UseLogical()
{
    const cairo_matrix_t m = Transform();
    if (!IsUsable(m))
        return false;
    cairo_set_matrix(cr, &m);
    return true;
}

bool EmfPlayback::IsReasonable(const Point& p) const
{
    const cairo_matrix_t m = Transform();
    double x = p.x, y = p.y;
    cairo_matrix_transform_point(&m, &x, &y);
    return std::fabs(x) < COORDINATE_LIMIT && std::fabs(y) < COORDINATE_LIMIT;
}

void EmfPlayback::SetColor(cairo_t* context, COLORREF color)
{
    cairo_set_source_rgb(
        context, GetRValue(color) / 255.0, GetGValue(color) / 255.0, GetBValue(color) / 255.0);
}

GraphicsObject* EmfPlayback::ObjectAt(uint32_t index)
{
    return index < objects.size() ? &objects[index] : nullptr;
}

void EmfPlayback::SelectStock(uint32_t stock)
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

void EmfPlayback::SelectObject(uint32_t index)
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

void EmfPlayback::CreatePen(
    uint32_t index, uint32_t style, double width, COLORREF color, bool geometric)
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

void EmfPlayback::CreateBrush(uint32_t index, uint32_t style, COLORREF color, SurfacePtr pattern)
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

void EmfPlayback::SetFillSource(const Brush& brush)
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

void EmfPlayback::FillCurrent(bool preserve)
{
    if (!state.brush.null) {
        cairo_set_fill_rule(cr,
            state.polyFillMode == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        SetFillSource(state.brush);
        cairo_fill_preserve(cr);
    }
    if (!preserve)
        cairo_new_path(cr);
}

void EmfPlayback::StrokeCurrent()
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
void EmfPlayback::FinishShape(bool fill, bool stroke)
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
bool EmfPlayback::BeginShape()
{
    if (!inPath)
        cairo_new_path(cr);
    return UseLogical();
}

void EmfPlayback::EnsureCurrentPoint()
{
    if (!cairo_has_current_point(cr))
        cairo_move_to(cr, state.position.x, state.position.y);
}

bool EmfPlayback::ReadTransform(const Record& record, size_t offset, cairo_matrix_t& out)
{
    cairo_matrix_init(&out, record.F32(offset), record.F32(offset + 4), record.F32(offset + 8),
        record.F32(offset + 12), record.F32(offset + 16), record.F32(offset + 20));
    return IsFinite(out);
}

void EmfPlayback::ModifyWorld(const Record& record)
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

void EmfPlayback::SaveState()
{
    if (saved.size() >= size_t(MAX_SAVED_STATES))
        return;
    saved.push_back(state);
    cairo_save(cr);
}

void EmfPlayback::RestoreState(int32_t relative)
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

// Pens and brushes: created, selected and deleted.
bool EmfPlayback::PlayObjectRecord(uint32_t type, const Record& record)
{
    switch (type) {
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
            CreatePen(
                record.U32(8), style, record.U32(32), record.U32(40), (style & PS_GEOMETRIC) != 0);
        }
        break;
    case EMR_CREATEBRUSHINDIRECT:
        if (record.Has(24))
            CreateBrush(record.U32(8), record.U32(12), record.U32(16));
        break;
    default:
        return false;
    }
    return true;
}

// The mapping, the world transform, colours and modes, saved states.
bool EmfPlayback::PlayStateRecord(uint32_t type, const Record& record)
{
    switch (type) {
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
            double& ex = type == EMR_SCALEWINDOWEXTEX ? state.windowExtentX : state.viewportExtentX;
            double& ey = type == EMR_SCALEWINDOWEXTEX ? state.windowExtentY : state.viewportExtentY;
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
    default:
        return false;
    }
    return true;
}

void EmfPlayback::PlayRecord(uint32_t type, const Record& record)
{
    // Each group answers whether the record is one of its own; records that paint
    // nothing here are passed over.
    PlayShapeRecord(type, record) || PlayPathRecord(type, record) || PlayObjectRecord(type, record)
        || PlayStateRecord(type, record) || PlayBitmapRecord(type, record)
        || PlayTextRecord(type, record);
}

} // namespace metafile::emf

namespace metafile {

namespace {

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
    const emf::SurfacePtr surface(created, emf::SurfaceCloser());
    if (cairo_surface_status(created) != CAIRO_STATUS_SUCCESS)
        return false;
    const std::unique_ptr<cairo_t, ContextCloser> context(cairo_create(created));
    if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    {
        emf::EmfPlayback player(header, context.get(), width, height);
        player.Play(data);
    }
    cairo_surface_flush(created);
    return true;
}

} // namespace metafile
