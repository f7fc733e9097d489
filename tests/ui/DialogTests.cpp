// The new-animation and make dialogs, the link label and the About box, driven with real
// key presses and clicks.
#include "ScriptedPrompts.h"
#include "tests/support/TestSupport.h"
#include "ui/CAboutDialog.h"
#include "ui/CLinkStatic.h"
#include "ui/CMakeGifDialog.h"
#include "ui/CNewGifDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void Retype(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// Lets posted validations run.
void Settle() { QApplication::processEvents(); }

struct SizeCase {
    const char* width;
    const char* height;
    const char* photo;
    bool valid;
};

} // namespace

TEST(NewGifDialog, StartsFromTheDefaultsAndAcceptsThem)
{
    ScriptedPrompts prompts;
    CNewGifDialog dialog;
    dialog.show();
    Settle();
    EXPECT_EQ(dialog.windowTitle(), "Begin a new GIF");
    EXPECT_EQ(dialog.WidthEdit()->text(), "120");
    EXPECT_EQ(dialog.HeightEdit()->text(), "120");
    EXPECT_EQ(dialog.PhotoSizeEdit()->text(), "120");
    EXPECT_TRUE(dialog.ColorRadio()->isChecked());
    EXPECT_FALSE(dialog.FastCheck()->isChecked());
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.OverallWidth(), 120u);
    EXPECT_EQ(dialog.BackgroundColor(), 0xFFFFFFu);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST(NewGifDialog, EnablesOkOnlyForValidSizes)
{
    const SizeCase cases[] = {
        { "32", "32", "32", true },
        { "800", "800", "800", true },
        { "31", "120", "32", false },
        { "120", "801", "120", false },
        { "120", "120", "31", false },
        { "100", "300", "120", false }, // photo above the width
        { "300", "100", "120", false }, // photo above the height
        { "640", "480", "480", true },
    };
    ScriptedPrompts prompts;
    for (const SizeCase& c : cases) {
        CNewGifDialog dialog;
        dialog.show();
        Retype(dialog.WidthEdit(), c.width);
        Retype(dialog.HeightEdit(), c.height);
        Retype(dialog.PhotoSizeEdit(), c.photo);
        Settle();
        EXPECT_EQ(dialog.OkButton()->isEnabled(), c.valid)
            << c.width << " x " << c.height << " / " << c.photo;
    }
}

TEST(NewGifDialog, EmptySizeFieldTellsTheUserAndKeepsTheOldValue)
{
    ScriptedPrompts prompts;
    CNewGifDialog dialog;
    dialog.show();
    Retype(dialog.WidthEdit(), "");
    Settle();
    ASSERT_FALSE(prompts.messages.isEmpty());
    EXPECT_EQ(prompts.messages.last(), "Please enter a positive integer.");
    // The member keeps its previous value, which is valid, so OK stays enabled.
    EXPECT_EQ(dialog.OverallWidth(), 120u);
    // Accepting with the empty field refuses and stays open.
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
}

TEST(NewGifDialog, ImageModeNeedsAPictureAndColorModeEmptiesThePath)
{
    ScriptedPrompts prompts;
    CNewGifDialog dialog;
    dialog.show();
    QTest::mouseClick(dialog.ImageRadio(), Qt::LeftButton);
    Settle();
    EXPECT_FALSE(dialog.OkButton()->isEnabled());

    prompts.backgroundPicture = "/pictures/sky.png";
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(dialog.PathEdit()->text(), "/pictures/sky.png");
    EXPECT_TRUE(dialog.OkButton()->isEnabled());

    QTest::mouseClick(dialog.ColorRadio(), Qt::LeftButton);
    Settle();
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.BackgroundPath().isEmpty());
}

TEST(NewGifDialog, AnUnreadableBackgroundPictureIsRefusedWithTheReadersReason)
{
    ScriptedPrompts prompts;
    CNewGifDialog dialog;
    dialog.show();
    QTest::mouseClick(dialog.ImageRadio(), Qt::LeftButton);
    const std::string folder = bvtest::MakeTempDir("background");
    bvtest::WriteFileBytes(folder + "/broken.png", { 0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0 });
    for (const std::string& path : { folder + "/gone.png", folder + "/broken.png" }) {
        prompts.backgroundPicture = QString::fromStdString(path);
        QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
        Settle();
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        EXPECT_TRUE(dialog.isVisible()) << path;
        ASSERT_FALSE(prompts.messages.isEmpty());
        EXPECT_EQ(prompts.messages.last(), "The background picture can't be read.");
        EXPECT_TRUE(prompts.details.last().startsWith(QString::fromStdString(path) + ": "));
        EXPECT_GT(prompts.details.last().size(), int(path.size()) + 2);
    }
    prompts.backgroundPicture
        = QString::fromStdString(bvtest::TestData("png/pngsuite/basn2c08.png"));
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    Settle();
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(prompts.messages.size(), 2);
}

TEST(NewGifDialog, PickedColourIsShownAndReturned)
{
    ScriptedPrompts prompts;
    prompts.color = QColor(0x10, 0x20, 0x30);
    CNewGifDialog dialog;
    dialog.show();
    QTest::mouseClick(dialog.ColorControl(), Qt::LeftButton);
    Settle();
    EXPECT_EQ(dialog.ColorControl()->Color(), QColor(0x10, 0x20, 0x30));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.BackgroundColor(), 0x302010u); // 0x00BBGGRR
}

TEST(MakeGifDialog, RefusesAnEmptyPathThenAcceptsAChosenOne)
{
    ScriptedPrompts prompts;
    CMakeGifDialog dialog(QString(), 50, 50);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Make GIF");
    EXPECT_TRUE(dialog.PathEdit()->isReadOnly());
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages.first(), "Output file path not set.");

    prompts.outputGif = "/tmp/out.gif";
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.PathEdit()->text(), "/tmp/out.gif");
    Retype(dialog.FrameDelayEdit(), "0");
    Retype(dialog.LastFrameDelayEdit(), "9999");
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.OutputPath(), "/tmp/out.gif");
    EXPECT_EQ(dialog.FrameDelay(), 0u);
    EXPECT_EQ(dialog.LastFrameDelay(), 9999u);
}

TEST(MakeGifDialog, AnOutputOverAPhotoIsRefusedAndAFileThatIsNoGifAsksFirst)
{
    ScriptedPrompts prompts;
    const std::string folder = bvtest::MakeTempDir("make-output");
    const std::string photo = folder + "/photo.png";
    bvtest::WriteFileBytes(photo, { 0x89, 'P', 'N', 'G' });
    bvtest::WriteFileBytes(folder + "/notes.gif", { 'n', 'o', 't', 'e' });
    CMakeGifDialog dialog(QString::fromStdString(folder + "/../"
                              + folder.substr(folder.rfind('/') + 1) + "/photo.png"),
        50, 50);
    dialog.SetPhotoPaths({ photo });
    dialog.show();
    // OK with a photo of the list (under another spelling): refused, and why.
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains("is one of the photos in the list"));
    // The chooser's answer is refused alike, and the field keeps what it had.
    prompts.outputGif = QString::fromStdString(photo);
    const QString before = dialog.PathEdit()->text();
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    EXPECT_EQ(prompts.messages.size(), 2);
    EXPECT_EQ(dialog.PathEdit()->text(), before);
    // A file that is no GIF (whatever its name) is replaced only after a Yes.
    prompts.outputGif = QString::fromStdString(folder + "/notes.gif");
    prompts.answerYes = false;
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    EXPECT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(dialog.PathEdit()->text(), before);
    prompts.answerYes = true;
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(prompts.questions.size(), 2); // asked once for the file
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    // A bare name gets .gif.
    prompts.outputGif = QString::fromStdString(folder + "/trip");
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.PathEdit()->text(), QString::fromStdString(folder + "/trip.gif"));
}

TEST(MakeGifDialog, DelayValidationMessages)
{
    struct Case {
        const char* frame;
        const char* last;
        const char* message;
    };
    const Case cases[] = {
        { "10000", "50", "Please enter an integer between 0 and 9999." },
        { "50", "10000", "Please enter an integer between 0 and 9999." },
        { "", "50", "Please enter a positive integer." },
        { "50", "", "Please enter a positive integer." },
    };
    for (const Case& c : cases) {
        ScriptedPrompts prompts;
        CMakeGifDialog dialog(QStringLiteral("/tmp/a.gif"), 50, 50);
        dialog.show();
        Retype(dialog.FrameDelayEdit(), c.frame);
        Retype(dialog.LastFrameDelayEdit(), c.last);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        EXPECT_TRUE(dialog.isVisible()) << c.frame << "/" << c.last;
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_EQ(prompts.messages.first(), c.message);
    }
}

TEST(MakeGifDialog, ShowsThePreviousValues)
{
    ScriptedPrompts prompts;
    CMakeGifDialog dialog(QStringLiteral("/tmp/previous.gif"), 7, 300);
    EXPECT_EQ(dialog.PathEdit()->text(), "/tmp/previous.gif");
    EXPECT_EQ(dialog.FrameDelayEdit()->text(), "7");
    EXPECT_EQ(dialog.LastFrameDelayEdit()->text(), "300");
    // Enter accepts them as they are.
    dialog.show();
    QTest::keyClick(dialog.FrameDelayEdit(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(MakeGifDialog, OutputOptionsAreOffAndSitBetweenTheDelaysAndTheButtons)
{
    ScriptedPrompts prompts;
    CMakeGifDialog dialog(QStringLiteral("/tmp/a.gif"), 50, 50);
    dialog.show();
    int below = dialog.LastFrameDelayEdit()->geometry().bottom();
    for (QCheckBox* box : { dialog.OptimizeBox(), dialog.DitherBox() }) {
        EXPECT_FALSE(box->isChecked()) << box->text().toStdString();
        EXPECT_GT(box->geometry().top(), below) << box->text().toStdString();
        below = box->geometry().bottom();
    }
    EXPECT_EQ(dialog.OptimizeBox()->text(), "Optimise file size");
    EXPECT_EQ(dialog.DitherBox()->text(), "Dither colours");
    EXPECT_LT(below, dialog.OkButton()->geometry().top());
}

TEST(LinkLabel, ClickInsideOpensReleaseOutsideDoesNot)
{
    ScriptedPrompts prompts;
    CAboutDialog about;
    about.show();
    EXPECT_EQ(about.windowTitle(), "About");
    CLinkStatic* link = about.Link();
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->NormalColor(), QColor(0, 0, 0));
    EXPECT_EQ(link->HoverColor(), QColor(0, 0, 255));
    EXPECT_EQ(link->cursor().shape(), Qt::BitmapCursor);

    const QPoint inside = link->rect().center();
    QTest::mousePress(link, Qt::LeftButton, {}, inside);
    QTest::mouseRelease(link, Qt::LeftButton, {}, inside);
    ASSERT_EQ(prompts.openedUrls.size(), 1);
    EXPECT_EQ(prompts.openedUrls.first(), CAboutDialog::HomePage());

    // Pressed on the link, released outside it: nothing opens.
    QTest::mousePress(link, Qt::LeftButton, {}, inside);
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_EQ(prompts.openedUrls.size(), 1);

    // Two quick clicks open twice.
    QTest::mouseClick(link, Qt::LeftButton, {}, inside);
    QTest::mouseClick(link, Qt::LeftButton, {}, inside);
    EXPECT_EQ(prompts.openedUrls.size(), 3);
}

TEST(LinkLabel, HoverColourAndEmptyTextArrow)
{
    CLinkStatic link(QStringLiteral("home"), QStringLiteral("https://example.invalid/"));
    link.resize(100, 20);
    link.show();
    QTest::mouseMove(&link, QPoint(10, 10));
    EXPECT_TRUE(link.IsTracking());
    QTest::mouseMove(&link, QPoint(300, 300));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    EXPECT_FALSE(link.IsTracking());

    CLinkStatic empty(QString(), QStringLiteral("https://example.invalid/"));
    EXPECT_EQ(empty.cursor().shape(), Qt::ArrowCursor);
}
