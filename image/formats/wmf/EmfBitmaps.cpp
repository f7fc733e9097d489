// Enhanced-metafile playback: bitmaps in records, painted by blits and as brushes.
#include "EmfPlayback.h"

namespace metafile::emf {

namespace {

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

} // namespace

// Paints the source rectangle of a bitmap into a logical destination rectangle.
void EmfPlayback::PaintBitmap(const SurfacePtr& bitmap, double xDest, double yDest, double cxDest,
    double cyDest, double xSrc, double ySrc, double cxSrc, double cySrc, uint32_t rop)
{
    if (!bitmap || cxSrc == 0 || cySrc == 0 || cxDest == 0 || cyDest == 0)
        return;
    if (!IsReasonable({ xDest, yDest }) || !IsReasonable({ xDest + cxDest, yDest + cyDest }))
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
void EmfPlayback::PaintPattern(double x, double y, double cx, double cy, uint32_t rop)
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

void EmfPlayback::StretchDIBits(const Record& record)
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

void EmfPlayback::BitBlt(const Record& record, bool stretch)
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
    const SurfacePtr bitmap
        = DecodeRecordBitmap(record, record.U32(84), infoSize, record.U32(92), record.U32(96));
    const double cxSrc = stretch ? record.S32(100) : cx;
    const double cySrc = stretch ? record.S32(104) : cy;
    PaintBitmap(bitmap, x, y, cx, cy, record.S32(44), record.S32(48), cxSrc, cySrc, rop);
}

void EmfPlayback::CreatePatternBrush(const Record& record)
{
    // index, usage, bitmap info offset and size, bits offset and size
    if (!record.Has(32))
        return;
    SurfacePtr bitmap = DecodeRecordBitmap(
        record, record.U32(16), record.U32(20), record.U32(24), record.U32(28));
    CreateBrush(record.U32(8), 0, 0x808080, std::move(bitmap));
}

// Bitmaps: blits, stretched device-independent bitmaps, pattern brushes.
bool EmfPlayback::PlayBitmapRecord(uint32_t type, const Record& record)
{
    switch (type) {
    case EMR_CREATEMONOBRUSH:
    case EMR_CREATEDIBPATTERNBRUSHPT:
        CreatePatternBrush(record);
        break;
    case EMR_BITBLT:
    case EMR_STRETCHBLT:
        BitBlt(record, type == EMR_STRETCHBLT);
        break;
    case EMR_STRETCHDIBITS:
        StretchDIBits(record);
        break;
    default:
        return false;
    }
    return true;
}

} // namespace metafile::emf
