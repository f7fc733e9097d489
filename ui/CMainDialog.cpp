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
#include "app/PhotoHistory.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"
#include "app/SavedWork.h"
#include "platform/Memory.h"
#include "platform/Shell.h"
#include "platform/Threads.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <numeric>

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

// The progress box of a making: Esc and its window's close button ask whether to stop
// the making instead of hiding the box while the writing goes on.
class MakingProgressDialog : public QProgressDialog {
public:
    using QProgressDialog::QProgressDialog;
    std::function<void()> askToStop;

    void reject() override
    {
        if (askToStop)
            askToStop();
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        event->ignore();
        if (askToStop)
            askToStop();
    }
};

const char* const ASK_STOP_MAKING = "The GIF is being written.\n\nStop writing it?";
const char* const ASK_STOP_AND_CLOSE
    = "The GIF is being written.\n\nStop writing it and close Brimvale?";

} // namespace

CMainDialog::CMainDialog(QWidget* parent)
    : QDialog(parent)
    , photos(std::make_unique<PhotoList>(true, true))
    , history(std::make_unique<PhotoHistory>(*photos))
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
    list->SetHistory(history.get());
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
    connect(list, &CPhotoListCtrl::commandRequested, this, [this](CPhotoListCtrl::Command command) {
        switch (command) {
        case CPhotoListCtrl::Command::Delay:
            SetDelayOfSelected();
            break;
        case CPhotoListCtrl::Command::MoveToStart:
        case CPhotoListCtrl::Command::MoveToEnd:
            MoveSelectedTo(command == CPhotoListCtrl::Command::MoveToStart);
            break;
        case CPhotoListCtrl::Command::Reverse:
            ReverseOrder();
            break;
        case CPhotoListCtrl::Command::Remove:
            RemoveSelectedPhotos();
            break;
        }
    });
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this, this, &CMainDialog::Undo);
    new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this, this, &CMainDialog::Redo);

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
    // While a GIF is being written the list stays as it is being written.
    makeButton->setEnabled(!making && list->count() > 0);
    removeButton->setEnabled(!making && !list->selectedItems().isEmpty());
    beginButton->setEnabled(!making);
    addButton->setEnabled(!making);
    list->SetEditable(!making);
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
    history->Clear();
    list->ResetView();
    ListChanged();
}

void CMainDialog::AddPhotos()
{
    char folder[4096] = {};
    ReadSettingString(SETTING_OPEN_PIC_DIR, folder, sizeof folder);
    AddChosenPhotos(Prompts().ChoosePhotos(this, QFile::decodeName(folder)));
}

void CMainDialog::AddChosenPhotos(const QStringList& chosen)
{
    if (chosen.isEmpty())
        return;
    // One adding at a time: photos named while another batch is being composed (those of
    // the command line while the last run's photos come back) follow it.
    if (adding) {
        QTimer::singleShot(50, this, [this, chosen] { AddChosenPhotos(chosen); });
        return;
    }
    const QStringList sorted = SortPhotoPaths(chosen);
    WriteSettingString(SETTING_OPEN_PIC_DIR,
        FolderOfPhoto(QFile::encodeName(sorted.first()).toStdString()).c_str());
    AddPhotoPaths(sorted);
}

void CMainDialog::AddPhotoPaths(const QStringList& paths)
{
    if (making)
        return;
    const std::vector<PhotoFailure> failures = AddPaths(paths, true);
    if (!failures.empty()) {
        QStringList lines;
        for (const PhotoFailure& failure : failures)
            lines.append(QFile::decodeName(failure.path.c_str()) + QStringLiteral(": ")
                + QString::fromLocal8Bit(failure.reason.c_str()));
        lines.append(QString::fromLatin1(MESSAGE_READABLE_FORMATS));
        Prompts().Information(this, QString::asprintf(MESSAGE_UNKNOWN_FORMAT, int(failures.size())),
            lines.join(QLatin1Char('\n')));
    }
}

std::vector<PhotoFailure> CMainDialog::AddPaths(const QStringList& paths, bool sort)
{
    if (paths.isEmpty())
        return {};
    const QStringList sorted = sort ? SortPhotoPaths(paths) : paths;
    const size_t first = photos->Count();
    adding = true;
    const auto done = qScopeGuard([this] { adding = false; });
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
    options.sortByPath = sort;
    std::vector<PhotoFailure> failures = RunInBackground(
        [&] { return photos->AddPhotos(ToPaths(sorted), TheProjectSettings(), options); },
        std::vector<PhotoFailure> { { "", platform::OUT_OF_MEMORY_TEXT, true } });
    progress.reset();
    history->Added(first, photos->Count() - first);
    list->RebuildImageList();
    ListChanged();
    return failures;
}

void CMainDialog::RemoveSelectedPhotos()
{
    if (making)
        return;
    const std::vector<size_t> chosen = list->SelectedIndices();
    if (chosen.empty())
        return;
    history->Remove(chosen);
    list->RebuildImageList();
    ListChanged();
}

void CMainDialog::ShowChange(const std::vector<size_t>& rows)
{
    list->RebuildImageList();
    list->SelectRows(rows);
    ListChanged();
}

void CMainDialog::Undo()
{
    if (!making && history->CanUndo())
        ShowChange(history->Undo());
}

void CMainDialog::Redo()
{
    if (!making && history->CanRedo())
        ShowChange(history->Redo());
}

void CMainDialog::MoveSelectedTo(bool start)
{
    const std::vector<size_t> chosen = list->SelectedIndices();
    if (making || chosen.empty())
        return;
    const int landed = history->Move(chosen, start ? 0 : photos->Count());
    if (landed < 0)
        return;
    std::vector<size_t> rows(chosen.size());
    std::iota(rows.begin(), rows.end(), size_t(landed));
    ShowChange(rows);
}

void CMainDialog::ReverseOrder()
{
    std::vector<size_t> order(photos->Count());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = order.size() - 1 - i;
    if (making || !history->Reorder(order))
        return;
    std::vector<size_t> rows;
    for (size_t i : list->SelectedIndices())
        rows.push_back(order.size() - 1 - i);
    ShowChange(rows);
}

void CMainDialog::SetDelayOfSelected()
{
    const std::vector<size_t> chosen = list->SelectedIndices();
    if (making || chosen.empty())
        return;
    const ProjectSettings& settings = TheProjectSettings();
    const PhotoEntry* first = photos->Entry(chosen.front());
    const int current = first->delay >= 0       ? first->delay
        : chosen.front() + 1 == photos->Count() ? int(settings.lastFrameDelay)
                                                : int(settings.frameDelay);
    const std::optional<int> delay = Prompts().AskNumber(this,
        QStringLiteral("How long the selected photos stay on the screen (1/100 seconds):"), current,
        0, int(MAX_FRAME_DELAY));
    if (!delay)
        return;
    for (size_t i : chosen)
        photos->Entry(i)->delay = *delay;
    ShowChange(chosen);
}

std::vector<std::string> CMainDialog::PhotoPaths() const
{
    std::vector<std::string> paths;
    for (size_t i = 0; i < photos->Count(); i++)
        paths.push_back(photos->Entry(i)->sourcePath);
    return paths;
}

void CMainDialog::MakeAnimation()
{
    if (list->count() == 0 || making)
        return;
    ProjectSettings& settings = TheProjectSettings();
    CMakeGifDialog dialog(QFile::decodeName(settings.outputPath.c_str()), settings.frameDelay,
        settings.lastFrameDelay, this);
    dialog.OptimizeBox()->setChecked(settings.optimizeSize);
    dialog.DitherBox()->setChecked(settings.ditherColours);
    dialog.OpenBox()->setChecked(openWhenDone);
    dialog.LoopBox()->setValue(loopCount);
    dialog.QualityBox()->setValue(int(std::min(settings.quality, MAX_QUALITY)));
    dialog.SetPhotoPaths(PhotoPaths());
    if (runDialog(dialog) != QDialog::Accepted)
        return;
    settings.outputPath = QFile::encodeName(dialog.OutputPath()).toStdString();
    settings.frameDelay = dialog.FrameDelay();
    settings.lastFrameDelay = dialog.LastFrameDelay();
    settings.optimizeSize = dialog.OptimizeBox()->isChecked();
    settings.ditherColours = dialog.DitherBox()->isChecked();
    settings.quality = uint32_t(dialog.QualityBox()->value());
    loopCount = uint16_t(dialog.LoopBox()->value());
    openWhenDone = dialog.OpenBox()->isChecked();
    // The delays under the thumbnails follow the dialog's.
    list->RebuildImageList();
    WriteGif();
}

void CMainDialog::WriteGif()
{
    const ProjectSettings& settings = TheProjectSettings();
    const size_t total = photos->Count();
    MakeGifOptions options;
    options.openResult = false;
    options.animation.loopCount = loopCount;
    for (size_t i = 0; i < total; i++) {
        const int32_t own = photos->Entry(i)->delay;
        options.animation.frameDelays.push_back(own >= 0 ? uint32_t(own)
                : i + 1 == total                         ? settings.lastFrameDelay
                                                         : settings.frameDelay);
    }

    // One making at a time, and the list stays as it is while it is written.
    making = true;
    cancelRequested = false;
    UpdateButtons();
    MakingProgressDialog progress(
        QStringLiteral("Writing the GIF..."), QStringLiteral("Cancel"), 0, int(total), this);
    progress.setWindowTitle(AppTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    // Esc asks first (the box's own Esc would cancel at once).
    for (QShortcut* shortcut : progress.findChildren<QShortcut*>())
        shortcut->setEnabled(false);
    progress.askToStop = [this, &progress] {
        if (Prompts().AskYesNo(&progress, QString::fromLatin1(ASK_STOP_MAKING)))
            CancelMaking();
    };
    connect(&progress, &QProgressDialog::canceled, this, [this] { cancelRequested = true; });
    makingProgress = &progress;
    options.animation.progress = [this, &progress](size_t done, size_t all) {
        QMetaObject::invokeMethod(
            &progress,
            [&progress, done, all] {
                if (progress.wasCanceled())
                    return;
                progress.setLabelText(QStringLiteral("Frame %1 of %2 written").arg(done).arg(all));
                progress.setValue(int(done));
            },
            Qt::QueuedConnection);
        return !cancelRequested.load();
    };
    if (preview)
        preview->SetFrames(*photos, settings.frameDelay, settings.lastFrameDelay);
    std::string why;
    bool threw = true;
    const MakeResult result = RunInBackground(
        [&] {
            const MakeResult made = MakeGif(*photos, settings, options, &why);
            threw = false;
            return made;
        },
        MakeResult::Failed);
    if (threw)
        why = platform::OUT_OF_MEMORY_TEXT;
    makingProgress = nullptr;
    progress.askToStop = nullptr;
    progress.reset();
    progress.hide();
    making = false;
    UpdateButtons();

    const QString output = QFile::decodeName(settings.outputPath.c_str());
    if (result == MakeResult::Made) {
        madeBytes = QFileInfo(output).size();
        UpdateStatus();
        // A making that was stopped never opens the viewer, even when it had just ended.
        if (openWhenDone && !cancelRequested && !closeAfterMaking)
            platform::OpenWithDefaultProgram(settings.outputPath);
    } else {
        madeBytes = -1;
        UpdateStatus();
        if (!cancelRequested)
            Prompts().Warning(this, QString::fromLatin1(MESSAGE_FAILED),
                output + QStringLiteral(": ") + QString::fromLocal8Bit(why.c_str()));
    }
    if (closeAfterMaking) {
        closeAfterMaking = false;
        done(QDialog::Rejected);
    }
}

void CMainDialog::CancelMaking()
{
    if (!making)
        return;
    cancelRequested = true;
    if (makingProgress)
        makingProgress->setLabelText(QStringLiteral("Stopping..."));
}

void CMainDialog::done(int result)
{
    if (making) {
        if (!Prompts().AskYesNo(makingProgress ? static_cast<QWidget*>(makingProgress) : this,
                QString::fromLatin1(ASK_STOP_AND_CLOSE)))
            return;
        // The window closes once the writing has stopped.
        closeAfterMaking = true;
        CancelMaking();
        if (making)
            return;
    }
    // Closed while the last run's photos are still coming back, the work kept stays the
    // one that was left.
    if (keepsWork && !restoring)
        SaveWork();
    QDialog::done(result);
}

void CMainDialog::SaveWork()
{
    SavedWork work;
    for (size_t i = 0; i < photos->Count(); i++) {
        work.photos.push_back(photos->Entry(i)->sourcePath);
        work.delays.push_back(photos->Entry(i)->delay);
    }
    work.loopCount = loopCount;
    work.openWhenDone = openWhenDone;
    work.windowGeometry = saveGeometry().toBase64().toStdString();
    ::SaveWork(TheProjectSettings(), work);
}

void CMainDialog::RestoreWork()
{
    keepsWork = true;
    saveSoon = new QTimer(this);
    saveSoon->setSingleShot(true);
    saveSoon->setInterval(1000);
    connect(saveSoon, &QTimer::timeout, this, [this] {
        if (adding || restoring)
            saveSoon->start();
        else
            SaveWork();
    });
    ProjectSettings& settings = TheProjectSettings();
    SavedWork work;
    if (!LoadWork(settings, work))
        return;
    loopCount = work.loopCount;
    openWhenDone = work.openWhenDone;
    if (!work.windowGeometry.empty())
        restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(work.windowGeometry)));
    photos->ResetPhotoList(settings.overallWidth, settings.overallHeight);
    history->Clear();
    list->ResetView();
    ListChanged();
    // The photos are composed once the window shows, with the progress of any adding;
    // until they are back, the work kept is the one that was left.
    restoring = true;
    QTimer::singleShot(
        0, this, [this, paths = std::move(work.photos), delays = std::move(work.delays)] {
            AddBackRestoredPhotos(paths, delays);
        });
}

void CMainDialog::AddBackRestoredPhotos(std::vector<std::string> paths, std::vector<int32_t> delays)
{
    ProjectSettings& settings = TheProjectSettings();
    QStringList lost;
    const auto missing = [](const std::string& path) {
        std::error_code error;
        return !std::filesystem::is_regular_file(path, error);
    };
    if (!settings.backgroundImagePath.empty() && missing(settings.backgroundImagePath)) {
        lost.append(QStringLiteral("Background picture ")
            + QFile::decodeName(settings.backgroundImagePath.c_str())
            + QStringLiteral(": the file is no longer there"));
        settings.backgroundImagePath.clear();
    }
    QStringList present;
    std::vector<std::pair<std::string, int32_t>> wanted;
    for (size_t i = 0; i < paths.size(); i++) {
        if (missing(paths[i])) {
            lost.append(QFile::decodeName(paths[i].c_str())
                + QStringLiteral(": the file is no longer there"));
            continue;
        }
        present.append(QFile::decodeName(paths[i].c_str()));
        wanted.emplace_back(paths[i], i < delays.size() ? delays[i] : -1);
    }
    for (const PhotoFailure& failure : AddPaths(present, false))
        lost.append(QFile::decodeName(failure.path.c_str()) + QStringLiteral(": ")
            + QString::fromLocal8Bit(failure.reason.c_str()));
    // Each photo added back takes its own delay again (those that failed are skipped).
    size_t next = 0;
    for (size_t i = 0; i < photos->Count(); i++) {
        PhotoEntry* entry = photos->Entry(i);
        while (next < wanted.size() && wanted[next].first != entry->sourcePath)
            next++;
        if (next < wanted.size())
            entry->delay = wanted[next++].second;
    }
    // Coming back is not a step to undo.
    history->Clear();
    restoring = false;
    list->RebuildImageList();
    ListChanged();
    if (!lost.isEmpty())
        Prompts().Information(this,
            QStringLiteral("Some files of the work you left could not be added again; the rest "
                           "is back as you left it."),
            lost.join(QLatin1Char('\n')));
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
    // The work is kept soon after every change too, not only when the window closes, so
    // that a program that ends some other way loses nothing either.
    if (keepsWork && !restoring)
        saveSoon->start();
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
