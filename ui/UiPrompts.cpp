#include "UiPrompts.h"

#include "CPhotoOpenDialog.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>

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
                          "*.pgm *.ppm *.ras)");
}

void QtPrompts::Information(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, AppTitle(), text);
}

void QtPrompts::Warning(QWidget* parent, const QString& text)
{
    QMessageBox::warning(parent, AppTitle(), text);
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
