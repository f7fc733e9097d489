#include "CMakeGifDialog.h"

#include "DialogUnits.h"
#include "UiPrompts.h"
#include "app/OutputPath.h"
#include "app/ProjectSettings.h"

#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr uint32_t MAX_DELAY = 9999;

int TextWidth(const QPushButton* button)
{
    return button->fontMetrics().horizontalAdvance(button->text());
}

} // namespace

CMakeGifDialog::CMakeGifDialog(
    const QString& outputPath, uint32_t frameDelay, uint32_t lastFrameDelay, QWidget* parent)
    : QDialog(parent)
    , frameDelay(frameDelay)
    , lastFrameDelay(lastFrameDelay)
    , outputPath(outputPath)
{
    setWindowTitle(QStringLiteral("Make GIF"));
    const DialogUnits du(font());

    // The arrangement of the design, in layouts: a text never ends up narrower than it
    // needs, whatever the font, and rows can be added under the delays.
    auto* dialogLayout = new QVBoxLayout(this);
    dialogLayout->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    dialogLayout->setSpacing(du.Y(3));
    dialogLayout->setSizeConstraint(QLayout::SetFixedSize);

    dialogLayout->addWidget(new QLabel(QStringLiteral("Output File Path:"), this));
    auto* pathRow = new QHBoxLayout;
    pathRow->setContentsMargins(du.X(8), 0, 0, 0);
    pathRow->setSpacing(du.X(2));
    pathEdit = new QLineEdit(this);
    pathEdit->setReadOnly(true);
    pathEdit->setMinimumWidth(du.X(217));
    pathRow->addWidget(pathEdit, 1);
    browseButton = new QPushButton(QStringLiteral("..."), this);
    browseButton->setFixedWidth(std::max(du.X(13), TextWidth(browseButton) + du.X(6)));
    // Enter still makes after a file has been chosen with this button.
    browseButton->setAutoDefault(false);
    browseButton->setAccessibleName(QStringLiteral("Choose the output file"));
    pathRow->addWidget(browseButton);
    dialogLayout->addLayout(pathRow);
    dialogLayout->addSpacing(du.Y(3));

    // A delay field shows more digits than it takes, so that a number too large is seen
    // whole before it is refused.
    const auto digits = QRegularExpression(QStringLiteral("[0-9]*"));
    auto delayEdit = [&] {
        auto* edit = new QLineEdit(this);
        edit->setValidator(new QRegularExpressionValidator(digits, edit));
        edit->setFixedWidth(std::max(
            du.X(26), edit->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + du.X(4)));
        return edit;
    };
    auto* delays = new QGridLayout;
    delays->setHorizontalSpacing(du.X(2));
    delays->setVerticalSpacing(du.Y(3));
    delays->setColumnMinimumWidth(0, du.X(158));
    delays->addWidget(
        new QLabel(QStringLiteral("How long each frame stays on the screen:"), this), 0, 0);
    frameDelayEdit = delayEdit();
    frameDelayEdit->setAccessibleName(QStringLiteral("Frame delay in 1/100 seconds"));
    delays->addWidget(frameDelayEdit, 0, 1);
    delays->addWidget(new QLabel(QStringLiteral("1/100 seconds"), this), 0, 2);
    delays->addWidget(
        new QLabel(QStringLiteral("How long the last frame stays on the screen:"), this), 1, 0);
    lastFrameDelayEdit = delayEdit();
    lastFrameDelayEdit->setAccessibleName(QStringLiteral("Last frame delay in 1/100 seconds"));
    delays->addWidget(lastFrameDelayEdit, 1, 1);
    delays->addWidget(new QLabel(QStringLiteral("1/100 seconds"), this), 1, 2);
    // 0 reads as what it means.
    auto spinBox = [&](int maximum, const QString& zeroText, const QString& suffix) {
        auto* box = new QSpinBox(this);
        box->setRange(0, maximum);
        box->setSpecialValueText(zeroText);
        box->setSuffix(suffix);
        box->setMinimumWidth(std::max(frameDelayEdit->width(), box->sizeHint().width()));
        return box;
    };
    delays->addWidget(
        new QLabel(QStringLiteral("How often the animation plays again:"), this), 2, 0);
    loopBox = spinBox(65535, QStringLiteral("Forever"), QStringLiteral(" times"));
    loopBox->setAccessibleName(QStringLiteral("How often the animation plays again"));
    delays->addWidget(loopBox, 2, 1, 1, 2, Qt::AlignLeft);
    delays->addWidget(
        new QLabel(QStringLiteral("Quality (Off keeps the designed colours):"), this), 3, 0);
    qualityBox = spinBox(int(MAX_QUALITY), QStringLiteral("Off"), QString());
    qualityBox->setAccessibleName(QStringLiteral("Quality, 1 to 100, or Off"));
    delays->addWidget(qualityBox, 3, 1, 1, 2, Qt::AlignLeft);
    delays->setColumnStretch(2, 1);
    dialogLayout->addLayout(delays);

    // Check boxes for how the file is made, one a row, under the delays.
    optionsLayout = new QVBoxLayout;
    optionsLayout->setSpacing(du.Y(2));
    dialogLayout->addLayout(optionsLayout);
    optimizeBox = new QCheckBox(QStringLiteral("Optimise file size"), this);
    optionsLayout->addWidget(optimizeBox);
    ditherBox = new QCheckBox(QStringLiteral("Dither colours"), this);
    optionsLayout->addWidget(ditherBox);
    openBox = new QCheckBox(QStringLiteral("Open the GIF when done"), this);
    openBox->setChecked(true);
    optionsLayout->addWidget(openBox);

    dialogLayout->addSpacing(du.Y(6));
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

    connect(okButton, &QPushButton::clicked, this, &CMakeGifDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(browseButton, &QPushButton::clicked, this, &CMakeGifDialog::Browse);

    ExchangeOut();
    setTabOrder(browseButton, frameDelayEdit);
    setTabOrder(frameDelayEdit, lastFrameDelayEdit);
    setTabOrder(lastFrameDelayEdit, loopBox);
    setTabOrder(loopBox, qualityBox);
}

void CMakeGifDialog::ExchangeOut()
{
    pathEdit->setText(outputPath);
    frameDelayEdit->setText(QString::number(frameDelay));
    lastFrameDelayEdit->setText(QString::number(lastFrameDelay));
}

bool CMakeGifDialog::ExchangeIn()
{
    struct Field {
        QLineEdit* edit;
        uint32_t* member;
    };
    for (const Field& field :
        { Field { frameDelayEdit, &frameDelay }, Field { lastFrameDelayEdit, &lastFrameDelay } }) {
        bool ok = false;
        const qulonglong value = field.edit->text().trimmed().toULongLong(&ok, 10);
        if (!ok || value > 0xFFFFFFFFull) {
            Prompts().Warning(this, QStringLiteral("Please enter a positive integer."));
            field.edit->setFocus();
            field.edit->selectAll();
            return false;
        }
        if (value > MAX_DELAY) {
            Prompts().Warning(this, QStringLiteral("Please enter an integer between 0 and 9999."));
            field.edit->setFocus();
            field.edit->selectAll();
            return false;
        }
        *field.member = uint32_t(value);
    }
    outputPath = pathEdit->text();
    return true;
}

bool CMakeGifDialog::OutputAllowed(const QString& path)
{
    switch (JudgeOutputPath(QFile::encodeName(path).toStdString(), photoPaths)) {
    case OutputVerdict::IsAPhoto:
        Prompts().Warning(this,
            QStringLiteral("%1 is one of the photos in the list.\n\nThe GIF can't be written "
                           "over a photo it is made from: please choose another file.")
                .arg(path));
        return false;
    case OutputVerdict::ReplacesOther:
        if (path == confirmedPath)
            return true;
        if (!Prompts().AskYesNo(this,
                QStringLiteral("%1 already exists and is not a GIF.\n\nReplace it with the "
                               "animation?")
                    .arg(path)))
            return false;
        confirmedPath = path;
        return true;
    case OutputVerdict::Free:
    case OutputVerdict::ReplacesGif:
        break;
    }
    return true;
}

void CMakeGifDialog::Browse()
{
    const QString chosen = QFile::decodeName(
        WithGifExtension(QFile::encodeName(Prompts().ChooseOutputGif(this)).toStdString()).c_str());
    if (chosen.isEmpty() || !OutputAllowed(chosen))
        return;
    ExchangeIn();
    outputPath = chosen;
    ExchangeOut();
}

void CMakeGifDialog::accept()
{
    if (!ExchangeIn())
        return;
    if (outputPath.isEmpty()) {
        Prompts().Information(this, QStringLiteral("Output file path not set."));
        return;
    }
    outputPath
        = QFile::decodeName(WithGifExtension(QFile::encodeName(outputPath).toStdString()).c_str());
    pathEdit->setText(outputPath);
    if (!OutputAllowed(outputPath))
        return;
    QDialog::accept();
}
