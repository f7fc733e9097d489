#include "CNewGifDialog.h"

#include "DialogUnits.h"
#include "UiPrompts.h"
#include "app/Composition.h"
#include "app/ProjectSettings.h"
#include "image/core/CxImage.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

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

QLineEdit* DigitsEdit(QWidget* parent, uint32_t value)
{
    auto* edit = new QLineEdit(QString::number(value), parent);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
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

    // The arrangement of the design, in layouts, so that no text is ever cut off.
    auto* dialogLayout = new QVBoxLayout(this);
    dialogLayout->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    dialogLayout->setSpacing(du.Y(4));
    dialogLayout->setSizeConstraint(QLayout::SetFixedSize);

    auto* sizeGroup = new QGroupBox(QStringLiteral("Image Size (pixels)"), this);
    sizeGroup->setMinimumWidth(du.X(235));
    auto* sizes = new QGridLayout(sizeGroup);
    sizes->setHorizontalSpacing(du.X(2));
    sizes->setVerticalSpacing(du.Y(3));
    sizes->setColumnMinimumWidth(0, du.X(68));
    auto sizeRow = [&](int row, const char* text, uint32_t value) {
        sizes->addWidget(new QLabel(QString::fromLatin1(text), sizeGroup), row, 0);
        QLineEdit* edit = DigitsEdit(sizeGroup, value);
        edit->setFixedWidth(du.X(40));
        edit->setAccessibleName(QString::fromLatin1(text).chopped(1));
        sizes->addWidget(edit, row, 1);
        return edit;
    };
    widthEdit = sizeRow(0, "Overall Width:", overallWidth);
    heightEdit = sizeRow(1, "Overall Height:", overallHeight);
    photoSizeEdit = sizeRow(2, "Photo size:", photoSize);
    sizes->setColumnMinimumWidth(2, du.X(9));
    auto* diagram = new QLabel(sizeGroup);
    diagram->setFixedSize(du.Size(94, 35));
    diagram->setPixmap(SizeDiagram(diagram->size()));
    sizes->addWidget(diagram, 0, 3, 3, 1, Qt::AlignCenter);
    sizes->setColumnStretch(4, 1);
    dialogLayout->addWidget(sizeGroup);

    auto* backgroundGroup = new QGroupBox(QStringLiteral("Background"), this);
    auto* background = new QGridLayout(backgroundGroup);
    background->setHorizontalSpacing(du.X(1));
    background->setVerticalSpacing(du.Y(4));
    background->setColumnMinimumWidth(0, du.X(40));
    colorRadio = new QRadioButton(QStringLiteral("Color:"), backgroundGroup);
    imageRadio = new QRadioButton(QStringLiteral("Image:"), backgroundGroup);
    background->addWidget(colorRadio, 0, 0);
    background->addWidget(imageRadio, 1, 0);
    auto* modes = new QButtonGroup(this);
    modes->addButton(colorRadio, 0);
    modes->addButton(imageRadio, 1);
    colorRadio->setChecked(true);

    colorStatic = new CColorStatic(backgroundGroup);
    colorStatic->setMinimumSize(
        std::max(
            du.X(104), colorStatic->fontMetrics().horizontalAdvance(colorStatic->Text()) + du.X(8)),
        std::max(du.Y(11), colorStatic->fontMetrics().height() + 2));
    colorStatic->SetColor(QColor(0xFF, 0xFF, 0xFF));
    colorStatic->setAccessibleName(colorStatic->Text());
    background->addWidget(colorStatic, 0, 1, Qt::AlignLeft);
    pathEdit = new QLineEdit(backgroundGroup);
    pathEdit->setReadOnly(true);
    pathEdit->setMinimumWidth(du.X(163));
    pathEdit->setAccessibleName(QStringLiteral("Background picture"));
    background->addWidget(pathEdit, 1, 1);
    browseButton = new QPushButton(QStringLiteral("..."), backgroundGroup);
    browseButton->setFixedWidth(std::max(
        du.X(13), browseButton->fontMetrics().horizontalAdvance(browseButton->text()) + du.X(6)));
    browseButton->setAutoDefault(false);
    browseButton->setAccessibleName(QStringLiteral("Choose the background picture"));
    background->addWidget(browseButton, 1, 2);
    background->setColumnStretch(1, 1);
    dialogLayout->addWidget(backgroundGroup);

    dialogLayout->addSpacing(du.Y(10));
    // How the photos of the animation are read; the choice is kept for the next run.
    fastCheck = new QCheckBox(QStringLiteral("Fast decoding"), this);
    fastCheck->setGeometry(du.Rect(15, 130, 120, 10));
    fastCheck->setChecked(TheProjectSettings().fastDecoding);
    fastCheck->setToolTip(QStringLiteral(
        "Read large JPEG photos at a reduced scale: several times faster, the frames a little "
        "less exact"));

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    dialogLayout->addWidget(line);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(du.X(2));
    buttons->addStretch(1);
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setDefault(true);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    for (QPushButton* button : { okButton, cancelButton }) {
        button->setMinimumSize(std::max(du.X(50), button->sizeHint().width()), du.Y(14));
        buttons->addWidget(button);
    }
    dialogLayout->addLayout(buttons);

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
    fastDecoding = fastCheck->isChecked();
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
    // A background picture that can't be read would leave the colour in its place: it is
    // refused with the reader's reason. (What is read here is kept for the photos.)
    if (backgroundMode == 1) {
        const std::string path = QFile::encodeName(backgroundPath).toStdString();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool readable
            = BackgroundCache::Shared().Get(path, overallWidth, overallHeight) != nullptr;
        QApplication::restoreOverrideCursor();
        if (!readable) {
            const CxImage picture(path.c_str(), CXIMAGE_FORMAT_UNKNOWN);
            Prompts().Warning(this, QStringLiteral("The background picture can't be read."),
                backgroundPath + QStringLiteral(": ")
                    + QString::fromLocal8Bit(WhyUnreadable(path, picture.GetLastError()).c_str()));
            pathEdit->setFocus();
            return;
        }
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
