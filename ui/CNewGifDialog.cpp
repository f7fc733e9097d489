#include "CNewGifDialog.h"

#include "DialogUnits.h"
#include "UiPrompts.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimer>

namespace {

const char* const NOT_A_POSITIVE_INTEGER = "Please enter a positive integer.";

// Reads an unsigned decimal as the dialog's exchange does: digits only, at most 32 bits.
bool ParseUnsigned(const QString& text, uint32_t& value)
{
    bool ok = false;
    const qulonglong parsed = text.trimmed().toULongLong(&ok, 10);
    if (!ok || parsed > 0xFFFFFFFFull)
        return false;
    value = uint32_t(parsed);
    return true;
}

QLineEdit* DigitsEdit(QWidget* parent, const QRect& geometry, uint32_t value)
{
    auto* edit = new QLineEdit(QString::number(value), parent);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setGeometry(geometry);
    return edit;
}

// The small diagram beside the sizes: the overall canvas with the photo's square in it.
QPixmap SizeDiagram(const QSize& size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(Qt::black, 1));
    const QRect canvas(1, 1, size.width() - 3, size.height() - 3);
    painter.fillRect(canvas, QColor(250, 250, 250));
    painter.drawRect(canvas);
    const int side = canvas.height() * 3 / 5;
    const QRect photo(canvas.center().x() - side / 2, canvas.center().y() - side / 2, side, side);
    painter.fillRect(photo, QColor(120, 160, 210));
    painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
    painter.drawRect(photo);
    return pixmap;
}

} // namespace

CColorStatic::CColorStatic(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void CColorStatic::SetColor(const QColor& newColor)
{
    color = newColor;
    update();
}

void CColorStatic::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void CColorStatic::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), color);
    // Text in black or white, whichever reads better on the colour.
    painter.setPen(color.lightness() > 128 ? Qt::black : Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, Text());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

CNewGifDialog::CNewGifDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Begin a new GIF"));
    const DialogUnits du(font());
    setFixedSize(du.Size(249, 169));

    auto* sizeGroup = new QGroupBox(QStringLiteral("Image Size (pixels)"), this);
    sizeGroup->setGeometry(du.Rect(7, 7, 235, 63));
    (new QLabel(QStringLiteral("Overall Width:"), this))->setGeometry(du.Rect(15, 19, 68, 10));
    widthEdit = DigitsEdit(this, du.Rect(85, 18, 40, 12), overallWidth);
    (new QLabel(QStringLiteral("Overall Height:"), this))->setGeometry(du.Rect(15, 34, 68, 10));
    heightEdit = DigitsEdit(this, du.Rect(85, 33, 40, 12), overallHeight);
    (new QLabel(QStringLiteral("Photo size:"), this))->setGeometry(du.Rect(15, 50, 68, 10));
    photoSizeEdit = DigitsEdit(this, du.Rect(85, 49, 40, 12), photoSize);
    auto* diagram = new QLabel(this);
    diagram->setGeometry(du.Rect(136, 23, 94, 35));
    diagram->setPixmap(SizeDiagram(diagram->size()));

    auto* backgroundGroup = new QGroupBox(QStringLiteral("Background"), this);
    backgroundGroup->setGeometry(du.Rect(7, 78, 235, 48));
    colorRadio = new QRadioButton(QStringLiteral("Color:"), this);
    colorRadio->setGeometry(du.Rect(15, 92, 40, 10));
    imageRadio = new QRadioButton(QStringLiteral("Image:"), this);
    imageRadio->setGeometry(du.Rect(15, 108, 40, 10));
    auto* modes = new QButtonGroup(this);
    modes->addButton(colorRadio, 0);
    modes->addButton(imageRadio, 1);
    colorRadio->setChecked(true);

    colorStatic = new CColorStatic(this);
    colorStatic->setGeometry(du.Rect(56, 91, 104, 11));
    colorStatic->SetColor(QColor(0xFF, 0xFF, 0xFF));
    pathEdit = new QLineEdit(this);
    pathEdit->setReadOnly(true);
    pathEdit->setGeometry(du.Rect(56, 106, 163, 12));
    browseButton = new QPushButton(QStringLiteral("..."), this);
    browseButton->setGeometry(du.Rect(220, 106, 13, 12));

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(du.Rect(7, 143, 234, 1));
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setGeometry(du.Rect(140, 148, 50, 14));
    okButton->setDefault(true);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setGeometry(du.Rect(192, 148, 50, 14));

    connect(okButton, &QPushButton::clicked, this, &CNewGifDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    for (QLineEdit* edit : { widthEdit, heightEdit, photoSizeEdit })
        connect(edit, &QLineEdit::textChanged, this, &CNewGifDialog::PostValidation);
    connect(colorRadio, &QRadioButton::clicked, this, &CNewGifDialog::PostValidation);
    connect(imageRadio, &QRadioButton::clicked, this, &CNewGifDialog::PostValidation);
    connect(colorStatic, &CColorStatic::clicked, this, &CNewGifDialog::PickColor);
    connect(browseButton, &QPushButton::clicked, this, &CNewGifDialog::PickBackground);

    okButton->setFocus();
    PostValidation();
}

void CNewGifDialog::PostValidation()
{
    // Several changes in one go are judged once, after they are all in.
    if (validationPosted)
        return;
    validationPosted = true;
    QTimer::singleShot(0, this, [this] {
        validationPosted = false;
        Validate();
    });
}

bool CNewGifDialog::Exchange()
{
    backgroundMode = imageRadio->isChecked() ? 1 : 0;
    backgroundPath = pathEdit->text();
    struct Field {
        QLineEdit* edit;
        uint32_t* member;
    };
    for (const Field& field : { Field { photoSizeEdit, &photoSize },
             Field { heightEdit, &overallHeight }, Field { widthEdit, &overallWidth } }) {
        uint32_t value;
        if (!ParseUnsigned(field.edit->text(), value)) {
            Prompts().Warning(this, QString::fromLatin1(NOT_A_POSITIVE_INTEGER));
            field.edit->setFocus();
            return false;
        }
        *field.member = value;
    }
    return true;
}

bool CNewGifDialog::MembersValid() const
{
    auto inRange = [](uint32_t v) { return v >= 32 && v <= 800; };
    return inRange(photoSize) && inRange(overallWidth) && inRange(overallHeight)
        && photoSize <= overallHeight && photoSize <= overallWidth
        && (backgroundMode != 1 || !backgroundPath.isEmpty());
}

void CNewGifDialog::Validate()
{
    Exchange();
    okButton->setEnabled(MembersValid());
}

void CNewGifDialog::accept()
{
    // Enter may reach OK before a posted validation has run: never accept bad values.
    if (!Exchange() || !MembersValid()) {
        okButton->setEnabled(false);
        return;
    }
    QDialog::accept();
    if (backgroundMode == 0)
        backgroundPath.clear();
}

void CNewGifDialog::PickColor()
{
    const QColor initial(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
    if (const auto picked = Prompts().PickColor(this, initial)) {
        color = uint32_t(picked->red()) | (uint32_t(picked->green()) << 8)
            | (uint32_t(picked->blue()) << 16);
        colorStatic->SetColor(*picked);
        PostValidation();
    }
}

void CNewGifDialog::PickBackground()
{
    const QString path = Prompts().ChooseBackgroundPicture(this);
    if (path.isEmpty())
        return;
    pathEdit->setText(path);
    PostValidation();
}
