#include "CPhotoListCtrl.h"

#include "ImageConversion.h"
#include "app/PhotoList.h"
#include "platform/DeviceBitmap.h"

#include <QApplication>
#include <QBitmap>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace {

// The drag cursor: an arrow up and to the left with a small dotted rectangle below it
// to the right; hot spot (16, 8).
QCursor MakeDragCursor()
{
    QImage shape(32, 32, QImage::Format_MonoLSB);
    QImage mask(32, 32, QImage::Format_MonoLSB);
    shape.fill(0);
    mask.fill(0);
    auto black = [&](int x, int y) {
        shape.setPixel(x, y, 1);
        mask.setPixel(x, y, 1);
    };
    auto white = [&](int x, int y) {
        shape.setPixel(x, y, 0);
        mask.setPixel(x, y, 1);
    };
    // Arrow with its tip at (16, 8).
    for (int row = 0; row < 12; row++) {
        for (int col = 0; col <= row; col++) {
            const bool edge = col == 0 || col == row || row == 11;
            if (edge)
                black(16 + col, 8 + row);
            else
                white(16 + col, 8 + row);
        }
    }
    for (int row = 12; row < 16; row++) {
        black(20, 8 + row);
        black(23, 8 + row);
        white(21, 8 + row);
        white(22, 8 + row);
    }
    // Dotted rectangle below and to the right.
    for (int i = 0; i < 9; i += 2) {
        black(22 + i, 26);
        black(22 + i, 31);
    }
    for (int j = 26; j < 32; j += 2) {
        black(22, j);
        black(30, j);
    }
    return QCursor(QBitmap::fromImage(shape), QBitmap::fromImage(mask), 16, 8);
}

} // namespace

CPhotoListCtrl::CPhotoListCtrl(PhotoList& photos, QWidget* parent)
    : QListWidget(parent)
    , photos(photos)
    , dragCursor(MakeDragCursor())
{
    setViewMode(QListView::IconMode);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSpacing(6);
    setWordWrap(true);

    scrollTimer.setInterval(SCROLL_PERIOD_MS);
    connect(&scrollTimer, &QTimer::timeout, this, &CPhotoListCtrl::AutoScrollTick);
    connect(this, &QListWidget::itemSelectionChanged, this, &CPhotoListCtrl::selectionStateChanged);
    setAccessibleName(QStringLiteral("Photos"));
    setAccessibleDescription(QStringLiteral("The frames of the animation in order"));
    ResetView();
}

void CPhotoListCtrl::ResetView()
{
    EndDrag();
    clear();
    setIconSize(QSize(int(photos.PictureWidth()), int(photos.PictureHeight())));
    RebuildImageList();
}

void CPhotoListCtrl::RebuildImageList()
{
    const QSize canvas = iconSize();
    blockSignals(true);
    clear();
    for (size_t i = 0; i < photos.Count(); i++) {
        // The list asks the model for each item's picture and label.
        QPixmap picture;
        if (const platform::Bitmap* bitmap = photos.Picture(size_t(photos.PictureIndexOf(i))))
            picture = QPixmap::fromImage(ToQImage(*bitmap));
        else {
            picture = QPixmap(canvas);
            picture.fill(Qt::white);
        }
        char label[260] = {};
        photos.LabelOf(i, label, sizeof label);
        const QString name = QFile::decodeName(label);
        auto* item = new QListWidgetItem(QIcon(picture), name);
        item->setToolTip(name);
        item->setSizeHint(
            QSize(canvas.width() + 16, canvas.height() + 2 * fontMetrics().height() + 8));
        addItem(item);
    }
    blockSignals(false);
    emit selectionStateChanged();
}

std::vector<size_t> CPhotoListCtrl::SelectedIndices() const
{
    std::vector<size_t> indices;
    for (int i = 0; i < count(); i++) {
        if (item(i)->isSelected())
            indices.push_back(size_t(i));
    }
    return indices;
}

void CPhotoListCtrl::mousePressEvent(QMouseEvent* event)
{
    QListWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        const QModelIndex hit = indexAt(event->position().toPoint());
        pressIndex = hit.isValid() ? hit.row() : -1;
        pressPoint = event->position().toPoint();
    }
}

void CPhotoListCtrl::BeginDrag(int index)
{
    // With fewer than two photos there is nothing to reorder.
    if (count() < 2)
        return;
    dragIndex = index;
    // The pointer is captured by the viewport, where the list's mouse handling listens:
    // captured by the list itself, the button's release would never arrive there.
    viewport()->grabMouse();
    QApplication::setOverrideCursor(dragCursor);
}

void CPhotoListCtrl::EndDrag()
{
    scrollTimer.stop();
    if (dragIndex >= 0) {
        if (QWidget::mouseGrabber() == viewport())
            viewport()->releaseMouse();
        QApplication::restoreOverrideCursor();
    }
    dragIndex = -1;
    pressIndex = -1;
}

bool CPhotoListCtrl::HoldsCapture() const { return QWidget::mouseGrabber() == viewport(); }

void CPhotoListCtrl::focusOutEvent(QFocusEvent* event)
{
    EndDrag();
    QListWidget::focusOutEvent(event);
}

void CPhotoListCtrl::changeEvent(QEvent* event)
{
    // A drag never outlives the window's activation: the pointer is the user's again.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        EndDrag();
    QListWidget::changeEvent(event);
}

void CPhotoListCtrl::hideEvent(QHideEvent* event)
{
    EndDrag();
    QListWidget::hideEvent(event);
}

void CPhotoListCtrl::keyPressEvent(QKeyEvent* event)
{
    if (dragIndex >= 0) {
        // Esc gives up the drag; while dragging no other key acts.
        if (event->key() == Qt::Key_Escape)
            EndDrag();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        if (!selectedItems().isEmpty())
            emit removeRequested();
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Home || event->key() == Qt::Key_End)
        && event->modifiers() == Qt::NoModifier) {
        if (count() > 0)
            SelectOnly(event->key() == Qt::Key_Home ? 0 : count() - 1);
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)
        && event->modifiers() == Qt::AltModifier) {
        MoveSelectedPhoto(event->key() == Qt::Key_Left ? -1 : 1);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

bool CPhotoListCtrl::MoveSelectedPhoto(int step)
{
    const std::vector<size_t> chosen = SelectedIndices();
    if (chosen.size() != 1 || (step != -1 && step != 1))
        return false;
    const int from = int(chosen.front());
    if (from + step < 0 || from + step >= count())
        return false;
    // One place on is the neighbour moving one place back: the move of a drag either way.
    if (step < 0)
        MoveEntry(from, from - 1);
    else
        MoveEntry(from + 1, from);
    SelectOnly(from + step);
    return true;
}

void CPhotoListCtrl::SelectOnly(int row)
{
    QListWidgetItem* chosen = item(row);
    if (!chosen)
        return;
    clearSelection();
    setCurrentItem(chosen, QItemSelectionModel::ClearAndSelect);
    scrollToItem(chosen);
}

void CPhotoListCtrl::mouseMoveEvent(QMouseEvent* event)
{
    if (dragIndex < 0) {
        // A drag starts when the button is held on an item and the pointer moves far enough.
        if ((event->buttons() & Qt::LeftButton) && pressIndex >= 0
            && (event->position().toPoint() - pressPoint).manhattanLength()
                >= QApplication::startDragDistance()) {
            BeginDrag(pressIndex);
            pressIndex = -1;
        }
        if (dragIndex < 0) {
            QListWidget::mouseMoveEvent(event);
            return;
        }
    }
    if (dragIndex >= count()) {
        EndDrag();
        return;
    }
    // Scroll while the pointer is above or below the list, not while it is within its height.
    const QRect window(mapToGlobal(QPoint(0, 0)), size());
    const int y = event->globalPosition().toPoint().y();
    if (y >= window.top() && y <= window.bottom())
        scrollTimer.stop();
    else if (!scrollTimer.isActive())
        scrollTimer.start();
}

void CPhotoListCtrl::AutoScrollTick()
{
    const int top = mapToGlobal(QPoint(0, 0)).y();
    const int y = QCursor::pos().y();
    if (y == top) {
        scrollTimer.stop();
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + (y < top ? -SCROLL_STEP : SCROLL_STEP));
}

void CPhotoListCtrl::mouseReleaseEvent(QMouseEvent* event)
{
    scrollTimer.stop();
    if (dragIndex < 0 || event->button() != Qt::LeftButton) {
        pressIndex = -1;
        QListWidget::mouseReleaseEvent(event);
        return;
    }
    const int from = dragIndex;
    EndDrag();
    if (from >= count())
        return;
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (!hit.isValid())
        return;
    const int target = hit.row();
    // Dropping on itself or on its right-hand neighbour changes nothing.
    if (target != from && target != from + 1)
        MoveEntry(from, target);
}

void CPhotoListCtrl::MoveEntry(int from, int before)
{
    const int32_t landed = photos.MoveEntry(size_t(from), size_t(before));
    if (landed < 0)
        return;
    RebuildImageList();
    SelectOnly(landed);
    emit orderChanged();
}

void CPhotoListCtrl::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CPhotoListCtrl::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CPhotoListCtrl::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    if (!paths.isEmpty()) {
        event->acceptProposedAction();
        emit filesDropped(paths);
    }
}
