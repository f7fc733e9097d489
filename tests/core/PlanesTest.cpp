// The alpha plane and the selection mask: one byte per pixel, rows of exactly width bytes
// in stored-row order, whatever the row stride of the pixels.
#include "image/core/CxImage.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

// An image whose selection mask can be set up directly, as a codec could.
class SelectableImage : public CxImage {
public:
    using CxImage::CxImage;
    void Select(int32_t x, int32_t y)
    {
        const size_t bytes = size_t(GetWidth()) * size_t(GetHeight());
        if (!selection) {
            selection = static_cast<uint8_t*>(std::malloc(bytes));
            std::memset(selection, 0, bytes);
        }
        selection[size_t(y) * GetWidth() + x] = 255;
        info.selectionBox = RECT { x, y + 1, x + 1, y };
    }
    RECT Box() const { return info.selectionBox; }
};

} // namespace

TEST(AlphaPlane, StartsOpaqueAndKeepsItsValuesWhenCreatedAgain)
{
    CxImage image(3, 2, 24);
    EXPECT_FALSE(image.HasAlpha());
    EXPECT_EQ(image.GetAlpha(0, 0), 0) << "no plane reads as 0";
    ASSERT_TRUE(image.CreateAlpha());
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(image.GetAlphaPlane()[i], 255);
    image.SetAlpha(2, 1, 9);
    uint8_t* const plane = image.GetAlphaPlane();
    EXPECT_TRUE(image.CreateAlpha());
    EXPECT_EQ(image.GetAlphaPlane(), plane);
    EXPECT_EQ(image.GetAlpha(2, 1), 9);

    image.DeleteAlpha();
    EXPECT_FALSE(image.HasAlpha());
    image.DeleteAlpha(); // twice is harmless

    CxImage empty;
    EXPECT_FALSE(empty.CreateAlpha()) << "no pixels, no plane";
}

TEST(AlphaPlane, IsAddressedByWidthNotByRowStride)
{
    CxImage image(5, 3, 1); // row stride 4, plane rows of 5
    ASSERT_TRUE(image.CreateAlpha());
    image.SetAlpha(4, 1, 11);
    image.SetAlpha(0, 2, 12);
    EXPECT_EQ(image.GetAlphaPlane()[1 * 5 + 4], 11);
    EXPECT_EQ(image.GetAlphaPlane()[2 * 5 + 0], 12);
    EXPECT_EQ(image.GetAlphaAddress(4, 1), image.GetAlphaPlane() + 9);
    EXPECT_EQ(image.GetAlphaUnchecked(0, 2), 12);
}

TEST(AlphaPlane, OutsideTheImageNothingIsReadOrWritten)
{
    CxImage image(2, 2, 24);
    ASSERT_TRUE(image.CreateAlpha());
    const int32_t outside[][2] = { { -1, 0 }, { 0, -1 }, { 2, 0 }, { 0, 2 }, { INT32_MAX, 1 } };
    for (const auto& p : outside) {
        image.SetAlpha(p[0], p[1], 1);
        EXPECT_EQ(image.GetAlpha(p[0], p[1]), 0);
        EXPECT_EQ(image.GetAlphaAddress(p[0], p[1]), nullptr);
    }
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(image.GetAlphaPlane()[i], 255);
}

TEST(AlphaPlane, FlipReversesRowsAndMirrorReversesColumns)
{
    CxImage image(3, 2, 8);
    ASSERT_TRUE(image.CreateAlpha());
    const uint8_t values[6] = { 1, 2, 3, 4, 5, 6 };
    std::memcpy(image.GetAlphaPlane(), values, 6);

    ASSERT_TRUE(image.FlipAlpha());
    const uint8_t flipped[6] = { 4, 5, 6, 1, 2, 3 };
    EXPECT_EQ(std::memcmp(image.GetAlphaPlane(), flipped, 6), 0);

    ASSERT_TRUE(image.MirrorAlpha());
    const uint8_t mirrored[6] = { 6, 5, 4, 3, 2, 1 };
    EXPECT_EQ(std::memcmp(image.GetAlphaPlane(), mirrored, 6), 0);

    image.DeleteAlpha();
    EXPECT_FALSE(image.FlipAlpha());
    EXPECT_FALSE(image.MirrorAlpha());
}

TEST(AlphaPlane, CopyAlphaFromNeedsTheSameSizeAndTakesTheGlobalOpacity)
{
    CxImage source(3, 2, 24);
    source.CreateAlpha();
    source.SetAlpha(1, 1, 50);
    source.SetGlobalOpacity(128);

    CxImage target(3, 2, 8);
    ASSERT_TRUE(target.CopyAlphaFrom(source));
    EXPECT_NE(target.GetAlphaPlane(), source.GetAlphaPlane());
    EXPECT_EQ(target.GetAlpha(1, 1), 50);
    EXPECT_EQ(target.GetGlobalOpacity(), 128);

    CxImage other(2, 3, 24);
    EXPECT_FALSE(other.CopyAlphaFrom(source)) << "sizes differ";
    EXPECT_FALSE(other.HasAlpha());
    CxImage plain(3, 2, 24);
    EXPECT_FALSE(target.CopyAlphaFrom(plain)) << "the source has no plane";
    EXPECT_EQ(target.GetAlpha(1, 1), 50);
}

TEST(Selection, ClearSelectionEmptiesTheBoxToAnInvertedFrame)
{
    SelectableImage image(10, 20, 8);
    image.Select(3, 4);
    EXPECT_TRUE(image.ClearSelection());
    EXPECT_EQ(image.GetSelectionMask(), nullptr);
    const RECT box = image.Box();
    EXPECT_EQ(box.left, 10);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, 0);
    EXPECT_EQ(box.bottom, 20);
}

TEST(Selection, WithoutAMaskEveryPixelInsideIsSelected)
{
    SelectableImage image(4, 3, 24);
    EXPECT_TRUE(image.IsSelected(0, 0));
    EXPECT_TRUE(image.IsSelected(3, 2));
    EXPECT_FALSE(image.IsSelected(4, 0));
    EXPECT_FALSE(image.IsSelected(0, -1));

    image.Select(3, 2);
    EXPECT_TRUE(image.IsSelected(3, 2));
    EXPECT_FALSE(image.IsSelected(0, 0));
    EXPECT_EQ(image.GetSelectionMask()[2 * 4 + 3], 255) << "rows of width bytes";
}

TEST(Selection, CopySelectionFromTakesTheMaskAndTheBox)
{
    SelectableImage source(4, 3, 24);
    source.Select(1, 2);
    SelectableImage target(4, 3, 8);
    ASSERT_TRUE(target.CopySelectionFrom(source));
    EXPECT_NE(target.GetSelectionMask(), source.GetSelectionMask());
    EXPECT_TRUE(target.IsSelected(1, 2));
    EXPECT_FALSE(target.IsSelected(0, 0));
    EXPECT_EQ(target.Box().left, 1);
    EXPECT_EQ(target.Box().top, 3);
    EXPECT_EQ(target.Box().right, 2);
    EXPECT_EQ(target.Box().bottom, 2);

    SelectableImage other(3, 4, 24);
    EXPECT_FALSE(other.CopySelectionFrom(source));
    SelectableImage plain(4, 3, 24);
    EXPECT_FALSE(target.CopySelectionFrom(plain));
}
