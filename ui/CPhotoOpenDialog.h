// The photo open dialog: the desktop's file dialog (Qt's own, so that it can be extended)
// with a panel under the standard controls that previews the named file and shows its
// width and height. The "Preview" check box keeps its state for the rest of the run.
#pragma once

#include <QFileDialog>
#include <QFrame>
#include <QImage>

class QCheckBox;
class QLabel;

// The black preview area; a picture larger than the area is reduced to fit keeping its
// proportions, a smaller one is shown centred at its own size.
class CPreviewStatic : public QFrame {
    Q_OBJECT
public:
    explicit CPreviewStatic(QWidget* parent = nullptr);
    // Loads the picture of a file (none for an empty path); files over 2 MiB, unreadable
    // files and unknown formats give no picture.
    void LoadPreview(const QString& path);
    uint32_t PictureWidth() const { return pictureWidth; }
    uint32_t PictureHeight() const { return pictureHeight; }
    bool HasPicture() const { return !picture.isNull(); }
    // Where the picture is painted in the client area (empty without one).
    QRect PictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture;
    uint32_t pictureWidth = 0;
    uint32_t pictureHeight = 0;
};

class CPhotoOpenDialog : public QFileDialog {
    Q_OBJECT
public:
    CPhotoOpenDialog(QWidget* parent, const QString& initialFolder);

    // The file the dialog names now (the first of several), or empty.
    QString GetCurrentSelectionPath() const;

    CPreviewStatic* Preview() const { return preview; }
    QCheckBox* PreviewCheck() const { return previewCheck; }
    QLabel* WidthText() const { return widthText; }
    QLabel* HeightText() const { return heightText; }

    // Follows a change of the named file (called by the dialog's own signals).
    void SelectionChanged();

    // The state of the "Preview" check box that new dialogs start from.
    static bool PreviewEnabled();
    static void SetPreviewEnabled(bool enabled);

private:
    void PreviewClicked();
    void ShowCurrent();

    CPreviewStatic* preview;
    QCheckBox* previewCheck;
    QLabel* widthText;
    QLabel* heightText;
};

// Sorts paths in the order a selection of photos is added (whole paths, without regard
// to case).
QStringList SortPhotoPaths(QStringList paths);
