#include "CPhotoListCtrl.h"

#include "ImageConversion.h"
#include "app/PhotoHistory.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"
#include "platform/DeviceBitmap.h"

#include <QApplication>
#include <QBitmap>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

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
    setWordWrap(false);
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideMiddle);

    // The right-click menu, for the selected photos.
    menu = new QMenu(this);
    const auto command = [this](const QString& text, Command which) {
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, [this, which] { emit commandRequested(which); });
        return action;
    };
    command(QStringLiteral("Delay..."), Command::Delay);
    menu->addSeparator();
    command(QStringLiteral("Move to start"), Command::MoveToStart);
    command(QStringLiteral("Move to end"), Command::MoveToEnd);
    command(QStringLiteral("Reverse order"), Command::Reverse);
    menu->addSeparator();
    command(QStringLiteral("Remove"), Command::Remove);

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
    thumbnails.clear();
    // Every canvas gets pictures of one size, the frame scaled to fit THUMBNAIL_SIDE (a
    // small canvas is shown as it is), so that a row holds several photos.
    const QSize canvas(int(photos.PictureWidth()), int(photos.PictureHeight()));
    QSize icon = canvas;
    if (icon.width() > THUMBNAIL_SIDE || icon.height() > THUMBNAIL_SIDE)
        icon = canvas.scaled(THUMBNAIL_SIDE, THUMBNAIL_SIDE, Qt::KeepAspectRatio);
    setIconSize(icon.expandedTo(QSize(1, 1)));
    // Room for the name and the delay under the picture.
    setGridSize(QSize(std::max(icon.width(), fontMetrics().averageCharWidth() * 14) + 16,
        icon.height() + 2 * fontMetrics().height() + 14));
    RebuildImageList();
}

QPixmap CPhotoListCtrl::Thumbnail(size_t index)
{
    const PhotoEntry* entry = photos.Entry(index);
    if (const auto found = thumbnails.constFind(entry); found != thumbnails.constEnd())
        return found.value();
    QPixmap picture(iconSize());
    picture.fill(Qt::white);
    if (const platform::Bitmap* bitmap = photos.Picture(size_t(photos.PictureIndexOf(index)))) {
        picture = QPixmap::fromImage(
            ToQImage(*bitmap).scaled(iconSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    // A thin grey line shows where the frame ends on a light list.
    QPainter painter(&picture);
    painter.setPen(QColor(160, 160, 160));
    painter.drawRect(picture.rect().adjusted(0, 0, -1, -1));
    painter.end();
    thumbnails.insert(entry, picture);
    return picture;
}

QString CPhotoListCtrl::DelayText(size_t index) const
{
    const PhotoEntry* entry = photos.Entry(index);
    const ProjectSettings& settings = TheProjectSettings();
    const bool own = entry && entry->delay >= 0;
    const uint32_t delay = own        ? uint32_t(entry->delay)
        : index + 1 == photos.Count() ? settings.lastFrameDelay
                                      : settings.frameDelay;
    const QString seconds = QString::number(delay / 100.0, 'f', 2);
    return own ? QStringLiteral("%1 s (own)").arg(seconds) : QStringLiteral("%1 s").arg(seconds);
}

void CPhotoListCtrl::RebuildImageList()
{
    // Pictures of entries no longer in the list are dropped (an entry made later may
    // take the same address).
    QHash<const PhotoEntry*, QPixmap> kept;
    for (size_t i = 0; i < photos.Count(); i++) {
        if (const auto found = thumbnails.constFind(photos.Entry(i));
            found != thumbnails.constEnd())
            kept.insert(found.key(), found.value());
    }
    thumbnails = std::move(kept);
    const int textWidth = gridSize().width() - 8;
    blockSignals(true);
    clear();
    for (size_t i = 0; i < photos.Count(); i++) {
        // The list asks the model for each item's picture and label.
        char label[260] = {};
        photos.LabelOf(i, label, sizeof label);
        const QString name = QFile::decodeName(label);
        auto* item = new QListWidgetItem(QIcon(Thumbnail(i)),
            fontMetrics().elidedText(name, Qt::ElideMiddle, textWidth) + QLatin1Char('\n')
                + DelayText(i));
        item->setToolTip(name);
        item->setData(Qt::AccessibleTextRole, name);
        addItem(item);
    }
    blockSignals(false);
    emit selectionStateChanged();
}

void CPhotoListCtrl::SetEditable(bool on)
{
    if (!on)
        EndDrag();
    editable = on;
}

void CPhotoListCtrl::SelectRows(const std::vector<size_t>& rows)
{
    clearSelection();
    bool first = true;
    for (size_t row : rows) {
        QListWidgetItem* chosen = item(int(row));
        if (!chosen)
            continue;
        if (first) {
            setCurrentItem(chosen, QItemSelectionModel::ClearAndSelect);
            scrollToItem(chosen);
            first = false;
        } else {
            chosen->setSelected(true);
        }
    }
}

void CPhotoListCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    if (!editable || dragIndex >= 0)
        return;
    // A right-click on a photo outside the selection chooses that photo alone.
    const QModelIndex hit = indexAt(viewport()->mapFromGlobal(event->globalPos()));
    if (hit.isValid() && !item(hit.row())->isSelected())
        SelectOnly(hit.row());
    const bool chosen = !selectedItems().isEmpty();
    const QList<QAction*> actions = menu->actions();
    for (QAction* action : actions) {
        const bool reverse = action->text() == QStringLiteral("Reverse order");
        action->setEnabled(reverse ? count() > 1 : chosen);
    }
    menu->popup(event->globalPos());
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
    const bool changesList = event->key() == Qt::Key_Delete
        || ((event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)
            && event->modifiers() == Qt::AltModifier);
    if (!editable && changesList) {
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
        if (editable && (event->buttons() & Qt::LeftButton) && pressIndex >= 0
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
    // Scroll while the pointer is near the list's top or bottom edge, or beyond it.
    if (ScrollDirection(event->globalPosition().toPoint().y()) == 0)
        scrollTimer.stop();
    else if (!scrollTimer.isActive())
        scrollTimer.start();
}

int CPhotoListCtrl::ScrollDirection(int globalY) const
{
    const QRect area(viewport()->mapToGlobal(QPoint(0, 0)), viewport()->size());
    const int edge = std::min(SCROLL_EDGE, area.height() / 4);
    if (globalY < area.top() + edge)
        return -1;
    if (globalY > area.bottom() - edge)
        return 1;
    return 0;
}

void CPhotoListCtrl::AutoScrollTick()
{
    const QRect area(viewport()->mapToGlobal(QPoint(0, 0)), viewport()->size());
    const int y = QCursor::pos().y();
    const int direction = ScrollDirection(y);
    if (direction == 0) {
        scrollTimer.stop();
        return;
    }
    // Faster the further beyond the edge the pointer is held: up to four steps a tick.
    const int beyond = direction < 0 ? area.top() - y : y - area.bottom();
    const int steps = 1 + std::clamp(beyond / SCROLL_EDGE, 0, 3);
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + direction * steps * SCROLL_STEP);
}

int CPhotoListCtrl::DropTarget(QPoint point) const
{
    const QModelIndex hit = indexAt(point);
    if (hit.isValid())
        return hit.row();
    if (count() == 0)
        return -1;
    // Below the last row, or to the right of the last photo in its row: after it.
    const QRect last = visualItemRect(item(count() - 1));
    if (point.y() > last.bottom() || (point.y() >= last.top() && point.x() > last.right()))
        return count();
    return -1;
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
    const int target = DropTarget(event->position().toPoint());
    // Dropping on itself or on its right-hand neighbour changes nothing.
    if (target >= 0 && target != from && target != from + 1)
        MoveEntry(from, target);
}

void CPhotoListCtrl::MoveEntry(int from, int before)
{
    const int landed = history ? history->Move({ size_t(from) }, size_t(before))
                               : photos.MoveEntry(size_t(from), size_t(before));
    if (landed < 0)
        return;
    RebuildImageList();
    SelectOnly(landed);
    emit orderChanged();
}

void CPhotoListCtrl::dragEnterEvent(QDragEnterEvent* event)
{
    if (editable && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CPhotoListCtrl::dragMoveEvent(QDragMoveEvent* event)
{
    if (editable && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CPhotoListCtrl::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    if (editable && !paths.isEmpty()) {
        event->acceptProposedAction();
        emit filesDropped(paths);
    }
}
