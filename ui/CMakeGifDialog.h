// "Make GIF": where to write the animation and how long its frames stay on the screen.
// It starts from the values of the previous accepted making.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
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

public slots:
    void accept() override;

private:
    bool ExchangeIn();
    void ExchangeOut();
    void Browse();

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
};
