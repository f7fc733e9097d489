// Enhanced-metafile playback: fonts and text.
#include "EmfPlayback.h"

#include <algorithm>

namespace metafile::emf {

namespace {

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

} // namespace

void EmfPlayback::CreateFont(const Record& record)
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

void EmfPlayback::TextOut(const Record& record, bool wide)
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
    cairo_select_font_face(cr, state.font.face.empty() ? "sans-serif" : state.font.face.c_str(),
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

// Fonts and text.
bool EmfPlayback::PlayTextRecord(uint32_t type, const Record& record)
{
    switch (type) {
    case EMR_EXTCREATEFONTINDIRECTW:
        CreateFont(record);
        break;
    case EMR_EXTTEXTOUTA:
    case EMR_EXTTEXTOUTW:
        TextOut(record, type == EMR_EXTTEXTOUTW);
        break;
    default:
        return false;
    }
    return true;
}

} // namespace metafile::emf
