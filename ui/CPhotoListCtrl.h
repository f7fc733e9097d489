// The thumbnail list of the main window: one large icon per photo, the whole composed
// frame at canvas size with the file name under it. It shows the photo list and lets the
// user reorder it by dragging one photo onto another, scrolling while the pointer is held
// above or below the list.
#pragma once

#include <QListWidget>
#include <QTimer>

class PhotoList;

class CPhotoListCtrl : public QListWidget {
    Q_OBJECT
public:
    CPhotoListCtrl(PhotoList& photos, QWidget* parent = nullptr);

    // Shows the photo list again from scratch: items, pictures and labels.
    void RebuildImageList();
    // Empties the view for a new canvas size and ends any drag.
    void ResetView();
    // The indices of the selected items, ascending.
    std::vector<size_t> SelectedIndices() const;

    // Moves the one selected photo a place back (-1) or on (+1) with the move of a drag;
    // it stays selected. False when there is no such move.
    bool MoveSelectedPhoto(int step);

    int DragIndex() const { return dragIndex; }
    // Whether the list holds the pointer (only while a photo is dragged).
    bool HoldsCapture() const;
    bool IsAutoScrolling() const { return scrollTimer.isActive(); }

    static constexpr int SCROLL_STEP = 12;
    static constexpr int SCROLL_PERIOD_MS = 50;

signals:
    // The selection changed: the main window updates its buttons.
    void selectionStateChanged();
    // Files were dropped from the desktop's file manager.
    void filesDropped(const QStringList& paths);
    // The Delete key on a selection: the main window removes it.
    void removeRequested();
    // A photo was moved to another place.
    void orderChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BeginDrag(int index);
    void EndDrag();
    void AutoScrollTick();
    void MoveEntry(int from, int before);
    void SelectOnly(int row);

    PhotoList& photos;
    int dragIndex = -1;
    int pressIndex = -1;
    QPoint pressPoint;
    QTimer scrollTimer;
    QCursor dragCursor;
};
