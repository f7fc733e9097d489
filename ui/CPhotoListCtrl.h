// The thumbnail list of the main window: one icon per photo, the composed frame scaled to
// at most THUMBNAIL_SIDE on its longer side, with the file name and the frame's delay
// under it. It shows the photo list and lets the user reorder it by dragging one photo
// onto another (or after the last), scrolling while the pointer is held near or beyond
// the list's top or bottom edge.
#pragma once

#include <QHash>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>

struct PhotoEntry;
class PhotoHistory;
class PhotoList;
class QMenu;

class CPhotoListCtrl : public QListWidget {
    Q_OBJECT
public:
    CPhotoListCtrl(PhotoList& photos, QWidget* parent = nullptr);

    // Moves go through the history, so that they can be undone (none: straight to the
    // list).
    void SetHistory(PhotoHistory* history) { this->history = history; }
    // While a GIF is being made the list can't be changed: no drags, drops, keys that
    // remove or move, or menu.
    void SetEditable(bool editable);
    bool IsEditable() const { return editable; }
    // Selects exactly these rows (the first becomes current and is scrolled to).
    void SelectRows(const std::vector<size_t>& rows);
    // The menu of the photo under a right-click (a test runs its actions).
    QMenu* ContextMenu() const { return menu; }

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
    // How near the top or bottom edge a held drag starts scrolling.
    static constexpr int SCROLL_EDGE = 32;
    static constexpr int THUMBNAIL_SIDE = 160;

    // What the right-click menu asks for.
    enum class Command { Delay, MoveToStart, MoveToEnd, Reverse, Remove };

signals:
    // The selection changed: the main window updates its buttons.
    void selectionStateChanged();
    // Files were dropped from the desktop's file manager.
    void filesDropped(const QStringList& paths);
    // The Delete key on a selection: the main window removes it.
    void removeRequested();
    // A photo was moved to another place.
    void orderChanged();
    // An entry of the right-click menu was chosen.
    void commandRequested(CPhotoListCtrl::Command command);

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
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BeginDrag(int index);
    void EndDrag();
    void AutoScrollTick();
    // -1 near or above the top edge (in screen coordinates), +1 near or below the bottom,
    // 0 in between.
    int ScrollDirection(int globalY) const;
    void MoveEntry(int from, int before);
    void SelectOnly(int row);
    // Where a drop at point (in the viewport) puts the dragged photo: before this row, the
    // count after the last photo, -1 nowhere.
    int DropTarget(QPoint point) const;
    QPixmap Thumbnail(size_t index);
    QString DelayText(size_t index) const;

    PhotoList& photos;
    PhotoHistory* history = nullptr;
    bool editable = true;
    QMenu* menu;
    // The scaled pictures of the entries in the list, made once for each entry.
    QHash<const PhotoEntry*, QPixmap> thumbnails;
    int dragIndex = -1;
    int pressIndex = -1;
    QPoint pressPoint;
    QTimer scrollTimer;
    QCursor dragCursor;
};
