#include "CLinkStatic.h"

#include "UiPrompts.h"

#include <QApplication>
#include <QBitmap>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

namespace {

// The hand: X black, o white, . transparent; hot spot at the tip of the finger (5, 0).
const char* const HAND_ROWS[] = {
    ".....XX...........",
    "....XooX..........",
    "....XooX..........",
    "....XooX..........",
    "....XooX..........",
    "....XooXXX........",
    "....XooXooXXX.....",
    "....XooXooXooXX...",
    "....XooXooXooXoX..",
    "XXX.XooXooXooXooX.",
    "XooXXooooooooXooX.",
    "XoooXoooooooooooX.",
    ".XooXoooooooooooX.",
    "..XoXoooooooooooX.",
    "..XoooooooooooooX.",
    "...XooooooooooooX.",
    "...XoooooooooooX..",
    "....XooooooooooX..",
    "....XooooooooooX..",
    ".....XooooooooX...",
    ".....XooooooooX...",
    ".....XXXXXXXXXX...",
};

QCursor MakeHandCursor()
{
    QImage shape(32, 32, QImage::Format_MonoLSB);
    QImage mask(32, 32, QImage::Format_MonoLSB);
    shape.fill(0);
    mask.fill(0);
    for (int y = 0; y < int(std::size(HAND_ROWS)); y++) {
        for (int x = 0; HAND_ROWS[y][x]; x++) {
            const char c = HAND_ROWS[y][x];
            if (c == '.')
                continue;
            mask.setPixel(x, y, 1);
            shape.setPixel(x, y, c == 'X' ? 1 : 0); // 1 paints black, 0 white
        }
    }
    return QCursor(QBitmap::fromImage(shape), QBitmap::fromImage(mask), 5, 0);
}

} // namespace

const QCursor& CLinkStatic::HandCursor()
{
    static const QCursor cursor = MakeHandCursor();
    return cursor;
}

CLinkStatic::CLinkStatic(const QString& text, const QString& url, QWidget* parent)
    : QLabel(text, parent)
    , url(url)
{
    QFont linkFont = font();
    linkFont.setUnderline(true);
    setFont(linkFont);
    setMouseTracking(true);
    UpdateCursor();
}

QColor CLinkStatic::CurrentTextColor() const { return PointerInside() ? hoverColor : normalColor; }

bool CLinkStatic::PointerInside() const { return rect().contains(mapFromGlobal(QCursor::pos())); }

void CLinkStatic::UpdateCursor()
{
    // A link without text shows the ordinary arrow.
    if (text().isEmpty())
        unsetCursor();
    else
        setCursor(HandCursor());
}

void CLinkStatic::enterEvent(QEnterEvent* event)
{
    QLabel::enterEvent(event);
    if (!tracking) {
        tracking = true;
        update();
    }
}

void CLinkStatic::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    tracking = false;
    update();
}

void CLinkStatic::mouseMoveEvent(QMouseEvent* event)
{
    QLabel::mouseMoveEvent(event);
    const bool inside = rect().contains(event->position().toPoint());
    if (pressed) {
        // While the button is held the hand shows only over the link.
        if (inside && !text().isEmpty())
            setCursor(HandCursor());
        else
            setCursor(Qt::ArrowCursor);
    }
    if (inside != tracking) {
        tracking = inside;
        update();
    }
}

void CLinkStatic::mousePressEvent(QMouseEvent* event)
{
    QLabel::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        pressed = true;
        grabMouse();
    }
}

void CLinkStatic::mouseReleaseEvent(QMouseEvent* event)
{
    if (!pressed || event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    pressed = false;
    releaseMouse();
    if (rect().contains(event->position().toPoint()))
        OpenLink();
    tracking = false;
    UpdateCursor();
    update();
}

void CLinkStatic::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(tracking ? hoverColor : normalColor);
    painter.drawText(contentsRect(), int(alignment()), text());
}

void CLinkStatic::OpenLink()
{
    if (url.isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Prompts().OpenUrl(url);
    QApplication::restoreOverrideCursor();
    emit linkOpened(url);
}
