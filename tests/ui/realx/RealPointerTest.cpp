// The desktop program on a real X server (run by scripts/test-real-x.sh under Xvfb with a
// window manager), driven as a person drives it: the real pointer and keyboard through
// XTest. A driver thread moves them and waits for the program to follow; the program runs
// on the main thread, modal dialogs and all.
#include "XTestInput.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"
#include "image/core/CxStream.h"
#include "image/gif/CxImageGIF.h"
#include "tests/support/TestSupport.h"
#include "ui/CMainDialog.h"
#include "ui/CMakeGifDialog.h"
#include "ui/CPhotoListCtrl.h"
#include "ui/CPhotoOpenDialog.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Names = std::vector<std::string>;

// Runs f on the main thread (inside whatever event loop runs there) and hands back its
// result.
template <typename F> auto OnUi(F f) -> decltype(f())
{
    decltype(f()) result {};
    QMetaObject::invokeMethod(
        qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

// Waits until the program shows what the condition asks for, or gives up after a while.
bool WaitFor(const std::function<bool()>& condition, int seconds = 20)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!OnUi(condition)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// With BRIMVALE_SCREENSHOTS naming a folder, the whole X screen as a person sees it.
void Screenshot(const char* name)
{
    const char* folder = std::getenv("BRIMVALE_SCREENSHOTS");
    if (!folder || !*folder)
        return;
    OnUi([&] {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        return shot.save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
    });
}

template <typename Dialog> Dialog* ActiveModal()
{
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    return dialog && dialog->isActiveWindow() ? dialog : nullptr;
}

QPoint CentreOf(const QWidget* widget) { return widget->mapToGlobal(widget->rect().center()); }

const QColor PHOTO_COLOURS[] = { QColor(220, 40, 40), QColor(40, 180, 60), QColor(40, 70, 220) };

class Session {
public:
    Session(CMainDialog& window, const QString& outputGif)
        : window(window)
        , list(window.List())
        , outputGif(outputGif)
    {
    }

    // The whole visit; the first step that the program doesn't follow is told.
    std::string Run()
    {
        if (!input.IsOpen())
            return "no X display";
        if (!WaitFor([&] { return window.isActiveWindow(); }))
            return "the main window never became active";

        input.Click(OnUi([&] { return CentreOf(window.AddButton()); }));
        if (!WaitFor([] { return ActiveModal<CPhotoOpenDialog>() != nullptr; }))
            return "the photo dialog didn't open";
        input.Type("\"photo1.bmp\" \"photo2.bmp\" \"photo3.bmp\"");
        input.Tap(XTestInput::Key::Return);
        if (!WaitFor([&] { return !QApplication::activeModalWidget() && Order().size() == 3; }))
            return "the three photos weren't added";

        // Drag the first onto the third: it lands just before it.
        const QPoint first = ItemCentre(0);
        input.MoveTo(first);
        input.Press();
        for (int dx = 4; dx <= 20; dx += 4)
            input.MoveTo(first + QPoint(dx, 0));
        if (!WaitFor([&] { return list->DragIndex() == 0; }))
            return "pressing and moving on a photo didn't start a drag";
        const QPoint third = ItemCentre(2);
        for (int step = 1; step <= 8; step++)
            input.MoveTo(first + (third - first) * step / 8);
        input.Release();
        if (!WaitFor([&] { return Order() == Names { "photo2.bmp", "photo1.bmp", "photo3.bmp" }; }))
            return "the drag didn't reorder";
        if (OnUi([&] { return list->HoldsCapture(); }) || input.PointerGrabbedElsewhere())
            return "the pointer stayed grabbed after the drop";
        Screenshot("after-drag");

        // A click on another photo reaches the list and selects it.
        input.Click(ItemCentre(0));
        if (!WaitFor([&] { return Selected() == std::vector<size_t> { 0 }; }))
            return "a click after the drag didn't select";

        input.Tap(XTestInput::Key::Right, true);
        if (!WaitFor([&] {
                return Order() == Names { "photo1.bmp", "photo2.bmp", "photo3.bmp" }
                && Selected() == std::vector<size_t> { 1 };
            }))
            return "Alt+Right didn't move the selected photo";
        input.Tap(XTestInput::Key::Right, true);
        if (!WaitFor([&] { return Order() == Names { "photo1.bmp", "photo3.bmp", "photo2.bmp" }; }))
            return "a second Alt+Right didn't move it on";

        input.Click(ItemCentre(0));
        if (!WaitFor([&] { return Selected() == std::vector<size_t> { 0 }; }))
            return "a click didn't select the first photo";
        input.Tap(XTestInput::Key::Delete);
        if (!WaitFor([&] { return Order() == Names { "photo3.bmp", "photo2.bmp" }; }))
            return "Delete didn't remove the selected photo";

        // Enter makes: the Make dialog, its "..." for the file, then OK.
        input.Tap(XTestInput::Key::Return);
        if (!WaitFor([] { return ActiveModal<CMakeGifDialog>() != nullptr; }))
            return "Enter didn't open the Make dialog";
        input.Click(OnUi([] { return CentreOf(ActiveModal<CMakeGifDialog>()->BrowseButton()); }));
        if (!WaitFor([] { return ActiveModal<QFileDialog>() != nullptr; }))
            return "\"...\" didn't open the save dialog";
        input.Type(outputGif.toStdString());
        input.Tap(XTestInput::Key::Return);
        if (!WaitFor([&] {
                auto* make = ActiveModal<CMakeGifDialog>();
                return make && make->PathEdit()->text() == outputGif;
            }))
            return "the chosen file didn't reach the Make dialog";
        Screenshot("make-dialog");
        input.Click(OnUi([] { return CentreOf(ActiveModal<CMakeGifDialog>()->OkButton()); }));
        if (!WaitFor([&] {
                return !QApplication::activeModalWidget()
                    && window.StatusLine()->text().contains(QStringLiteral("GIF written"));
            }))
            return "making didn't finish";
        Screenshot("after-making");

        input.Tap(XTestInput::Key::Escape);
        if (!WaitFor([&] { return !window.isVisible(); }))
            return "Esc didn't close the window";
        return std::string();
    }

private:
    Names Order() const
    {
        Names names;
        for (size_t i = 0; i < window.Photos().Count(); i++)
            names.push_back(window.Photos().Entry(i)->displayName);
        return names;
    }
    std::vector<size_t> Selected() const { return list->SelectedIndices(); }
    QPoint ItemCentre(int row)
    {
        return OnUi([&] {
            return list->viewport()->mapToGlobal(list->visualItemRect(list->item(row)).center());
        });
    }

    CMainDialog& window;
    CPhotoListCtrl* list;
    QString outputGif;
    XTestInput input;
};

// The colour at the centre of frame `frame` of a GIF, read with the program's own reader.
QColor GifFrameCentre(const std::string& path, int frame, int* frames)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return QColor();
    CxFileStream stream(file);
    CxImageGIF gif;
    gif.SetFrame(frame);
    const bool decoded = gif.Decode(&stream);
    std::fclose(file);
    *frames = gif.GetNumFrames();
    if (!decoded)
        return QColor();
    const RGBQUAD c = gif.GetPixelColor(gif.GetWidth() / 2, gif.GetHeight() / 2);
    return QColor(c.rgbRed, c.rgbGreen, c.rgbBlue);
}

bool Near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= 8 && std::abs(a.green() - b.green()) <= 8
        && std::abs(a.blue() - b.blue()) <= 8;
}

} // namespace

TEST(RealPointer, DragClickKeysAndMakeAsAPersonDoes)
{
    const QString folder = QString::fromStdString(bvtest::MakeTempDir("bv-real-x"));
    for (int i = 0; i < 3; i++) {
        QImage photo(90, 70, QImage::Format_RGB888);
        photo.fill(PHOTO_COLOURS[i]);
        ASSERT_TRUE(photo.save(folder + QString("/photo%1.bmp").arg(i + 1), "BMP"));
    }
    SetSettingsFolder(folder.toStdString() + "/config");
    WriteSettingString(SETTING_OPEN_PIC_DIR, folder.toLocal8Bit().constData());
    // The made file would be opened with the desktop's viewer: a stand-in that does nothing.
    QFile opener(folder + "/xdg-open");
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\nexit 0\n");
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setenv("PATH", (folder.toStdString() + ":" + std::getenv("PATH")).c_str(), 1);

    const QString outputGif = folder + "/anim.gif";
    CMainDialog window;
    window.show();
    std::string failure;
    std::atomic<bool> done { false };
    std::thread driver([&] {
        failure = Session(window, outputGif).Run();
        // Whatever step failed, no dialog is left waiting.
        OnUi([&] {
            while (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
            window.close();
            return true;
        });
        done = true;
    });
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, 240000);
    driver.join();
    ASSERT_TRUE(finished) << "the pointer's steps did not end within four minutes";
    ASSERT_EQ(failure, "");

    // The GIF holds the list's frames in its order: photo 3, then photo 2.
    int frames = 0;
    EXPECT_TRUE(Near(GifFrameCentre(outputGif.toStdString(), 0, &frames), PHOTO_COLOURS[2]));
    EXPECT_EQ(frames, 2);
    EXPECT_TRUE(Near(GifFrameCentre(outputGif.toStdString(), 1, &frames), PHOTO_COLOURS[1]));
    SetSettingsFolder(std::string());
}

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "ui_real_x_test needs an X display: run scripts/test-real-x.sh\n");
        return 1;
    }
    QApplication application(argc, argv);
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        std::fprintf(stderr, "ui_real_x_test runs on the xcb platform only\n");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
