// A text label that behaves as a hyperlink: underlined, black, blue while the pointer is
// over it, a pointing hand, and a click (press and release inside) that opens its address.
#pragma once

#include <QColor>
#include <QLabel>

class CLinkStatic : public QLabel {
    Q_OBJECT
public:
    explicit CLinkStatic(const QString& text, const QString& url, QWidget* parent = nullptr);

    QString Url() const { return url; }
    bool IsTracking() const { return tracking; }
    QColor NormalColor() const { return normalColor; }
    QColor HoverColor() const { return hoverColor; }
    // The colour the text is painted in now.
    QColor CurrentTextColor() const;

    // The process-wide hand cursor, built on first use.
    static const QCursor& HandCursor();

signals:
    void linkOpened(const QString& url);

protected:
    virtual void OpenLink();

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool PointerInside() const;
    void UpdateCursor();

    QString url;
    QColor normalColor { 0, 0, 0 };
    QColor hoverColor { 0, 0, 255 };
    bool tracking = false;
    bool pressed = false;
};
