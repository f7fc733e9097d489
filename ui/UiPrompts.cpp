#include "UiPrompts.h"

#include "CPhotoOpenDialog.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QProcess>
#include <algorithm>

namespace {

QtPrompts realPrompts;
UiPrompts* installedPrompts = nullptr;

} // namespace

UiPrompts& Prompts() { return installedPrompts ? *installedPrompts : realPrompts; }

void SetPrompts(UiPrompts* prompts) { installedPrompts = prompts; }

QString PhotoFileFilter()
{
    return QStringLiteral("Image Files (*.bmp *.gif *.jpg *.jpeg *.png *.ico *.tif *.tiff *.tga "
                          "*.pcx *.wbmp *.wmf *.emf *.j2k *.jp2 *.jbg *.j2c *.jpc *.pgx *.pnm "
                          "*.pgm *.ppm *.ras *.webp *.heic *.heif *.hif *.avif *.jxl)");
}

namespace {

void ShowMessage(
    QWidget* parent, QMessageBox::Icon icon, const QString& text, const QString& details)
{
    QMessageBox box(icon, AppTitle(), text, QMessageBox::Ok, parent);
    if (!details.isEmpty()) {
        box.setDetailedText(details);
        // The details are what the user needs to act on: shown at once.
        for (QAbstractButton* button : box.buttons()) {
            if (box.buttonRole(button) == QMessageBox::ActionRole)
                button->click();
        }
    }
    // Wide enough for the title beside the window manager's buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int titleWidth
            = std::max(box.fontMetrics().horizontalAdvance(AppTitle()) * 3 / 2 + 120,
                box.fontMetrics().averageCharWidth() * 50);
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
            grid->rowCount(), 0, 1, grid->columnCount());
    }
    box.exec();
}

} // namespace

void QtPrompts::Information(QWidget* parent, const QString& text, const QString& details)
{
    ShowMessage(parent, QMessageBox::Information, text, details);
}

void QtPrompts::Warning(QWidget* parent, const QString& text, const QString& details)
{
    ShowMessage(parent, QMessageBox::Warning, text, details);
}

bool QtPrompts::AskYesNo(QWidget* parent, const QString& text)
{
    return QMessageBox::question(parent, AppTitle(), text, QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes;
}

std::optional<QColor> QtPrompts::PickColor(QWidget* parent, const QColor& initial)
{
    const QColor color = QColorDialog::getColor(initial, parent);
    if (!color.isValid())
        return std::nullopt;
    return color;
}

std::optional<int> QtPrompts::AskNumber(
    QWidget* parent, const QString& text, int value, int minimum, int maximum)
{
    bool ok = false;
    const int number
        = QInputDialog::getInt(parent, AppTitle(), text, value, minimum, maximum, 1, &ok);
    if (!ok)
        return std::nullopt;
    return number;
}

QString QtPrompts::ChooseBackgroundPicture(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QString(), QString(), PhotoFileFilter());
}

QString QtPrompts::ChooseOutputGif(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("GIF Files (*.gif)"));
    dialog.setDefaultSuffix(QStringLiteral("gif"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QStringList QtPrompts::ChoosePhotos(QWidget* parent, const QString& initialFolder)
{
    CPhotoOpenDialog dialog(parent, initialFolder);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

void QtPrompts::OpenUrl(const QString& url)
{
    // A detached opener: the window never waits for the browser.
    QProcess::startDetached(QStringLiteral("xdg-open"), { url });
}
