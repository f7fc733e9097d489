// The main window with the real photo list: buttons, the Begin flow, adding with the
// stored folder, removing, drag-moving in the view, the relayout and a screenshot.
#include "ScriptedPrompts.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"
#include "image/gif/GifAnimationWriter.h"
#include "tests/support/TestSupport.h"
#include "ui/CAnimationPreview.h"
#include "ui/CMainDialog.h"
#include "ui/CMakeGifDialog.h"
#include "ui/CNewGifDialog.h"
#include "ui/CPhotoListCtrl.h"
#include "ui/ImageConversion.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        TheProjectSettings() = ProjectSettings();
        configFolder = QString::fromStdString(bvtest::MakeTempDir("bv-config"));
        SetSettingsFolder(configFolder.toStdString());
        photoFolder = QString::fromStdString(bvtest::MakeTempDir("bv-photos"));
    }
    void TearDown() override { SetSettingsFolder(std::string()); }

    // Small photos of distinct colours, named so that their sorted order is known.
    QStringList MakePhotos(int count)
    {
        QStringList paths;
        for (int i = 0; i < count; i++) {
            const QString path = photoFolder + QString("/photo%1.bmp").arg(i);
            QImage image(80 + 10 * i, 60, QImage::Format_RGB888);
            image.fill(QColor::fromHsv(i * 50 % 360, 200, 220));
            image.save(path, "BMP");
            paths.append(path);
        }
        return paths;
    }

    std::vector<std::string> Names(CMainDialog& window)
    {
        std::vector<std::string> names;
        for (size_t i = 0; i < window.Photos().Count(); i++)
            names.push_back(window.Photos().Entry(i)->displayName);
        return names;
    }

    static void Settle() { QApplication::processEvents(); }

    QString configFolder;
    QString photoFolder;
    ScriptedPrompts prompts;
};

} // namespace

TEST_F(MainWindowTest, ButtonsFollowTheList)
{
    CMainDialog window;
    window.show();
    Settle();
    EXPECT_EQ(window.windowTitle(), "Brimvale");
    EXPECT_TRUE(window.MakeButton()->isDefault());
    EXPECT_FALSE(window.MakeButton()->isEnabled());
    EXPECT_FALSE(window.RemoveButton()->isEnabled());

    prompts.photos = MakePhotos(1);
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    EXPECT_TRUE(window.MakeButton()->isEnabled());
    EXPECT_FALSE(window.RemoveButton()->isEnabled());

    window.List()->item(0)->setSelected(true);
    Settle();
    EXPECT_TRUE(window.RemoveButton()->isEnabled());
    QTest::mouseClick(window.RemoveButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(window.Photos().Count(), 0u);
    EXPECT_EQ(window.List()->count(), 0);
    EXPECT_FALSE(window.MakeButton()->isEnabled());
    EXPECT_FALSE(window.RemoveButton()->isEnabled());
}

TEST_F(MainWindowTest, AddingSortsThePathsAndStoresTheFolder)
{
    const QStringList made = MakePhotos(3);
    prompts.photos = { made[2], made[0], made[1] };
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(
        Names(window), (std::vector<std::string> { "photo0.bmp", "photo1.bmp", "photo2.bmp" }));
    ASSERT_EQ(prompts.photoDialogFolders.size(), 1);
    EXPECT_TRUE(prompts.photoDialogFolders.first().isEmpty()); // first run: no folder yet

    char stored[4096] = {};
    ASSERT_TRUE(ReadSettingString(SETTING_OPEN_PIC_DIR, stored, sizeof stored));
    EXPECT_EQ(QString::fromUtf8(stored), photoFolder);

    // The next opening starts in that folder.
    prompts.photos.clear();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    ASSERT_EQ(prompts.photoDialogFolders.size(), 2);
    EXPECT_EQ(prompts.photoDialogFolders.last(), photoFolder);
}

TEST_F(MainWindowTest, UnreadablePhotosAreCountedInOneMessage)
{
    QStringList paths = MakePhotos(2);
    for (const char* name : { "/broken1.bmp", "/broken2.jpg" }) {
        QFile file(photoFolder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("garbage");
        paths.append(file.fileName());
    }
    paths.append(photoFolder + "/gone.png"); // deleted after it was chosen
    prompts.photos = paths;
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(window.Photos().Count(), 2u);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages.first(), "3 images can not be added because of unknown file format");
    // Which ones, and each reader's reason.
    const QStringList lines = prompts.details.first().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith(photoFolder + "/broken1.bmp: ")) << lines[0].toStdString();
    EXPECT_FALSE(lines[0].endsWith("unknown file format"));
    EXPECT_TRUE(lines[1].startsWith(photoFolder + "/broken2.jpg: "));
    EXPECT_EQ(lines[2], photoFolder + "/gone.png: not found");
    // And what the readers take.
    EXPECT_TRUE(lines[3].contains("WebP") && lines[3].contains("HEIF/HEIC"))
        << lines[3].toStdString();
}

TEST_F(MainWindowTest, FailedMakingTellsThePathAndWhy)
{
    prompts.photos = MakePhotos(2);
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(
        window.StatusLine()->text(), "2 photos \u00b7 Canvas 120 \u00d7 120 \u00b7 Photo size 120");
    window.runDialog = [&](QDialog& dialog) {
        auto* make = qobject_cast<CMakeGifDialog*>(&dialog);
        if (!make)
            return int(QDialog::Rejected);
        make->show();
        QTest::mouseClick(make->BrowseButton(), Qt::LeftButton);
        QTest::mouseClick(make->OkButton(), Qt::LeftButton);
        return make->result();
    };
    prompts.outputGif = photoFolder + "/no/such/folder/anim.gif";
    window.MakeAnimation();
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages.first(), "Failed");
    EXPECT_EQ(prompts.details.first(), prompts.outputGif + ": the folder does not exist");

    // Made: the status line tells the file's size.
    prompts.outputGif = photoFolder + "/anim.gif";
    window.MakeAnimation();
    EXPECT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(window.StatusLine()->text().endsWith(" \u00b7 GIF written: "
        + QLocale().formattedDataSize(
            QFileInfo(prompts.outputGif).size(), 1, QLocale::DataSizeTraditionalFormat)))
        << window.StatusLine()->text().toStdString();
}

TEST_F(MainWindowTest, TheMakeDialogsCheckBoxesChooseHowTheFileIsMadeAndAreKept)
{
    prompts.photos = MakePhotos(2);
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    bool wereChecked = true;
    window.runDialog = [&](QDialog& dialog) {
        auto* make = qobject_cast<CMakeGifDialog*>(&dialog);
        if (!make)
            return int(QDialog::Rejected);
        make->show();
        wereChecked = make->OptimizeBox()->isChecked() && make->DitherBox()->isChecked();
        make->OptimizeBox()->setChecked(true);
        make->DitherBox()->setChecked(true);
        QTest::mouseClick(make->BrowseButton(), Qt::LeftButton);
        QTest::mouseClick(make->OkButton(), Qt::LeftButton);
        return make->result();
    };
    prompts.outputGif = photoFolder + "/options.gif";
    window.MakeAnimation();
    EXPECT_FALSE(wereChecked);
    EXPECT_TRUE(TheProjectSettings().optimizeSize);
    EXPECT_TRUE(TheProjectSettings().ditherColours);
    EXPECT_TRUE(QFileInfo(prompts.outputGif).size() > 0);
    window.MakeAnimation();
    EXPECT_TRUE(wereChecked);
}

TEST_F(MainWindowTest, TheMenuReordersAndSetsDelaysWhichTheMakingWritesWithItsKeptOptions)
{
    prompts.photos = MakePhotos(3);
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    CPhotoListCtrl* list = window.List();
    const auto run = [&](const char* text, std::vector<size_t> rows) {
        list->SelectRows(rows);
        for (QAction* action : list->ContextMenu()->actions())
            if (action->text() == text)
                action->trigger();
        Settle();
    };
    using Order = std::vector<std::string>;
    run("Move to end", { 0 });
    EXPECT_EQ(Names(window), (Order { "photo1.bmp", "photo2.bmp", "photo0.bmp" }));
    run("Move to start", { 1, 2 });
    EXPECT_EQ(Names(window), (Order { "photo2.bmp", "photo0.bmp", "photo1.bmp" }));
    EXPECT_EQ(list->SelectedIndices(), (std::vector<size_t> { 0, 1 }));
    run("Reverse order", {});
    EXPECT_EQ(Names(window), (Order { "photo1.bmp", "photo0.bmp", "photo2.bmp" }));
    window.Undo(); // Ctrl+Z, which the real-X test presses
    EXPECT_EQ(Names(window), (Order { "photo2.bmp", "photo0.bmp", "photo1.bmp" }));
    prompts.number = 7;
    run("Delay...", { 0, 2 });
    EXPECT_EQ(list->item(0)->text(), "photo2.bmp\n0.07 s (own)");
    EXPECT_EQ(list->item(1)->text(), "photo0.bmp\n0.50 s");

    int loops = -1, quality = -1;
    bool opens = false;
    window.runDialog = [&](QDialog& dialog) {
        auto* make = qobject_cast<CMakeGifDialog*>(&dialog);
        if (!make)
            return int(QDialog::Rejected);
        make->show();
        loops = make->LoopBox()->value();
        quality = make->QualityBox()->value();
        opens = make->OpenBox()->isChecked();
        make->LoopBox()->setValue(3);
        make->QualityBox()->setValue(40);
        make->OpenBox()->setChecked(false);
        QTest::mouseClick(make->BrowseButton(), Qt::LeftButton);
        QTest::mouseClick(make->OkButton(), Qt::LeftButton);
        return make->result();
    };
    prompts.outputGif = photoFolder + "/delays.gif";
    window.MakeAnimation();
    EXPECT_EQ(loops, 0);
    EXPECT_EQ(quality, 0);
    EXPECT_TRUE(opens);
    EXPECT_EQ(TheProjectSettings().quality, 40u);
    for (int frame = 0; frame < 3; frame++) {
        FILE* file = std::fopen(QFile::encodeName(prompts.outputGif).constData(), "rb");
        ASSERT_NE(file, nullptr);
        CxFileStream stream(file);
        CxImageGIF gif;
        gif.SetFrame(frame);
        EXPECT_TRUE(gif.Decode(&stream));
        std::fclose(file);
        EXPECT_EQ(gif.GetFrameDelay(), frame == 1 ? 50u : 7u) << frame;
    }
    window.MakeAnimation();
    EXPECT_EQ(loops, 3);
    EXPECT_EQ(quality, 40);
    EXPECT_FALSE(opens);
}

TEST_F(MainWindowTest, KeysRemoveMoveAndSelect)
{
    prompts.photos = MakePhotos(4);
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    CPhotoListCtrl* list = window.List();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(list->SelectedIndices(), std::vector<size_t> { 3 });
    QTest::keyClick(list, Qt::Key_Left, Qt::AltModifier);
    QTest::keyClick(list, Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(Names(window),
        (std::vector<std::string> { "photo0.bmp", "photo3.bmp", "photo1.bmp", "photo2.bmp" }));
    EXPECT_EQ(list->SelectedIndices(), std::vector<size_t> { 1 });
    QTest::keyClick(list, Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(Names(window),
        (std::vector<std::string> { "photo0.bmp", "photo1.bmp", "photo3.bmp", "photo2.bmp" }));
    EXPECT_EQ(list->SelectedIndices(), std::vector<size_t> { 2 });
    QTest::keyClick(list, Qt::Key_Right, Qt::AltModifier); // to the last place
    QTest::keyClick(list, Qt::Key_Right, Qt::AltModifier); // no further
    EXPECT_EQ(Names(window),
        (std::vector<std::string> { "photo0.bmp", "photo1.bmp", "photo2.bmp", "photo3.bmp" }));
    EXPECT_EQ(list->SelectedIndices(), std::vector<size_t> { 3 });

    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(list->SelectedIndices(), std::vector<size_t> { 0 });
    QTest::keyClick(list, Qt::Key_Delete);
    Settle();
    EXPECT_EQ(
        Names(window), (std::vector<std::string> { "photo1.bmp", "photo2.bmp", "photo3.bmp" }));
    EXPECT_FALSE(window.RemoveButton()->isEnabled());
    EXPECT_EQ(window.StatusLine()->text().left(8), "3 photos");
}

TEST_F(MainWindowTest, EscapeFocusLossOrResetEndsADrag)
{
    prompts.photos = MakePhotos(3);
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    CPhotoListCtrl* list = window.List();
    const QPoint c = list->visualItemRect(list->item(0)).center();
    auto beginDrag = [&] {
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, c);
        QTest::mouseMove(list->viewport(), c + QPoint(30, 0));
        ASSERT_EQ(list->DragIndex(), 0);
        EXPECT_TRUE(list->HoldsCapture());
    };
    beginDrag();
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_EQ(list->DragIndex(), -1);
    EXPECT_FALSE(list->HoldsCapture());
    EXPECT_TRUE(window.isVisible()); // Esc ended the drag, not the program
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, c);

    beginDrag();
    QFocusEvent focusLost(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(list, &focusLost);
    EXPECT_EQ(list->DragIndex(), -1);
    EXPECT_FALSE(list->HoldsCapture());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, c);

    beginDrag();
    list->ResetView();
    EXPECT_EQ(list->DragIndex(), -1);
    EXPECT_FALSE(list->HoldsCapture());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, c);
}

TEST_F(MainWindowTest, FastDecodingIsOffAtFirstAndKeptForTheNextRun)
{
    {
        CMainDialog window;
        EXPECT_FALSE(TheProjectSettings().fastDecoding);
        window.runDialog = [&](QDialog& dialog) {
            auto* newGif = qobject_cast<CNewGifDialog*>(&dialog);
            if (!newGif)
                return int(QDialog::Rejected);
            newGif->show();
            Settle();
            EXPECT_FALSE(newGif->FastCheck()->isChecked());
            QTest::mouseClick(newGif->FastCheck(), Qt::LeftButton);
            QTest::mouseClick(newGif->OkButton(), Qt::LeftButton);
            return newGif->result();
        };
        QTest::mouseClick(window.BeginButton(), Qt::LeftButton);
        EXPECT_TRUE(TheProjectSettings().fastDecoding);
    }
    // The next run starts from the defaults, with the box as it was left.
    TheProjectSettings() = ProjectSettings();
    CMainDialog window;
    EXPECT_TRUE(TheProjectSettings().fastDecoding);
    CNewGifDialog dialog;
    EXPECT_TRUE(dialog.FastCheck()->isChecked());
    TheProjectSettings() = ProjectSettings();
}

TEST_F(MainWindowTest, BeginFlow)
{
    CMainDialog window;
    window.show();
    int dialogsShown = 0;
    int answer = QDialog::Rejected;
    QString newWidth;
    window.runDialog = [&](QDialog& dialog) {
        dialogsShown++;
        if (auto* newGif = qobject_cast<CNewGifDialog*>(&dialog);
            newGif && answer == QDialog::Accepted) {
            newGif->show();
            newGif->WidthEdit()->setText(newWidth);
            newGif->HeightEdit()->setText("200");
            newGif->PhotoSizeEdit()->setText("100");
            Settle();
            QTest::mouseClick(newGif->OkButton(), Qt::LeftButton);
            return newGif->result();
        }
        return int(QDialog::Rejected);
    };

    // An empty list asks nothing.
    QTest::mouseClick(window.BeginButton(), Qt::LeftButton);
    EXPECT_TRUE(prompts.questions.isEmpty());
    EXPECT_EQ(dialogsShown, 1);

    prompts.photos = MakePhotos(2);
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    ASSERT_EQ(window.Photos().Count(), 2u);

    // No: nothing changes and no dialog shows.
    prompts.answerYes = false;
    QTest::mouseClick(window.BeginButton(), Qt::LeftButton);
    ASSERT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(prompts.questions.first(), "The image in the list will be cleared.\n\nContinue?");
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(window.Photos().Count(), 2u);

    // Yes, then Cancel: the list stays.
    prompts.answerYes = true;
    QTest::mouseClick(window.BeginButton(), Qt::LeftButton);
    EXPECT_EQ(dialogsShown, 2);
    EXPECT_EQ(window.Photos().Count(), 2u);

    // Yes, then OK: a new empty list on the new canvas.
    answer = QDialog::Accepted;
    newWidth = "300";
    QTest::mouseClick(window.BeginButton(), Qt::LeftButton);
    EXPECT_EQ(window.Photos().Count(), 0u);
    EXPECT_EQ(TheProjectSettings().overallWidth, 300u);
    EXPECT_EQ(TheProjectSettings().overallHeight, 200u);
    EXPECT_EQ(TheProjectSettings().photoSize, 100u);
    // Thumbnails: the canvas scaled to fit 160 x 160.
    EXPECT_EQ(window.List()->iconSize(), QSize(160, 106));
    Settle();
    EXPECT_FALSE(window.MakeButton()->isEnabled());
}

TEST_F(MainWindowTest, DraggingMovesBeforeTheItemDroppedOn)
{
    prompts.photos = MakePhotos(5);
    CMainDialog window;
    window.resize(1400, 500);
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    CPhotoListCtrl* list = window.List();
    QWidget* viewport = list->viewport();
    auto centre = [&](int row) { return list->visualItemRect(list->item(row)).center(); };
    auto drag = [&](int from, int to) {
        QTest::mousePress(viewport, Qt::LeftButton, {}, centre(from));
        QTest::mouseMove(viewport, centre(from) + QPoint(20, 0));
        QTest::mouseMove(viewport, centre(to));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, centre(to));
        Settle();
    };

    drag(0, 3); // 0 onto 3 of five gives 1, 2, 0, 3, 4
    EXPECT_EQ(Names(window),
        (std::vector<std::string> {
            "photo1.bmp", "photo2.bmp", "photo0.bmp", "photo3.bmp", "photo4.bmp" }));
    EXPECT_TRUE(list->item(2)->isSelected());

    drag(2, 3); // onto its right-hand neighbour: nothing
    drag(2, 2); // onto itself: nothing
    EXPECT_EQ(Names(window),
        (std::vector<std::string> {
            "photo1.bmp", "photo2.bmp", "photo0.bmp", "photo3.bmp", "photo4.bmp" }));

    drag(3, 0); // backwards lands at the target
    EXPECT_EQ(Names(window),
        (std::vector<std::string> {
            "photo3.bmp", "photo1.bmp", "photo2.bmp", "photo0.bmp", "photo4.bmp" }));
    EXPECT_EQ(list->DragIndex(), -1);
}

TEST_F(MainWindowTest, SinglePhotoCannotBeDragged)
{
    prompts.photos = MakePhotos(1);
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    CPhotoListCtrl* list = window.List();
    const QPoint c = list->visualItemRect(list->item(0)).center();
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, c);
    QTest::mouseMove(list->viewport(), c + QPoint(30, 0));
    EXPECT_EQ(list->DragIndex(), -1);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, c + QPoint(30, 0));
}

TEST_F(MainWindowTest, RelayoutKeepsTheMarginsAndButtonSpacing)
{
    CMainDialog window;
    window.show();
    Settle();
    const QRect client0 = window.rect();
    const int right0 = client0.right() - window.List()->geometry().right();
    const int bottom0 = client0.bottom() - window.List()->geometry().bottom();
    window.resize(window.width() + 200, window.height() + 150);
    Settle();
    const QRect client = window.rect();
    EXPECT_EQ(client.right() - window.List()->geometry().right(), right0);
    EXPECT_EQ(client.bottom() - window.List()->geometry().bottom(), bottom0);
    EXPECT_EQ(window.CloseButton()->geometry().right(), window.List()->geometry().right());
    EXPECT_EQ(window.AddButton()->geometry().left(), window.BeginButton()->geometry().right() + 2);
    EXPECT_EQ(
        window.AboutButton()->geometry().right() + 2, window.CloseButton()->geometry().left());
    EXPECT_EQ(window.MakeButton()->geometry().top(), window.BeginButton()->geometry().top());
}

TEST_F(MainWindowTest, ScreenshotWithThreePhotos)
{
    prompts.photos = MakePhotos(3);
    CMainDialog window;
    window.resize(700, 420);
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    const QString path = QStringLiteral(BRIMVALE_BUILD_DIR "/main-window.png");
    const QPixmap shot = window.grab();
    ASSERT_TRUE(shot.save(path));
    EXPECT_EQ(shot.size(), window.size());
}

TEST_F(MainWindowTest, CancelWhileAddingKeepsThePhotosAlreadyAdded)
{
    // Large enough that composing the batch outlasts the click on Cancel.
    QStringList paths;
    for (int i = 0; i < 24; i++) {
        const QString path = photoFolder + QString("/big%1.bmp").arg(i, 2, 10, QLatin1Char('0'));
        QImage image(1600, 1200, QImage::Format_RGB888);
        image.fill(QColor::fromHsv(i * 15, 180, 200));
        image.save(path, "BMP");
        paths.append(path);
    }
    prompts.photos = paths;
    CMainDialog window;
    window.show();
    // Cancel is clicked as soon as the dialog shows the first photo done.
    bool sawProgress = false;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        auto* progress = window.findChild<QProgressDialog*>();
        if (!progress || !progress->isVisible() || progress->value() < 1)
            return;
        sawProgress = true;
        poll.stop();
        if (auto* cancel = progress->findChild<QPushButton*>())
            QTest::mouseClick(cancel, Qt::LeftButton);
    });
    poll.start();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    EXPECT_TRUE(sawProgress);
    EXPECT_GT(window.Photos().Count(), 0u);
    EXPECT_LT(window.Photos().Count(), 24u);
    EXPECT_EQ(window.List()->count(), int(window.Photos().Count()));
    EXPECT_TRUE(prompts.messages.isEmpty()); // photos left out are not failures
}

TEST_F(MainWindowTest, EnterActsAsMakeAndEscapeCloses)
{
    prompts.photos = MakePhotos(1);
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    int makeDialogs = 0;
    window.runDialog = [&](QDialog& dialog) {
        if (qobject_cast<CMakeGifDialog*>(&dialog))
            makeDialogs++;
        return int(QDialog::Rejected);
    };
    window.List()->setFocus();
    QTest::keyClick(window.List(), Qt::Key_Return);
    EXPECT_EQ(makeDialogs, 1);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);
}

TEST_F(MainWindowTest, DraggingNearOrBeyondTheListsEdgesScrollsIt)
{
    prompts.photos = MakePhotos(12);
    CMainDialog window;
    window.resize(420, 330); // room for a row or two: the list must scroll
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    CPhotoListCtrl* list = window.List();
    QScrollBar* bar = list->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 2 * CPhotoListCtrl::SCROLL_STEP);
    bar->setValue(bar->maximum() / 2);
    const int start = bar->value();

    QWidget* viewport = list->viewport();
    const QPoint item
        = list->visualItemRect(list->item(list->indexAt(QPoint(40, 40)).row())).center();
    QTest::mousePress(viewport, Qt::LeftButton, {}, item);
    QTest::mouseMove(viewport, item + QPoint(20, 0));
    ASSERT_GE(list->DragIndex(), 0);

    // Above the list: the timer runs and each tick scrolls up by 12 pixels.
    const QPoint above(list->mapToGlobal(QPoint(10, -30)));
    QCursor::setPos(above);
    QMouseEvent moveAbove(QEvent::MouseMove, viewport->mapFromGlobal(QPointF(above)),
        QPointF(above), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &moveAbove);
    EXPECT_TRUE(list->IsAutoScrolling());
    QTest::qWait(3 * CPhotoListCtrl::SCROLL_PERIOD_MS + 20);
    EXPECT_LT(bar->value(), start);
    EXPECT_EQ((start - bar->value()) % CPhotoListCtrl::SCROLL_STEP, 0);

    // Back within the list, away from its edges: the timer stops.
    const QPoint inside(list->mapToGlobal(QPoint(10, list->height() / 2)));
    QCursor::setPos(inside);
    QMouseEvent moveInside(QEvent::MouseMove, viewport->mapFromGlobal(QPointF(inside)),
        QPointF(inside), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &moveInside);
    EXPECT_FALSE(list->IsAutoScrolling());
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, viewport->mapFromGlobal(inside));
    EXPECT_EQ(list->DragIndex(), -1);
}

TEST_F(MainWindowTest, PreviewPlaysTheFramesInListOrderAndFollowsTheList)
{
    prompts.photos = MakePhotos(3);
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    TheProjectSettings().frameDelay = 30; // as a Make dialog accepted them
    TheProjectSettings().lastFrameDelay = 120;
    QTest::mouseClick(window.PreviewButton(), Qt::LeftButton);
    CAnimationPreview* preview = window.Preview();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isVisible());

    // The frame shown is the list's frame at that place, exactly as it will be written.
    auto showsListFrame = [&](int index) {
        const auto frame = DecodeGifFrame(*window.Photos().Entry(size_t(index))->codedFrame);
        const QImage expected = ToQImage(*frame);
        return preview->FrameImage(index) == expected;
    };
    ASSERT_EQ(preview->FrameCount(), 3);
    const int expectedMs[] = { 300, 300, 1200, 300 };
    for (int step = 0; step < 4; step++) {
        EXPECT_EQ(preview->CurrentFrame(), step % 3);
        EXPECT_TRUE(showsListFrame(step % 3));
        EXPECT_EQ(preview->TimerIntervalMs(), expectedMs[step]);
        EXPECT_EQ(preview->PositionText(), QString("frame %1 of 3").arg(step % 3 + 1));
        preview->AdvanceFrame();
    }

    // Paused it stays; stepping goes round.
    QTest::mouseClick(preview->PlayButton(), Qt::LeftButton);
    EXPECT_FALSE(preview->IsPlaying());
    EXPECT_EQ(preview->TimerIntervalMs(), 0);
    QTest::mouseClick(preview->BackButton(), Qt::LeftButton);
    QTest::mouseClick(preview->BackButton(), Qt::LeftButton);
    EXPECT_EQ(preview->CurrentFrame(), 2);
    QTest::mouseClick(preview->ForwardButton(), Qt::LeftButton);
    EXPECT_EQ(preview->CurrentFrame(), 0);

    // A move in the list reorders the preview; the frame shown stays the same photo.
    window.List()->item(0)->setSelected(true);
    ASSERT_TRUE(window.List()->MoveSelectedPhoto(+1));
    EXPECT_EQ(
        Names(window), (std::vector<std::string> { "photo1.bmp", "photo0.bmp", "photo2.bmp" }));
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(showsListFrame(i)) << i;
    EXPECT_EQ(preview->CurrentFrame(), 1);

    // Removing and adding (while it is open) follow too.
    QTest::keyClick(window.List(), Qt::Key_Delete);
    EXPECT_EQ(preview->FrameCount(), 2);
    prompts.photos = { MakePhotos(5).last() };
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    ASSERT_EQ(preview->FrameCount(), 3);
    EXPECT_TRUE(showsListFrame(2));
    EXPECT_EQ(preview->FrameDurationMs(1), 300); // no longer the last
    EXPECT_EQ(preview->FrameDurationMs(2), 1200);
}
