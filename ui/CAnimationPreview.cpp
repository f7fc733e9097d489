#include "CAnimationPreview.h"

#include "ImageConversion.h"
#include "app/PhotoList.h"
#include "image/core/CxImage.h"
#include "image/gif/GifAnimationWriter.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The frame at its own size, centred; reduced to fit when the window is smaller.
class CFrameView : public QWidget {
public:
    explicit CFrameView(QWidget* parent)
        : QWidget(parent)
    {
        setMinimumSize(120, 120);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    void SetImage(const QImage& shown)
    {
        image = shown;
        if (!image.isNull())
            setMinimumSize(std::min(image.width(), 400), std::min(image.height(), 400));
        update();
    }
    QSize sizeHint() const override
    {
        return image.isNull() ? QSize(240, 240) : image.size().expandedTo(QSize(240, 180));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Dark));
        if (image.isNull())
            return;
        QSize size = image.size();
        if (size.width() > width() || size.height() > height())
            size.scale(this->size(), Qt::KeepAspectRatio);
        const QRect target(
            QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(target, image);
    }

private:
    QImage image;
};

} // namespace

int CAnimationPreview::DelayToMs(uint32_t hundredths)
{
    return hundredths < 2 ? 100 : int(hundredths) * 10;
}

CAnimationPreview::CAnimationPreview(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Preview"));
    setAccessibleName(QStringLiteral("Animation preview"));

    picture = new CFrameView(this);
    picture->setAccessibleName(QStringLiteral("Frame"));
    backButton = new QToolButton(this);
    backButton->setIcon(style()->standardIcon(QStyle::SP_MediaSkipBackward));
    backButton->setToolTip(QStringLiteral("Step back"));
    backButton->setAccessibleName(QStringLiteral("Step back"));
    playButton = new QPushButton(this);
    // Wide enough for either caption, so that it doesn't jump when it changes.
    const QFontMetrics metrics = playButton->fontMetrics();
    playButton->setMinimumWidth(std::max(metrics.horizontalAdvance(QStringLiteral("Pause")),
                                    metrics.horizontalAdvance(QStringLiteral("Play")))
        + playButton->iconSize().width() + 32);
    forwardButton = new QToolButton(this);
    forwardButton->setIcon(style()->standardIcon(QStyle::SP_MediaSkipForward));
    forwardButton->setToolTip(QStringLiteral("Step forward"));
    forwardButton->setAccessibleName(QStringLiteral("Step forward"));
    position = new QLabel(this);
    position->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("frame 9999 of 9999")));

    auto* controls = new QHBoxLayout;
    controls->addWidget(backButton);
    controls->addWidget(playButton);
    controls->addWidget(forwardButton);
    controls->addSpacing(8);
    controls->addWidget(position, 1);
    auto* windowLayout = new QVBoxLayout(this);
    windowLayout->addWidget(picture, 1);
    windowLayout->addLayout(controls);

    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &CAnimationPreview::AdvanceFrame);
    connect(backButton, &QToolButton::clicked, this, &CAnimationPreview::StepBack);
    connect(forwardButton, &QToolButton::clicked, this, &CAnimationPreview::StepForward);
    connect(playButton, &QPushButton::clicked, this, [this] { playing ? Pause() : Play(); });
    UpdateControls();
}

void CAnimationPreview::SetFrames(
    const PhotoList& photos, uint32_t frameDelay, uint32_t lastFrameDelay)
{
    const uint64_t shown = current >= 0 ? frames[size_t(current)].entry : 0;
    // Frames already converted are kept; only new ones are made into pictures (a coded
    // one when it is shown).
    std::map<uint64_t, QImage> known;
    for (Frame& frame : frames)
        known.emplace(frame.entry, std::move(frame.image));
    frames.clear();
    int next = -1;
    for (size_t i = 0; i < photos.Count(); i++) {
        const PhotoEntry* entry = photos.Entry(i);
        if (!entry->gifFrame && !entry->codedFrame)
            continue;
        const auto found = known.find(entry->id);
        QImage image = found != known.end() ? std::move(found->second)
            : entry->gifFrame               ? ToQImage(*entry->gifFrame)
                                            : QImage();
        if (entry->id == shown)
            next = int(frames.size());
        // A photo's own delay, else the last frame's or every other frame's.
        const int32_t own = entry->delay;
        const uint32_t delay = own >= 0 ? uint32_t(own)
            : i + 1 == photos.Count()   ? lastFrameDelay
                                        : frameDelay;
        frames.push_back(Frame { entry->id, entry->codedFrame, std::move(image), delay });
    }
    if (next < 0)
        next = frames.empty() ? -1 : std::min(std::max(current, 0), FrameCount() - 1);
    Show(next);
}

QImage CAnimationPreview::FrameImage(int index) const
{
    const Frame& frame = frames.at(size_t(index));
    if (!frame.image.isNull() || !frame.coded)
        return frame.image;
    const std::unique_ptr<CxImage> decoded = DecodeGifFrame(*frame.coded);
    return decoded ? ToQImage(*decoded) : QImage();
}

int CAnimationPreview::FrameDurationMs(int index) const
{
    return DelayToMs(frames.at(size_t(index)).delay);
}

QString CAnimationPreview::PositionText() const
{
    if (frames.empty())
        return QStringLiteral("no frames");
    return QStringLiteral("frame %1 of %2").arg(current + 1).arg(FrameCount());
}

void CAnimationPreview::Show(int index)
{
    // Only the frame shown is kept decoded.
    if (current >= 0 && current < FrameCount() && current != index && frames[size_t(current)].coded)
        frames[size_t(current)].image = QImage();
    current = index;
    timer.stop();
    if (current >= 0 && frames[size_t(current)].image.isNull())
        frames[size_t(current)].image = FrameImage(current);
    static_cast<CFrameView*>(picture)->SetImage(
        current >= 0 ? frames[size_t(current)].image : QImage());
    // A single frame has nothing to alternate with.
    if (playing && FrameCount() > 1)
        timer.start(FrameDurationMs(current));
    UpdateControls();
}

void CAnimationPreview::AdvanceFrame()
{
    if (!frames.empty())
        Show((current + 1) % FrameCount());
}

void CAnimationPreview::Play()
{
    playing = true;
    Show(current);
}

void CAnimationPreview::Pause()
{
    playing = false;
    Show(current);
}

void CAnimationPreview::StepBack()
{
    Pause();
    if (!frames.empty())
        Show((current + FrameCount() - 1) % FrameCount());
}

void CAnimationPreview::StepForward()
{
    Pause();
    AdvanceFrame();
}

void CAnimationPreview::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CAnimationPreview::UpdateControls()
{
    playButton->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    playButton->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    playButton->setAccessibleName(playButton->text());
    const bool several = FrameCount() > 1;
    playButton->setEnabled(several);
    backButton->setEnabled(several);
    forwardButton->setEnabled(several);
    position->setText(PositionText());
}
