#include "CMainDialog.h"

#include "CAboutDialog.h"
#include "CMakeGifDialog.h"
#include "CNewGifDialog.h"
#include "CPhotoListCtrl.h"
#include "CPhotoOpenDialog.h"
#include "DialogUnits.h"
#include "UiPrompts.h"
#include "app/MakeGif.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <thread>

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
// the progress dialog), under the wait cursor; returns the work's result. The caller shows
// a window-modal progress dialog first, so the window takes no other input meanwhile.
template <typename Work> auto RunInBackground(Work work) -> decltype(work())
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    decltype(work()) result {};
    std::thread worker([&] {
        result = work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    QApplication::restoreOverrideCursor();
    return result;
}

} // namespace

CMainDialog::CMainDialog(QWidget* parent)
    : QDialog(parent)
    , photos(std::make_unique<PhotoList>())
{
    setWindowTitle(QStringLiteral("Brimvale"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    runDialog = [](QDialog& dialog) { return dialog.exec(); };

    const DialogUnits du(font());
    resize(du.Size(361, 209));

    list = new CPhotoListCtrl(*photos, this);
    list->setObjectName(QStringLiteral("photoList"));
    list->setGeometry(du.Rect(3, 3, 355, 186));

    auto button = [&](const char* text, int x) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setGeometry(du.Rect(x, 192, 50, 14));
        b->setAutoDefault(false);
        return b;
    };
    beginButton = button("Begin...", 3);
    addButton = button("Add Photo...", 54);
    removeButton = button("Remove", 105);
    makeButton = button("Make...", 156);
    aboutButton = button("About", 256);
    closeButton = button("Close", 307);
    makeButton->setDefault(true);

    // The margins the layout keeps, measured once from the initial layout.
    const QRect client = rect();
    rightMargin = client.right() - list->geometry().right();
    listBottomMargin = client.bottom() - list->geometry().bottom();
    buttonBottomMargin = client.bottom() - beginButton->geometry().bottom();

    connect(beginButton, &QPushButton::clicked, this, &CMainDialog::BeginNewAnimation);
    connect(addButton, &QPushButton::clicked, this, &CMainDialog::AddPhotos);
    connect(removeButton, &QPushButton::clicked, this, &CMainDialog::RemoveSelectedPhotos);
    connect(makeButton, &QPushButton::clicked, this, &CMainDialog::MakeAnimation);
    connect(aboutButton, &QPushButton::clicked, this, &CMainDialog::ShowAbout);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(list, &CPhotoListCtrl::selectionStateChanged, this, &CMainDialog::PostUpdateButtons);
    connect(list, &CPhotoListCtrl::filesDropped, this, &CMainDialog::AddPhotoPaths);

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

    // Neighbouring buttons stand 1 pixel apart.
    int left = beginRect.left();
    for (QPushButton* b : { addButton, removeButton, makeButton }) {
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
    photos->ResetPhotoList(settings.overallWidth, settings.overallHeight);
    list->ResetView();
    PostUpdateButtons();
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
    const int failed = int(RunInBackground(
        [&] { return photos->AddPhotos(ToPaths(sorted), TheProjectSettings(), options).size(); }));
    progress.reset();
    list->RebuildImageList();
    if (failed > 0)
        Prompts().Information(this, QString::asprintf(MESSAGE_UNKNOWN_FORMAT, failed));
    PostUpdateButtons();
}

void CMainDialog::RemoveSelectedPhotos()
{
    for (size_t i = 0; i < photos->Count(); i++)
        photos->SetSelected(i, false);
    for (size_t i : list->SelectedIndices())
        photos->SetSelected(i, true);
    photos->RemoveSelectedPhotos();
    list->RebuildImageList();
    PostUpdateButtons();
}

void CMainDialog::MakeAnimation()
{
    if (list->count() == 0)
        return;
    ProjectSettings& settings = TheProjectSettings();
    CMakeGifDialog dialog(QFile::decodeName(settings.outputPath.c_str()), settings.frameDelay,
        settings.lastFrameDelay, this);
    if (runDialog(dialog) != QDialog::Accepted)
        return;
    settings.outputPath = QFile::encodeName(dialog.OutputPath()).toStdString();
    settings.frameDelay = dialog.FrameDelay();
    settings.lastFrameDelay = dialog.LastFrameDelay();

    QProgressDialog progress(QStringLiteral("Writing the GIF..."), QString(), 0, 0, this);
    progress.setWindowTitle(AppTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    const bool made = RunInBackground([&] { return MakeGif(*photos, settings, true); });
    progress.reset();
    if (!made)
        Prompts().Warning(this, QString::fromLatin1(MESSAGE_FAILED));
}

void CMainDialog::ShowAbout()
{
    CAboutDialog about(this);
    runDialog(about);
}
