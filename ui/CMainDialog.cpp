#include "CMainDialog.h"

#include "CAboutDialog.h"
#include "CAnimationPreview.h"
#include "CMakeGifDialog.h"
#include "CNewGifDialog.h"
#include "CPhotoListCtrl.h"
#include "CPhotoOpenDialog.h"
#include "DialogUnits.h"
#include "UiPrompts.h"
#include "app/MakeGif.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"
#include "platform/Memory.h"
#include "platform/Threads.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <atomic>

namespace {

std::vector<std::string> ToPaths(const QStringList& paths)
{
    std::vector<std::string> result;
    result.reserve(size_t(paths.size()));
    for (const QString& path : paths)
        result.push_back(QFile::encodeName(path).toStdString());
    return result;
}

// Runs work on a thread of its own while this thread goes on handling events (painting,
// the progress dialog), under the wait cursor; returns the work's result, or `failed` when
// the work threw (memory that ran short). When no thread can start, the work runs here.
// The caller shows a window-modal progress dialog first, so the window takes no other
// input meanwhile.
template <typename Work, typename Result> Result RunInBackground(Work work, Result failed)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Result result {};
    const auto run = [&] {
        try {
            result = work();
        } catch (...) {
            result = std::move(failed); // moved: nothing to allocate
        }
    };
    {
        QEventLoop loop;
        platform::ThreadGroup worker;
        if (worker.Start([&] {
                run();
                QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
            }))
            loop.exec();
        else
            run();
    }
    QApplication::restoreOverrideCursor();
    return result;
}

QString StatusText(
    size_t count, uint32_t width, uint32_t height, uint32_t photoSize, int64_t madeBytes)
{
    QString text = count == 1 ? QStringLiteral("1 photo") : QStringLiteral("%1 photos").arg(count);
    text += QStringLiteral(" \u00b7 Canvas %1 \u00d7 %2 \u00b7 Photo size %3")
                .arg(width)
                .arg(height)
                .arg(photoSize);
    if (madeBytes >= 0)
        text += QStringLiteral(" \u00b7 GIF written: ")
            + QLocale().formattedDataSize(madeBytes, 1, QLocale::DataSizeTraditionalFormat);
    return text;
}

} // namespace

CMainDialog::CMainDialog(QWidget* parent)
    : QDialog(parent)
    , photos(std::make_unique<PhotoList>())
{
    setWindowTitle(QStringLiteral("Brimvale"));
    TheProjectSettings().fastDecoding = ReadFastDecodingSetting();
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    runDialog = [](QDialog& dialog) { return dialog.exec(); };

    const DialogUnits du(font());
    list = new CPhotoListCtrl(*photos, this);
    list->setObjectName(QStringLiteral("photoList"));
    statusLine = new QLabel(this);
    statusLine->setObjectName(QStringLiteral("statusLine"));
    statusLine->setAccessibleName(QStringLiteral("Status"));

    struct ButtonText {
        const char* text;
        const char* accessibleName;
    };
    auto button = [&](ButtonText text) {
        auto* b = new QPushButton(QString::fromLatin1(text.text), this);
        b->setAutoDefault(false);
        b->setAccessibleName(QString::fromLatin1(text.accessibleName));
        return b;
    };
    beginButton = button({ "Begin...", "Begin a new animation" });
    addButton = button({ "Add Photo...", "Add photos" });
    removeButton = button({ "Remove", "Remove the selected photos" });
    makeButton = button({ "Make...", "Make the GIF" });
    previewButton = button({ "Preview...", "Preview the animation" });
    aboutButton = button({ "About", "About Brimvale" });
    closeButton = button({ "Close", "Close Brimvale" });
    makeButton->setDefault(true);

    // The buttons share one size, 50 x 14 units unless a text needs more; at the smallest
    // window every button is whole and apart from the others.
    QSize buttonSize = du.Size(50, 14);
    for (QPushButton* b : { beginButton, addButton, removeButton, makeButton, previewButton,
             aboutButton, closeButton }) {
        buttonSize.setWidth(
            std::max(buttonSize.width(), b->fontMetrics().horizontalAdvance(b->text()) + du.X(8)));
        buttonSize.setHeight(std::max(buttonSize.height(), b->sizeHint().height()));
    }
    const int statusHeight = statusLine->fontMetrics().height() + 2;
    const int leftButtons = 5 * buttonSize.width() + 4;
    const int rightButtons = 2 * buttonSize.width() + 1;
    const int statusWidth
        = statusLine->fontMetrics().horizontalAdvance(StatusText(999, 800, 800, 800, 1023 * 1024));
    const QSize minimum(
        du.X(3) + std::max(leftButtons + du.X(8) + rightButtons, statusWidth) + du.X(3),
        du.Y(3) + du.Y(40) + du.Y(1) + statusHeight + du.Y(2) + buttonSize.height() + du.Y(3));
    const QSize start = du.Size(361, 209).expandedTo(minimum);
    resize(start);

    const int buttonTop = start.height() - du.Y(3) - buttonSize.height();
    const int statusTop = buttonTop - du.Y(2) - statusHeight;
    list->setGeometry(QRect(
        QPoint(du.X(3), du.Y(3)), QPoint(start.width() - 1 - du.X(3), statusTop - du.Y(1) - 1)));
    statusLine->setGeometry(list->x(), statusTop, list->width(), statusHeight);
    beginButton->setGeometry(QRect(QPoint(du.X(3), buttonTop), buttonSize));

    // The margins the layout keeps, measured once from the initial layout.
    const QRect client = rect();
    rightMargin = client.right() - list->geometry().right();
    listBottomMargin = client.bottom() - list->geometry().bottom();
    buttonBottomMargin = client.bottom() - beginButton->geometry().bottom();
    statusBottomMargin = client.bottom() - statusLine->geometry().bottom();
    Relayout();
    setMinimumSize(minimum);

    connect(beginButton, &QPushButton::clicked, this, &CMainDialog::BeginNewAnimation);
    connect(addButton, &QPushButton::clicked, this, &CMainDialog::AddPhotos);
    connect(removeButton, &QPushButton::clicked, this, &CMainDialog::RemoveSelectedPhotos);
    connect(makeButton, &QPushButton::clicked, this, &CMainDialog::MakeAnimation);
    connect(previewButton, &QPushButton::clicked, this, &CMainDialog::ShowPreview);
    connect(aboutButton, &QPushButton::clicked, this, &CMainDialog::ShowAbout);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(list, &CPhotoListCtrl::selectionStateChanged, this, &CMainDialog::PostUpdateButtons);
    connect(list, &CPhotoListCtrl::filesDropped, this, &CMainDialog::AddPhotoPaths);
    connect(list, &CPhotoListCtrl::removeRequested, this, &CMainDialog::RemoveSelectedPhotos);
    connect(list, &CPhotoListCtrl::orderChanged, this, &CMainDialog::ListChanged);

    UpdateStatus();
    UpdateButtons();
    PostUpdateButtons();
}

CMainDialog::~CMainDialog() = default;

void CMainDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    PostRelayout();
}

void CMainDialog::PostRelayout()
{
    if (relayoutPosted)
        return;
    relayoutPosted = true;
    QTimer::singleShot(0, this, [this] {
        relayoutPosted = false;
        Relayout();
    });
}

void CMainDialog::PostUpdateButtons()
{
    if (updatePosted)
        return;
    updatePosted = true;
    QTimer::singleShot(0, this, [this] {
        updatePosted = false;
        UpdateButtons();
    });
}

void CMainDialog::Relayout()
{
    if (listBottomMargin == 0 || isMinimized())
        return;
    const QRect client = rect();

    QRect listRect = list->geometry();
    listRect.setRight(client.right() - rightMargin);
    listRect.setBottom(client.bottom() - listBottomMargin);
    list->setGeometry(listRect);

    QRect beginRect = beginButton->geometry();
    beginRect.moveBottom(client.bottom() - buttonBottomMargin);
    beginButton->setGeometry(beginRect);

    QRect statusRect = statusLine->geometry();
    statusRect.moveBottom(client.bottom() - statusBottomMargin);
    statusRect.setLeft(listRect.left());
    statusRect.setRight(listRect.right());
    statusLine->setGeometry(statusRect);

    // Neighbouring buttons stand 1 pixel apart.
    int left = beginRect.left();
    for (QPushButton* b : { addButton, removeButton, makeButton, previewButton }) {
        left += beginRect.width() + 1;
        b->setGeometry(QRect(QPoint(left, beginRect.top()), beginRect.size()));
    }
    QRect closeRect(QPoint(0, beginRect.top()), beginRect.size());
    closeRect.moveRight(client.right() - rightMargin);
    closeButton->setGeometry(closeRect);
    aboutButton->setGeometry(
        QRect(QPoint(closeRect.left() - beginRect.width() - 1, beginRect.top()), beginRect.size()));
    update();
}

void CMainDialog::UpdateButtons()
{
    makeButton->setEnabled(list->count() > 0);
    removeButton->setEnabled(!list->selectedItems().isEmpty());
}

void CMainDialog::BeginNewAnimation()
{
    if (list->count() > 0
        && !Prompts().AskYesNo(
            this, QStringLiteral("The image in the list will be cleared.\n\nContinue?")))
        return;
    CNewGifDialog dialog(this);
    if (runDialog(dialog) != QDialog::Accepted)
        return;
    ProjectSettings& settings = TheProjectSettings();
    settings.overallWidth = dialog.OverallWidth();
    settings.overallHeight = dialog.OverallHeight();
    settings.photoSize = dialog.PhotoSize();
    settings.backgroundColor = dialog.BackgroundColor();
    settings.backgroundImagePath = QFile::encodeName(dialog.BackgroundPath()).toStdString();
    if (settings.fastDecoding != dialog.FastDecoding()) {
        settings.fastDecoding = dialog.FastDecoding();
        WriteFastDecodingSetting(settings.fastDecoding);
    }
    photos->ResetPhotoList(settings.overallWidth, settings.overallHeight);
    list->ResetView();
    ListChanged();
}

void CMainDialog::AddPhotos()
{
    char folder[4096] = {};
    ReadSettingString(SETTING_OPEN_PIC_DIR, folder, sizeof folder);
    const QStringList chosen = Prompts().ChoosePhotos(this, QFile::decodeName(folder));
    if (chosen.isEmpty())
        return;
    const QStringList sorted = SortPhotoPaths(chosen);
    WriteSettingString(SETTING_OPEN_PIC_DIR,
        FolderOfPhoto(QFile::encodeName(sorted.first()).toStdString()).c_str());
    AddPhotoPaths(sorted);
}

void CMainDialog::AddPhotoPaths(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    const QStringList sorted = SortPhotoPaths(paths);
    repaint();

    // The photos are composed on a worker while this window stays painted; Cancel stops
    // after the photos being composed and keeps those already done.
    QProgressDialog progress(
        QStringLiteral("Adding photos..."), QStringLiteral("Cancel"), 0, int(sorted.size()), this);
    progress.setWindowTitle(AppTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    std::atomic<bool> cancelled { false };
    connect(&progress, &QProgressDialog::canceled, this, [&] { cancelled = true; });

    AddPhotosOptions options;
    options.progress = [&](size_t done, size_t total) {
        QMetaObject::invokeMethod(
            &progress,
            [&progress, done, total] {
                progress.setLabelText(QStringLiteral("Photo %1 of %2").arg(done).arg(total));
                progress.setValue(int(done));
            },
            Qt::QueuedConnection);
    };
    options.stopRequested = [&] { return cancelled.load(); };
    const std::vector<PhotoFailure> failures = RunInBackground(
        [&] { return photos->AddPhotos(ToPaths(sorted), TheProjectSettings(), options); },
        std::vector<PhotoFailure> { { "", platform::OUT_OF_MEMORY_TEXT, true } });
    progress.reset();
    list->RebuildImageList();
    ListChanged();
    if (!failures.empty()) {
        QStringList lines;
        for (const PhotoFailure& failure : failures)
            lines.append(QFile::decodeName(failure.path.c_str()) + QStringLiteral(": ")
                + QString::fromLocal8Bit(failure.reason.c_str()));
        Prompts().Information(this, QString::asprintf(MESSAGE_UNKNOWN_FORMAT, int(failures.size())),
            lines.join(QLatin1Char('\n')));
    }
}

void CMainDialog::RemoveSelectedPhotos()
{
    for (size_t i = 0; i < photos->Count(); i++)
        photos->SetSelected(i, false);
    for (size_t i : list->SelectedIndices())
        photos->SetSelected(i, true);
    photos->RemoveSelectedPhotos();
    list->RebuildImageList();
    ListChanged();
}

void CMainDialog::MakeAnimation()
{
    if (list->count() == 0)
        return;
    ProjectSettings& settings = TheProjectSettings();
    CMakeGifDialog dialog(QFile::decodeName(settings.outputPath.c_str()), settings.frameDelay,
        settings.lastFrameDelay, this);
    dialog.OptimizeBox()->setChecked(settings.optimizeSize);
    dialog.DitherBox()->setChecked(settings.ditherColours);
    if (runDialog(dialog) != QDialog::Accepted)
        return;
    settings.outputPath = QFile::encodeName(dialog.OutputPath()).toStdString();
    settings.frameDelay = dialog.FrameDelay();
    settings.lastFrameDelay = dialog.LastFrameDelay();
    settings.optimizeSize = dialog.OptimizeBox()->isChecked();
    settings.ditherColours = dialog.DitherBox()->isChecked();

    QProgressDialog progress(QStringLiteral("Writing the GIF..."), QString(), 0, 0, this);
    progress.setWindowTitle(AppTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    if (preview)
        preview->SetFrames(*photos, settings.frameDelay, settings.lastFrameDelay);
    std::string why;
    bool threw = true;
    const bool made = RunInBackground(
        [&] {
            const bool written = MakeGif(*photos, settings, true, &why);
            threw = false;
            return written;
        },
        false);
    if (threw)
        why = platform::OUT_OF_MEMORY_TEXT;
    progress.reset();
    if (!made) {
        madeBytes = -1;
        UpdateStatus();
        Prompts().Warning(this, QString::fromLatin1(MESSAGE_FAILED),
            QFile::decodeName(settings.outputPath.c_str()) + QStringLiteral(": ")
                + QString::fromLocal8Bit(why.c_str()));
        return;
    }
    madeBytes = QFileInfo(QFile::decodeName(settings.outputPath.c_str())).size();
    UpdateStatus();
}

void CMainDialog::ShowPreview()
{
    if (!preview) {
        preview = new CAnimationPreview(this);
        const ProjectSettings& settings = TheProjectSettings();
        preview->SetFrames(*photos, settings.frameDelay, settings.lastFrameDelay);
        preview->resize(preview->sizeHint());
        // Beside the main window where the screen has room, so that both stay in view.
        const QRect screen = this->screen()->availableGeometry();
        const QRect frame = frameGeometry();
        QPoint place(frame.right() + 8, frame.top());
        if (place.x() + preview->width() > screen.right())
            place.setX(std::max(screen.left(), frame.left() - preview->width() - 24));
        preview->move(place);
    }
    preview->show();
    preview->raise();
    preview->activateWindow();
}

void CMainDialog::ListChanged()
{
    madeBytes = -1;
    UpdateStatus();
    if (preview) {
        const ProjectSettings& settings = TheProjectSettings();
        preview->SetFrames(*photos, settings.frameDelay, settings.lastFrameDelay);
    }
    PostUpdateButtons();
}

void CMainDialog::UpdateStatus()
{
    statusLine->setText(StatusText(photos->Count(), photos->PictureWidth(), photos->PictureHeight(),
        TheProjectSettings().photoSize, madeBytes));
}

void CMainDialog::ShowAbout()
{
    CAboutDialog about(this);
    runDialog(about);
}
