#include "CMakeGifDialog.h"

#include "DialogUnits.h"
#include "UiPrompts.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace {

constexpr uint32_t MAX_DELAY = 9999;

QLabel* Label(QWidget* parent, const char* text, const QRect& geometry)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(geometry);
    return label;
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
    setFixedSize(du.Size(254, 102));

    Label(this, "Output File Path:", du.Rect(7, 7, 75, 10));
    pathEdit = new QLineEdit(this);
    pathEdit->setReadOnly(true);
    pathEdit->setGeometry(du.Rect(15, 18, 217, 12));
    browseButton = new QPushButton(QStringLiteral("..."), this);
    browseButton->setGeometry(du.Rect(234, 18, 13, 12));

    const auto digits = QRegularExpression(QStringLiteral("[0-9]*"));
    Label(this, "How long each frame stays on the screen:", du.Rect(7, 37, 158, 10));
    frameDelayEdit = new QLineEdit(this);
    frameDelayEdit->setValidator(new QRegularExpressionValidator(digits, frameDelayEdit));
    frameDelayEdit->setGeometry(du.Rect(166, 35, 26, 12));
    Label(this, "1/100 seconds", du.Rect(193, 37, 54, 10));
    Label(this, "How long the last frame stays on the screen:", du.Rect(7, 52, 158, 10));
    lastFrameDelayEdit = new QLineEdit(this);
    lastFrameDelayEdit->setValidator(new QRegularExpressionValidator(digits, lastFrameDelayEdit));
    lastFrameDelayEdit->setGeometry(du.Rect(166, 50, 26, 12));
    Label(this, "1/100 seconds", du.Rect(193, 52, 54, 10));

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(du.Rect(7, 74, 240, 1));
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setGeometry(du.Rect(147, 81, 50, 14));
    okButton->setDefault(true);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setGeometry(du.Rect(197, 81, 50, 14));

    connect(okButton, &QPushButton::clicked, this, &CMakeGifDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(browseButton, &QPushButton::clicked, this, &CMakeGifDialog::Browse);

    ExchangeOut();
    setTabOrder(browseButton, frameDelayEdit);
    setTabOrder(frameDelayEdit, lastFrameDelayEdit);
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

void CMakeGifDialog::Browse()
{
    const QString chosen = Prompts().ChooseOutputGif(this);
    if (chosen.isEmpty())
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
    QDialog::accept();
}
