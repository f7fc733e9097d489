// The program started as a file manager starts it, `brimvale c.png a.png b.png`, on the
// real X server: its window shows the three photos in the list, in the order "Add
// Photo..." gives them (a, b, c), as a person sees them on the screen.
#include "tests/support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QColor COLOURS[] = { QColor(230, 30, 30), QColor(30, 190, 60), QColor(30, 60, 230) };

// The centre of the pixels of each colour on the screen; null where fewer than a
// thumbnail's worth show it.
std::vector<QPointF> WhereTheColoursShow(const QImage& screen)
{
    std::vector<QPointF> sums(std::size(COLOURS));
    std::vector<int> counts(std::size(COLOURS));
    for (int y = 0; y < screen.height(); y++) {
        const QRgb* row = reinterpret_cast<const QRgb*>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); x++) {
            for (size_t i = 0; i < std::size(COLOURS); i++) {
                if (std::abs(qRed(row[x]) - COLOURS[i].red()) <= 8
                    && std::abs(qGreen(row[x]) - COLOURS[i].green()) <= 8
                    && std::abs(qBlue(row[x]) - COLOURS[i].blue()) <= 8) {
                    sums[i] += QPointF(x, y);
                    counts[i]++;
                }
            }
        }
    }
    for (size_t i = 0; i < sums.size(); i++)
        sums[i] = counts[i] >= 400 ? sums[i] / counts[i] : QPointF();
    return sums;
}

} // namespace

TEST(CommandLine, StartsWithTheNamedPhotosInTheList)
{
    const QString folder = QString::fromStdString(bvtest::MakeTempDir("bv-open-files"));
    QStringList photos;
    for (const char* name : { "c.png", "a.png", "b.png" }) {
        QImage photo(90, 70, QImage::Format_RGB888);
        photo.fill(COLOURS[name[0] - 'a']);
        photos.append(folder + "/" + name);
        ASSERT_TRUE(photo.save(photos.last(), "PNG"));
    }
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + "/config");
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(BRIMVALE_PROGRAM), photos);
    ASSERT_TRUE(program.waitForStarted());

    // Read once the window has settled: two grabs in a row show the same places.
    std::vector<QPointF> shown;
    const bool allShown = QTest::qWaitFor(
        [&] {
            const std::vector<QPointF> before = shown;
            shown = WhereTheColoursShow(
                QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
                    QImage::Format_RGB32));
            return shown == before
                && std::none_of(shown.begin(), shown.end(), [](QPointF p) { return p.isNull(); });
        },
        30000);
    program.terminate();
    program.waitForFinished();
    ASSERT_TRUE(allShown) << "the three photos didn't all show within 30 s";
    // One row, left to right: a, b, c.
    EXPECT_LT(shown[0].x(), shown[1].x());
    EXPECT_LT(shown[1].x(), shown[2].x());
    EXPECT_NEAR(shown[0].y(), shown[2].y(), 4);
}
