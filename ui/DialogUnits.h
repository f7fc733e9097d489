// Converts the dialog units of the window layouts into pixels for a font: a horizontal
// unit is a quarter of the average character width, a vertical one an eighth of its height.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font)
    {
        const QFontMetrics metrics(font);
        baseX = std::max(1, metrics.averageCharWidth());
        baseY = std::max(1, metrics.height());
    }
    int X(int units) const { return (units * baseX + 2) / 4; }
    int Y(int units) const { return (units * baseY + 4) / 8; }
    QRect Rect(int x, int y, int width, int height) const
    {
        return QRect(X(x), Y(y), X(width), Y(height));
    }
    QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

private:
    int baseX;
    int baseY;
};
