// The desktop program on a real X server (run by scripts/test-real-x.sh under Xvfb with a
// window manager), driven as a person drives it: the real pointer and keyboard through
// XTest. A driver thread moves them and waits for the program to follow; the program runs
// on the main thread, modal dialogs and all.
#include "XTestInput.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"
#include "app/SavedWork.h"
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
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <random>
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

// Types a name into the open file dialog's name field and presses Enter. A person clicks
// the field first: the dialog may have put the keyboard on its list of files, where typing
// only searches. A person also sees the folder's files listed first: the dialog lists them
// on a thread of its own, and when the list arrives during the typing its completion moves
// the cursor back, so that the rest of the name goes into its middle.
bool TypeFileName(XTestInput& input, const std::string& name)
{
    const auto field = [] {
        auto* dialog = ActiveModal<QFileDialog>();
        return dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
    };
    const auto listed = [] {
        auto* dialog = ActiveModal<QFileDialog>();
        auto* files = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
        return files && files->rowCount(files->index(dialog->directory().absolutePath())) > 0;
    };
    if (!WaitFor([&] { return field() && field()->isVisible() && listed(); }))
        return false;
    input.Click(OnUi([&] { return CentreOf(field()); }));
    if (!WaitFor([&] { return field() && field()->hasFocus(); }))
        return false;
    input.TapControl('a');
    input.Type(name);
    if (!WaitFor([&] { return field() && field()->text().toStdString() == name; }))
        return false;
    input.Tap(XTestInput::Key::Return);
    return true;
}

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
        if (!TypeFileName(input, "\"photo1.bmp\" \"photo2.bmp\" \"photo3.bmp\""))
            return "the photo dialog didn't take the typed names";
        if (!WaitFor([&] { return !QApplication::activeModalWidget() && list->count() == 3; }))
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
        if (!TypeFileName(input, outputGif.toStdString()))
            return "the save dialog didn't take the typed name";
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

namespace {

// A folder of its own for the photos, the settings store and a stand-in for the desktop's
// viewer that notes every file it is asked to open.
class Bench {
public:
    explicit Bench(const char* prefix)
        : folder(QString::fromStdString(bvtest::MakeTempDir(prefix)))
    {
        TheProjectSettings() = ProjectSettings();
        SetSettingsFolder(folder.toStdString() + "/config");
        WriteSettingString(SETTING_OPEN_PIC_DIR, folder.toLocal8Bit().constData());
        QFile opener(folder + "/xdg-open");
        EXPECT_TRUE(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/opened\"\n");
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setenv("PATH", (folder.toStdString() + ":" + std::getenv("PATH")).c_str(), 1);
    }
    ~Bench() { SetSettingsFolder(std::string()); }

    // photo1.bmp .. photoN.bmp, each of one colour.
    void SmallPhotos(int count) const
    {
        for (int i = 0; i < count; i++) {
            QImage photo(90, 70, QImage::Format_RGB888);
            photo.fill(QColor::fromHsv(i * 360 / count, 200, 220));
            EXPECT_TRUE(photo.save(Path(QString("photo%1.bmp").arg(i + 1)), "BMP"));
        }
    }
    QString Path(const QString& name) const { return folder + "/" + name; }
    bool ViewerOpened() const { return QFile::exists(Path("opened")); }

    const QString folder;
};

// Runs the steps on a driver thread while the program runs here; afterwards no dialog is
// left waiting and the window is closed. Gives the first step the program didn't follow.
std::string Drive(CMainDialog& window, const std::function<std::string(XTestInput&)>& steps)
{
    std::string failure;
    std::atomic<bool> done { false };
    std::thread driver([&] {
        XTestInput input;
        if (!input.IsOpen())
            failure = "no X display";
        else if (!WaitFor(
                     [&] { return window.isActiveWindow() || QApplication::activeModalWidget(); }))
            failure = "the main window never became active";
        else
            failure = steps(input);
        input.Release(); // a step that failed mid-drag leaves no button held
        OnUi([&] {
            window.CancelMaking();
            return true;
        });
        WaitFor([&] { return !window.IsMaking(); });
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
    return finished ? failure : "the steps did not end within four minutes";
}

Names Order(CMainDialog& window)
{
    Names names;
    for (size_t i = 0; i < window.Photos().Count(); i++)
        names.push_back(window.Photos().Entry(i)->displayName);
    return names;
}

QPoint ItemCentre(CPhotoListCtrl* list, int row)
{
    return OnUi([&] {
        return list->viewport()->mapToGlobal(list->visualItemRect(list->item(row)).center());
    });
}

// Clicks a button of the message box on top once it shows a text holding `text`.
bool Answer(XTestInput& input, const QString& text, QMessageBox::StandardButton button)
{
    QPoint where;
    QPointer<QMessageBox> answered;
    if (!WaitFor([&] {
            auto* box = ActiveModal<QMessageBox>();
            if (!box || !box->text().contains(text) || !box->button(button))
                return false;
            where = CentreOf(box->button(button));
            answered = box;
            return true;
        }))
        return false;
    input.Click(where);
    // The answer may bring the next message at once: what counts is that this one went.
    return WaitFor([&] { return !answered || !answered->isVisible(); });
}

// Adds photos through "Add Photo..." by typing their names into the photo dialog.
bool AddPhotos(XTestInput& input, CMainDialog& window, const Names& names)
{
    input.Click(OnUi([&] { return CentreOf(window.AddButton()); }));
    if (!WaitFor([] { return ActiveModal<CPhotoOpenDialog>() != nullptr; }))
        return false;
    std::string typed;
    for (const std::string& name : names)
        typed += "\"" + name + "\" ";
    return TypeFileName(input, typed) && WaitFor([&] {
        return !QApplication::activeModalWidget() && window.List()->count() == int(names.size());
    });
}

} // namespace

TEST(RealPointer, DropAfterTheLastUndoRedoAndNoMakingOverAPhoto)
{
    Bench bench("bv-real-x-edit");
    bench.SmallPhotos(4);
    const std::vector<uint8_t> photo2
        = bvtest::ReadFileBytes(bench.Path("photo2.bmp").toStdString());
    CMainDialog window;
    window.show();
    CPhotoListCtrl* list = window.List();
    const auto selected = [&] { return list->SelectedIndices(); };
    const std::string failure = Drive(window, [&](XTestInput& input) -> std::string {
        if (!AddPhotos(input, window, { "photo1.bmp", "photo2.bmp", "photo3.bmp", "photo4.bmp" }))
            return "the four photos weren't added";

        // The first photo dragged into the empty room after the last one goes to the end.
        const QPoint first = ItemCentre(list, 0);
        const QPoint after = OnUi([&] {
            const QRect last = list->visualItemRect(list->item(3));
            return list->viewport()->mapToGlobal(QPoint(last.center().x(), last.bottom() + 24));
        });
        input.MoveTo(first);
        input.Press();
        for (int dx = 4; dx <= 20; dx += 4)
            input.MoveTo(first + QPoint(dx, 0));
        if (!WaitFor([&] { return list->DragIndex() == 0; }))
            return "pressing and moving on a photo didn't start a drag";
        for (int step = 1; step <= 8; step++)
            input.MoveTo(first + (after - first) * step / 8);
        input.Release();
        const Names atEnd { "photo2.bmp", "photo3.bmp", "photo4.bmp", "photo1.bmp" };
        if (!WaitFor([&] { return Order(window) == atEnd; }))
            return "a drop after the last photo didn't move it to the end";

        // Delete, then Ctrl+Z: the photo is back at its place, selected; Ctrl+Shift+Z
        // removes it again.
        input.Click(ItemCentre(list, 1));
        if (!WaitFor([&] { return selected() == std::vector<size_t> { 1 }; }))
            return "a click didn't select the second photo";
        input.Tap(XTestInput::Key::Delete);
        const Names removed { "photo2.bmp", "photo4.bmp", "photo1.bmp" };
        if (!WaitFor([&] { return Order(window) == removed; }))
            return "Delete didn't remove the photo";
        input.TapControl('z');
        if (!WaitFor(
                [&] { return Order(window) == atEnd && selected() == std::vector<size_t> { 1 }; }))
            return "Ctrl+Z didn't bring the removed photo back at its place";
        input.TapControl('z', true);
        if (!WaitFor([&] { return Order(window) == removed; }))
            return "Ctrl+Shift+Z didn't remove it again";
        input.TapControl('z');
        if (!WaitFor([&] { return Order(window) == atEnd; }))
            return "a second Ctrl+Z didn't bring it back";

        // The Make dialog's "..." with a photo of the list: the save dialog's own "replace?"
        // is answered Yes, as a person thinking of a GIF would, and the program refuses.
        input.Tap(XTestInput::Key::Return);
        if (!WaitFor([] { return ActiveModal<CMakeGifDialog>() != nullptr; }))
            return "Enter didn't open the Make dialog";
        input.Click(OnUi([] { return CentreOf(ActiveModal<CMakeGifDialog>()->BrowseButton()); }));
        if (!WaitFor([] { return ActiveModal<QFileDialog>() != nullptr; }))
            return "\"...\" didn't open the save dialog";
        if (!TypeFileName(input, bench.Path("photo2.bmp").toStdString()))
            return "the save dialog didn't take the typed name";
        if (!Answer(input, "already exists", QMessageBox::Yes))
            return "the save dialog didn't ask before replacing";
        if (!Answer(input, "is one of the photos in the list", QMessageBox::Ok))
            return "a photo of the list was taken as the output file";
        if (!WaitFor([&] {
                auto* make = ActiveModal<CMakeGifDialog>();
                return make && !make->PathEdit()->text().endsWith("photo2.bmp");
            }))
            return "the Make dialog took the photo's path";
        input.Tap(XTestInput::Key::Escape);
        if (!WaitFor([] { return QApplication::activeModalWidget() == nullptr; }))
            return "Esc didn't close the Make dialog";
        return std::string();
    });
    ASSERT_EQ(failure, "");
    EXPECT_EQ(bvtest::ReadFileBytes(bench.Path("photo2.bmp").toStdString()), photo2);
    EXPECT_FALSE(bench.ViewerOpened());
}

TEST(RealPointer, TheListComesBackAfterARestartAndVanishedPhotosAreToldOnce)
{
    Bench bench("bv-real-x-restart");
    bench.SmallPhotos(4);
    {
        CMainDialog window;
        window.RestoreWork(); // nothing kept yet
        window.show();
        const std::string failure = Drive(window, [&](XTestInput& input) -> std::string {
            if (!AddPhotos(
                    input, window, { "photo1.bmp", "photo2.bmp", "photo3.bmp", "photo4.bmp" }))
                return "the four photos weren't added";
            input.Click(ItemCentre(window.List(), 0));
            if (!WaitFor(
                    [&] { return window.List()->SelectedIndices() == std::vector<size_t> { 0 }; }))
                return "a click didn't select the first photo";
            input.Tap(XTestInput::Key::Right, true);
            if (!WaitFor([&] {
                    return Order(window)
                        == Names { "photo2.bmp", "photo1.bmp", "photo3.bmp", "photo4.bmp" };
                }))
                return "Alt+Right didn't move the first photo";
            // The work is kept soon after a change, before the window closes.
            if (!WaitFor([] {
                    ProjectSettings settings;
                    SavedWork kept;
                    return LoadWork(settings, kept) && kept.photos.size() == 4
                        && kept.photos[0].ends_with("/photo2.bmp");
                }))
                return "the moved photo wasn't kept before closing";
            // Closing asks nothing: the work is kept.
            input.Tap(XTestInput::Key::Escape);
            if (!WaitFor([&] { return !window.isVisible(); }))
                return "Esc didn't close the window";
            return std::string();
        });
        ASSERT_EQ(failure, "");
    }
    ASSERT_TRUE(QFile::remove(bench.Path("photo3.bmp")));
    TheProjectSettings() = ProjectSettings();

    CMainDialog window;
    window.RestoreWork();
    window.show();
    QString details;
    const std::string failure = Drive(window, [&](XTestInput& input) -> std::string {
        if (!WaitFor([&] {
                auto* box = ActiveModal<QMessageBox>();
                if (box)
                    details = box->detailedText();
                return box != nullptr;
            }))
            return "the photo that vanished wasn't told";
        if (!Answer(input, "could not be added again", QMessageBox::Ok))
            return "the message about the vanished photo wasn't as expected";
        if (!WaitFor([&] {
                return Order(window) == Names { "photo2.bmp", "photo1.bmp", "photo4.bmp" };
            }))
            return "the list didn't come back in its order";
        // One message for all, not one box each.
        QTest::qWait(300);
        if (OnUi([] { return QApplication::activeModalWidget() != nullptr; }))
            return "a second message followed";
        return std::string();
    });
    ASSERT_EQ(failure, "");
    EXPECT_TRUE(details.contains("photo3.bmp")) << details.toStdString();
}

TEST(RealPointer, ALongListAtALargeCanvasAndAMakingCancelledMidway)
{
    Bench bench("bv-real-x-long");
    // 60 photos of noise, so that their frames take a while to write.
    std::mt19937 random(7);
    QStringList paths;
    for (int i = 0; i < 60; i++) {
        QImage photo(800, 600, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); y++) {
            auto* line = reinterpret_cast<uint32_t*>(photo.scanLine(y));
            for (int x = 0; x < photo.width(); x++)
                line[x] = random() | 0xFF000000u;
        }
        paths.append(bench.Path(QString::asprintf("photo-%02d.jpg", i + 1)));
        ASSERT_TRUE(photo.save(paths.back(), "JPG", 80));
    }
    ProjectSettings& settings = TheProjectSettings();
    settings.overallWidth = settings.overallHeight = settings.photoSize = 800;
    settings.optimizeSize = true;
    settings.ditherColours = true;
    const QString output = bench.Path("made.gif");
    settings.outputPath = output.toStdString();
    std::vector<uint8_t> old { 'G', 'I', 'F', '8', '9', 'a' };
    old.resize(5000, 0x5A);
    bvtest::WriteFileBytes(settings.outputPath, old);

    CMainDialog window;
    window.Photos().ResetPhotoList(800, 800);
    window.List()->ResetView();
    window.resize(1100, 860);
    window.show();
    CPhotoListCtrl* list = window.List();
    const std::string failure = Drive(window, [&](XTestInput& input) -> std::string {
        OnUi([&] {
            QTimer::singleShot(0, &window, [&] { window.AddPhotoPaths(paths); });
            return true;
        });
        if (!WaitFor(
                [&] {
                    return list->count() == 60
                        && window.StatusLine()->text().startsWith("60 photos");
                },
                180))
            return "the 60 photos weren't added";
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // painted
        Screenshot("long-list");
        const int whole = OnUi([&] {
            int count = 0;
            for (int row = 0; row < list->count(); row++) {
                const QRect place = list->visualItemRect(list->item(row));
                const QString name
                    = QString::fromStdString(window.Photos().Entry(size_t(row))->displayName);
                if (list->viewport()->rect().contains(place)
                    && list->item(row)->text().startsWith(name + "\n"))
                    count++;
            }
            return count;
        });
        if (whole < 8)
            return "only " + std::to_string(whole) + " whole thumbnails with their names show";

        input.Tap(XTestInput::Key::Return);
        if (!WaitFor([] { return ActiveModal<CMakeGifDialog>() != nullptr; }))
            return "Enter didn't open the Make dialog";
        input.Click(OnUi([] { return CentreOf(ActiveModal<CMakeGifDialog>()->OkButton()); }));
        if (!WaitFor(
                [&] { return window.MakingProgress() && window.MakingProgress()->value() >= 2; },
                120))
            return "the progress box didn't count the frames written";
        if (OnUi([&] { return window.MakeButton()->isEnabled() || list->IsEditable(); }))
            return "the list could be changed while it was being written";
        Screenshot("making");

        // Esc asks before it stops anything; No goes on writing.
        input.Tap(XTestInput::Key::Escape);
        if (!Answer(input, "Stop writing it?", QMessageBox::No))
            return "Esc during the making didn't ask";
        if (!OnUi([&] { return window.IsMaking(); }))
            return "the making ended before it could be cancelled";
        const QPoint cancel
            = OnUi([&] { return CentreOf(window.MakingProgress()->findChild<QPushButton*>()); });
        input.Click(cancel);
        if (!WaitFor([&] { return !window.IsMaking(); }))
            return "Cancel didn't stop the making";
        if (OnUi([&] { return window.StatusLine()->text().contains("GIF written"); }))
            return "the making ended before Cancel reached it";
        return std::string();
    });
    ASSERT_EQ(failure, "");
    EXPECT_EQ(bvtest::ReadFileBytes(settings.outputPath), old);
    EXPECT_EQ(bvtest::ListFiles(bench.folder.toStdString()).size(), 63u); // no half-made file
    EXPECT_FALSE(bench.ViewerOpened());
}

// The most memory the process has held since the mark was reset, in bytes.
uint64_t PeakResident()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toULongLong() << 10;
    return 0;
}

TEST(RealPointer, ALongListStaysSmallAndMakesTheFileTheToolMakes)
{
    // BRIMVALE_LONG_LIST sets the number of photos (a long run: 480).
    const char* asked = std::getenv("BRIMVALE_LONG_LIST");
    const int count = asked ? std::clamp(std::atoi(asked), 2, 2000) : 16;
    Bench bench("bv-real-x-many");
    Names names;
    QStringList paths;
    for (int i = 0; i < count; i++) {
        QImage photo(800, 600, QImage::Format_RGB32);
        photo.fill(QColor::fromHsv(i * 7 % 360, 120, 200));
        QPainter painter(&photo);
        QLinearGradient gradient(0, 0, 800, 600);
        gradient.setColorAt(0, QColor::fromHsv(i * 13 % 360, 200, 250));
        gradient.setColorAt(1, QColor::fromHsv(i * 29 % 360, 180, 60));
        painter.setBrush(gradient);
        painter.drawEllipse(QPoint(100 + i * 37 % 600, 300), 250, 200);
        painter.end();
        names.push_back(QString::asprintf("p%04d.jpg", i).toStdString());
        paths.append(bench.Path(QString::fromStdString(names.back())));
        ASSERT_TRUE(photo.save(paths.back(), "JPG", 85));
    }
    ProjectSettings& settings = TheProjectSettings();
    settings.overallWidth = 800;
    settings.overallHeight = 600;
    settings.photoSize = 600;
    const QString output = bench.Path("made.gif");
    settings.outputPath = output.toStdString();

    CMainDialog window;
    window.Photos().ResetPhotoList(800, 600);
    window.List()->ResetView();
    window.show();
    // The mark of the process's peak memory starts again here.
    QFile marks("/proc/self/clear_refs");
    ASSERT_TRUE(marks.open(QIODevice::WriteOnly) && marks.write("5") == 1);
    marks.close();
    const std::string failure = Drive(window, [&](XTestInput& input) -> std::string {
        input.Click(OnUi([&] { return CentreOf(window.AddButton()); }));
        if (!WaitFor([] { return ActiveModal<CPhotoOpenDialog>() != nullptr; }))
            return "Add Photo... didn't open the photo dialog";
        std::string typed;
        for (const std::string& name : names)
            typed += "\"" + name + "\" ";
        if (!TypeFileName(input, typed))
            return "the photo dialog didn't take the names";
        if (!WaitFor([&] { return window.List()->count() == count; }, 900))
            return "the photos weren't added";
        input.Tap(XTestInput::Key::Return);
        if (!WaitFor([] { return ActiveModal<CMakeGifDialog>() != nullptr; }))
            return "Enter didn't open the Make dialog";
        input.Click(OnUi([] { return CentreOf(ActiveModal<CMakeGifDialog>()->OkButton()); }));
        if (!WaitFor([&] { return window.StatusLine()->text().contains("GIF written"); }, 600))
            return "the GIF wasn't written";
        return std::string();
    });
    ASSERT_EQ(failure, "");
    const uint64_t peak = PeakResident();
    std::printf("%d photos at 800 x 600: peak resident %llu MB\n", count,
        static_cast<unsigned long long>(peak >> 20));
    EXPECT_LE(peak, uint64_t(300) << 20);

    // The command-line tool makes the same file from the same photos.
    QStringList arguments { "make", "--quiet", "--width", "800", "--height", "600", "--photo-size",
        "600", "-o", bench.Path("tool.gif") };
    arguments += paths;
    QProcess tool;
    tool.start(QStringLiteral(BRIMVALE_CLI), arguments);
    ASSERT_TRUE(tool.waitForFinished(600000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    EXPECT_EQ(bvtest::ReadFileBytes(output.toStdString()),
        bvtest::ReadFileBytes(bench.Path("tool.gif").toStdString()));
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
