// "Make GIF": where to write the animation and how long its frames stay on the screen.
// It starts from the values of the previous accepted making.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

class CMakeGifDialog : public QDialog {
    Q_OBJECT
public:
    CMakeGifDialog(const QString& outputPath, uint32_t frameDelay, uint32_t lastFrameDelay,
        QWidget* parent = nullptr);

    QString OutputPath() const { return outputPath; }
    uint32_t FrameDelay() const { return frameDelay; }
    uint32_t LastFrameDelay() const { return lastFrameDelay; }

    QLineEdit* PathEdit() const { return pathEdit; }
    QLineEdit* FrameDelayEdit() const { return frameDelayEdit; }
    QLineEdit* LastFrameDelayEdit() const { return lastFrameDelayEdit; }
    QPushButton* BrowseButton() const { return browseButton; }
    QPushButton* OkButton() const { return okButton; }
    // Where check boxes for how the file is made go, one a row under the delays.
    QVBoxLayout* OptionsLayout() const { return optionsLayout; }
    // "Optimise file size" and "Dither colours", off until the caller sets them.
    QCheckBox* OptimizeBox() const { return optimizeBox; }
    QCheckBox* DitherBox() const { return ditherBox; }
    // "Open the GIF when done", checked until the caller says otherwise.
    QCheckBox* OpenBox() const { return openBox; }
    // How often the animation plays again (0 shows "Forever"), and the quality of the
    // making (0 shows "Off").
    QSpinBox* LoopBox() const { return loopBox; }
    QSpinBox* QualityBox() const { return qualityBox; }

    // The photos of the list: OK and "..." refuse an output file that is one of them.
    void SetPhotoPaths(std::vector<std::string> paths) { photoPaths = std::move(paths); }

public slots:
    void accept() override;

private:
    bool ExchangeIn();
    void ExchangeOut();
    void Browse();
    // Whether the making may write to path: refuses one of the photos and asks before
    // replacing a file that is not a GIF (once for each path).
    bool OutputAllowed(const QString& path);

    uint32_t frameDelay;
    uint32_t lastFrameDelay;
    QString outputPath;
    QLineEdit* pathEdit;
    QLineEdit* frameDelayEdit;
    QLineEdit* lastFrameDelayEdit;
    QPushButton* browseButton;
    QPushButton* okButton;
    QVBoxLayout* optionsLayout;
    QCheckBox* optimizeBox;
    QCheckBox* ditherBox;
    QCheckBox* openBox;
    QSpinBox* loopBox;
    QSpinBox* qualityBox;
    std::vector<std::string> photoPaths;
    QString confirmedPath; // a file that is not a GIF, which the user agreed to replace
};
