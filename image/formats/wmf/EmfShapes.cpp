// Enhanced-metafile playback: lines, curves and shapes, path brackets, regions and
// clipping.
#include "EmfPlayback.h"

#include <algorithm>

namespace metafile::emf {

// Reads count points of 32 bits (or 16 when small) starting at offset.
bool EmfPlayback::ReadPoints(
    const Record& record, size_t offset, uint64_t count, bool small, std::vector<Point>& out)
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

void EmfPlayback::Poly(const Record& record, uint32_t type, bool small)
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

void EmfPlayback::PolyPoly(const Record& record, bool closed, bool small)
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

void EmfPlayback::PolyDraw(const Record& record, bool small)
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
                cairo_curve_to(cr, p.x, p.y, points[i + 1].x, points[i + 1].y, points[i + 2].x,
                    points[i + 2].y);
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

void EmfPlayback::Normalise(double& a, double& b)
{
    if (a > b)
        std::swap(a, b);
}

void EmfPlayback::AddEllipse(double left, double top, double right, double bottom)
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

void EmfPlayback::Box(const Record& record, uint32_t type)
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
        const double rx = std::min(std::fabs(double(record.S32(24))) / 2, (right - left) / 2);
        const double ry = std::min(std::fabs(double(record.S32(28))) / 2, (bottom - top) / 2);
        cairo_move_to(cr, left + rx, top);
        cairo_line_to(cr, right - rx, top);
        cairo_curve_to(
            cr, right - rx + rx * KAPPA, top, right, top + ry - ry * KAPPA, right, top + ry);
        cairo_line_to(cr, right, bottom - ry);
        cairo_curve_to(cr, right, bottom - ry + ry * KAPPA, right - rx + rx * KAPPA, bottom,
            right - rx, bottom);
        cairo_line_to(cr, left + rx, bottom);
        cairo_curve_to(
            cr, left + rx - rx * KAPPA, bottom, left, bottom - ry + ry * KAPPA, left, bottom - ry);
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
void EmfPlayback::ArcShape(const Record& record, uint32_t type)
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

void EmfPlayback::LineTo(const Record& record)
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

void EmfPlayback::MoveTo(const Record& record)
{
    if (!record.Has(16))
        return;
    state.position = { double(record.S32(8)), double(record.S32(12)) };
    if (inPath && UseLogical())
        cairo_move_to(cr, state.position.x, state.position.y);
}

void EmfPlayback::DropPendingPath()
{
    if (pendingPath)
        cairo_path_destroy(pendingPath);
    pendingPath = nullptr;
}

void EmfPlayback::EndPath()
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

bool EmfPlayback::RestorePendingPath()
{
    cairo_new_path(cr);
    if (!pendingPath || pendingPath->status != CAIRO_STATUS_SUCCESS)
        return false;
    cairo_identity_matrix(cr);
    cairo_append_path(cr, pendingPath);
    return true;
}

void EmfPlayback::PaintPath(bool fill, bool stroke)
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

void EmfPlayback::ClipRect(const Record& record, bool exclude)
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
        cairo_rectangle(
            cr, -COORDINATE_LIMIT, -COORDINATE_LIMIT, 2 * COORDINATE_LIMIT, 2 * COORDINATE_LIMIT);
        cairo_restore(cr);
        UseLogical();
    }
    cairo_rectangle(cr, left, top, right - left, bottom - top);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_clip(cr);
}

// Region rectangles are in reference-device pixels.
bool EmfPlayback::AddRegion(const Record& record, size_t offset, uint32_t regionBytes)
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

void EmfPlayback::SelectClipRegion(const Record& record)
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

void EmfPlayback::SelectClipPath(const Record& record)
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
            state.polyFillMode == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_clip(cr);
    }
    cairo_new_path(cr);
    DropPendingPath();
}

void EmfPlayback::FillRegion(const Record& record, bool withObjectBrush)
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

// Lines, curves, polygons, rectangles, ellipses, arcs and single pixels.
bool EmfPlayback::PlayShapeRecord(uint32_t type, const Record& record)
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
    default:
        return false;
    }
    return true;
}

// Path brackets, the painting of paths and regions, and clipping.
bool EmfPlayback::PlayPathRecord(uint32_t type, const Record& record)
{
    switch (type) {
    case EMR_EXCLUDECLIPRECT:
    case EMR_INTERSECTCLIPRECT:
        ClipRect(record, type == EMR_EXCLUDECLIPRECT);
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
    default:
        return false;
    }
    return true;
}

} // namespace metafile::emf
