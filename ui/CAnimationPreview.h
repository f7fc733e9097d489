// The animation as it will be written, played before it is made: the frames of the photo
// list (the very images that become the GIF's frames) in list order, each shown for its
// delay, looping. A window of its own beside the main window, which keeps working while
// it plays; the main window hands it the frames again after every change of the list.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>
#include <vector>

class CxImage;
struct GifCodedFrame;
class PhotoList;
class QLabel;
class QPushButton;
class QToolButton;

class CAnimationPreview : public QWidget {
    Q_OBJECT
public:
    explicit CAnimationPreview(QWidget* parent = nullptr);

    // Takes the list's frames in order, with every frame's delay and the last frame's own
    // (1/100 s). The frame shown goes on being shown when it is still in the list.
    void SetFrames(const PhotoList& photos, uint32_t frameDelay, uint32_t lastFrameDelay);

    int FrameCount() const { return int(frames.size()); }
    // The frame shown, -1 with none.
    int CurrentFrame() const { return current; }
    // The frame's picture: a frame of a compact list is decoded when it is asked for, and
    // only the one shown is kept decoded.
    QImage FrameImage(int index) const;
    // How long a frame stays, in milliseconds, as the timer runs it.
    int FrameDurationMs(int index) const;
    bool IsPlaying() const { return playing; }
    // The interval of the running timer (the shown frame's duration); 0 when paused.
    int TimerIntervalMs() const { return timer.isActive() ? timer.interval() : 0; }
    QString PositionText() const;

    void Play();
    void Pause();
    void StepBack();
    void StepForward();
    // The timer's step: the next frame, after the last the first again.
    void AdvanceFrame();

    QPushButton* PlayButton() const { return playButton; }
    QToolButton* BackButton() const { return backButton; }
    QToolButton* ForwardButton() const { return forwardButton; }

    // Viewers show a delay below 2/100 s as 1/10 s, and so does the preview.
    static int DelayToMs(uint32_t hundredths);

protected:
    // Esc closes the preview, as it closes the program's dialogs.
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Frame {
        uint64_t entry; // the photo entry's id: the frame across changes of the list
        std::shared_ptr<const GifCodedFrame> coded; // a compact list's frame
        QImage image; // null while a coded frame is not decoded
        uint32_t delay; // 1/100 s
    };
    void Show(int index);
    void UpdateControls();

    std::vector<Frame> frames;
    int current = -1;
    bool playing = true;
    QTimer timer;
    QWidget* picture;
    QLabel* position;
    QPushButton* playButton;
    QToolButton* backButton;
    QToolButton* forwardButton;
};
