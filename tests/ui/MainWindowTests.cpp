// The main window with the real photo list: buttons, the Begin flow, adding with the
// stored folder, removing, drag-moving in the view, the relayout and a screenshot.
#include "ScriptedPrompts.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"
#include "tests/support/TestSupport.h"
#include "ui/CMainDialog.h"
#include "ui/CMakeGifDialog.h"
#include "ui/CNewGifDialog.h"
#include "ui/CPhotoListCtrl.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
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
    prompts.photos = paths;
    CMainDialog window;
    window.show();
    QTest::mouseClick(window.AddButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(window.Photos().Count(), 2u);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages.first(), "2 images can not be added because of unknown file format");
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
    EXPECT_EQ(window.List()->iconSize(), QSize(300, 200));
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

TEST_F(MainWindowTest, DraggingAboveOrBelowTheListScrollsIt)
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

    // Back within the list's height: the timer stops.
    const QPoint inside(list->mapToGlobal(QPoint(10, 10)));
    QCursor::setPos(inside);
    QMouseEvent moveInside(QEvent::MouseMove, viewport->mapFromGlobal(QPointF(inside)),
        QPointF(inside), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &moveInside);
    EXPECT_FALSE(list->IsAutoScrolling());
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, viewport->mapFromGlobal(inside));
    EXPECT_EQ(list->DragIndex(), -1);
}
