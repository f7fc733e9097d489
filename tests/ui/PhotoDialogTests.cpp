// The photo open dialog's preview panel, on Qt's own file dialog.
#include "tests/support/TestSupport.h"
#include "ui/CPhotoOpenDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A 60 x 40 24-bit BMP in a temporary folder.
QString MakeBmp(const QString& folder, const QString& name, int width, int height)
{
    const QString path = folder + "/" + name;
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(QColor(200, 30, 40));
    image.save(path, "BMP");
    return path;
}

void NameFile(CPhotoOpenDialog& dialog, const QString& text)
{
    auto* nameEdit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(nameEdit, nullptr);
    nameEdit->setText(text);
    QApplication::processEvents();
}

} // namespace

TEST(PhotoOpenDialog, PreviewShowsSizeOnlyWhileChecked)
{
    const QString folder = QString::fromStdString(bvtest::MakeTempDir("bv-photo-dialog"));
    MakeBmp(folder, "wide.bmp", 60, 40);
    MakeBmp(folder, "big.bmp", 600, 400);
    CPhotoOpenDialog::SetPreviewEnabled(false);

    CPhotoOpenDialog dialog(nullptr, folder);
    dialog.show();
    QApplication::processEvents();
    EXPECT_FALSE(dialog.PreviewCheck()->isChecked());

    // With "Preview" off, naming a file changes nothing.
    NameFile(dialog, "wide.bmp");
    EXPECT_FALSE(dialog.Preview()->HasPicture());
    EXPECT_TRUE(dialog.WidthText()->text().isEmpty());

    // Switching it on previews the file named now.
    QTest::mouseClick(dialog.PreviewCheck(), Qt::LeftButton);
    EXPECT_TRUE(CPhotoOpenDialog::PreviewEnabled());
    EXPECT_EQ(dialog.WidthText()->text(), "60");
    EXPECT_EQ(dialog.HeightText()->text(), "40");
    // Smaller than the area: shown at its own size, centred.
    const QRect shown = dialog.Preview()->PictureRect();
    EXPECT_EQ(shown.size(), QSize(60, 40));
    EXPECT_EQ(shown.center().x() / 4, dialog.Preview()->contentsRect().center().x() / 4);

    // Larger than the area: reduced to fit, keeping its proportions.
    NameFile(dialog, "big.bmp");
    EXPECT_EQ(dialog.WidthText()->text(), "600");
    const QRect reduced = dialog.Preview()->PictureRect();
    EXPECT_LE(reduced.width(), dialog.Preview()->contentsRect().width());
    EXPECT_NEAR(double(reduced.width()) / reduced.height(), 1.5, 0.05);

    // Several names: the first one in the name box is previewed.
    NameFile(dialog, "\"wide.bmp\" \"big.bmp\"");
    EXPECT_EQ(dialog.WidthText()->text(), "60");
    EXPECT_EQ(dialog.GetCurrentSelectionPath(), folder + "/wide.bmp");

    // Switching it off clears picture and texts at once; the state lasts for the run.
    QTest::mouseClick(dialog.PreviewCheck(), Qt::LeftButton);
    EXPECT_FALSE(dialog.Preview()->HasPicture());
    EXPECT_TRUE(dialog.HeightText()->text().isEmpty());
    EXPECT_FALSE(CPhotoOpenDialog::PreviewEnabled());
}

TEST(PhotoOpenDialog, UnreadableAndOversizedFilesShowNoPicture)
{
    const QString folder = QString::fromStdString(bvtest::MakeTempDir("bv-photo-dialog"));
    QFile junk(folder + "/junk.bmp");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture at all");
    junk.close();
    // Over 2 MiB: never previewed, however readable.
    MakeBmp(folder, "huge.bmp", 1000, 800);
    ASSERT_GT(QFileInfo(folder + "/huge.bmp").size(), 0x200000);

    CPhotoOpenDialog::SetPreviewEnabled(true);
    CPhotoOpenDialog dialog(nullptr, folder);
    dialog.show();
    for (const char* name : { "junk.bmp", "huge.bmp" }) {
        NameFile(dialog, name);
        EXPECT_FALSE(dialog.Preview()->HasPicture()) << name;
        EXPECT_TRUE(dialog.WidthText()->text().isEmpty()) << name;
    }
    CPhotoOpenDialog::SetPreviewEnabled(false);
}

TEST(PhotoOpenDialog, SortsCaseInsensitivelyAndKeepsTheFolder)
{
    const QStringList sorted = SortPhotoPaths({ "/p/b.jpg", "/p/A.jpg", "/p/c.png", "/p/a2.jpg" });
    EXPECT_EQ(sorted, QStringList({ "/p/A.jpg", "/p/a2.jpg", "/p/b.jpg", "/p/c.png" }));
}
