// "Begin a new GIF": the canvas size, the photo size and the background of a new
// animation, checked as they are typed; OK is enabled only for a valid combination.
#pragma once

#include <QColor>
#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class CColorStatic;

class CNewGifDialog : public QDialog {
    Q_OBJECT
public:
    explicit CNewGifDialog(QWidget* parent = nullptr);

    // The accepted values (valid after OK).
    uint32_t OverallWidth() const { return overallWidth; }
    uint32_t OverallHeight() const { return overallHeight; }
    uint32_t PhotoSize() const { return photoSize; }
    uint32_t BackgroundColor() const { return color; } // 0x00BBGGRR
    QString BackgroundPath() const { return backgroundPath; }
    int BackgroundMode() const { return backgroundMode; }
    bool FastDecoding() const { return fastDecoding; }

    QLineEdit* WidthEdit() const { return widthEdit; }
    QLineEdit* HeightEdit() const { return heightEdit; }
    QLineEdit* PhotoSizeEdit() const { return photoSizeEdit; }
    QRadioButton* ColorRadio() const { return colorRadio; }
    QRadioButton* ImageRadio() const { return imageRadio; }
    QLineEdit* PathEdit() const { return pathEdit; }
    QPushButton* BrowseButton() const { return browseButton; }
    QPushButton* OkButton() const { return okButton; }
    CColorStatic* ColorControl() const { return colorStatic; }
    QCheckBox* FastCheck() const { return fastCheck; }

    // Runs the validation now (normally posted after every change).
    void Validate();

public slots:
    void accept() override;

private:
    void PostValidation();
    // Controls into members, in the dialog's exchange order; false at the first field
    // that holds no positive integer (after telling the user).
    bool Exchange();
    bool MembersValid() const;
    void PickColor();
    void PickBackground();

    int backgroundMode = 0;
    QString backgroundPath;
    uint32_t photoSize = 120;
    uint32_t overallHeight = 120;
    uint32_t overallWidth = 120;
    uint32_t color = 0xFFFFFF;
    bool fastDecoding = false;

    QLineEdit* widthEdit;
    QLineEdit* heightEdit;
    QLineEdit* photoSizeEdit;
    QRadioButton* colorRadio;
    QRadioButton* imageRadio;
    CColorStatic* colorStatic;
    QLineEdit* pathEdit;
    QPushButton* browseButton;
    QCheckBox* fastCheck;
    QPushButton* okButton;
    bool validationPosted = false;
};

// The sunken "Click to pick color" control; it shows the chosen colour.
class CColorStatic : public QWidget {
    Q_OBJECT
public:
    explicit CColorStatic(QWidget* parent = nullptr);
    void SetColor(const QColor& color);
    QColor Color() const { return color; }
    QString Text() const { return QStringLiteral("Click to pick color"); }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color { 255, 255, 255 };
};
