// Who owns the buffers: Copy, CopyInfo, Transfer, ShareBuffers, layers and the virtual
// destructor. Under the sanitizer build a double free or a leak here fails the run.
#include "image/core/CxImage.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

// A 4 x 3 8-bit image with a palette, distinct pixels, an alpha plane and a selection.
void Fill(CxImage& image)
{
    ASSERT_NE(image.Create(4, 3, 8, CXIMAGE_FORMAT_BMP), nullptr);
    for (int i = 0; i < 256; i++)
        image.SetPaletteColor(uint32_t(i), uint8_t(i), uint8_t(255 - i), uint8_t(i / 2));
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++)
            image.SetPixelIndex(x, y, uint8_t(10 * y + x));
    ASSERT_TRUE(image.CreateAlpha());
    image.SetAlpha(1, 2, 77);
    image.SetTransparentIndex(12);
    image.SetFrameDelay(33);
    image.SetOffset(5, 6);
}

// Gives tests a way to attach layers and selections, as codec classes may.
class LayeredImage : public CxImage {
public:
    using CxImage::CxImage;
    static inline int destroyed = 0;
    ~LayeredImage() override { destroyed++; }

    void AddLayers(int count)
    {
        layers = new CxImage*[size_t(count)];
        for (int i = 0; i < count; i++)
            layers[i] = new LayeredImage(2, 2, 8);
        info.numLayers = count;
    }
    void MakeSelection()
    {
        const size_t bytes = size_t(GetWidth()) * size_t(GetHeight());
        selection = static_cast<uint8_t*>(std::malloc(bytes));
        std::memset(selection, 0, bytes);
        selection[0] = 1;
        info.selectionBox = RECT { 0, 1, 1, 0 };
    }
    CxImage* SharedFrom() const { return info.sharedFrom; }
    CxImage** Layers() const { return layers; }
};

} // namespace

TEST(ImageCopy, CopiesPixelsPaletteRecordAndPlanesIntoBuffersOfItsOwn)
{
    LayeredImage source;
    Fill(source);
    source.MakeSelection();

    CxImage copy(source);
    ASSERT_TRUE(copy.IsValid());
    EXPECT_NE(copy.GetDIB(), source.GetDIB());
    EXPECT_EQ(std::memcmp(copy.GetDIB(), source.GetDIB(), source.GetSize()), 0);
    EXPECT_EQ(copy.GetBits(0), static_cast<uint8_t*>(copy.GetDIB()) + 40 + 1024);
    EXPECT_EQ(copy.GetPixelIndex(3, 2), 23);
    EXPECT_EQ(copy.GetType(), uint32_t(CXIMAGE_FORMAT_BMP));
    EXPECT_EQ(copy.GetTransparentIndex(), 12);
    EXPECT_EQ(copy.GetFrameDelay(), 33u);
    ASSERT_TRUE(copy.HasAlpha());
    EXPECT_NE(copy.GetAlphaPlane(), source.GetAlphaPlane());
    EXPECT_EQ(copy.GetAlpha(1, 2), 77);
    ASSERT_NE(copy.GetSelectionMask(), nullptr);
    EXPECT_NE(copy.GetSelectionMask(), source.GetSelectionMask());
    EXPECT_TRUE(copy.IsSelected(0, 0));
    EXPECT_FALSE(copy.IsSelected(1, 0));

    // Independent buffers: changing the copy leaves the source alone.
    copy.SetPixelIndex(0, 0, 200);
    copy.SetAlpha(1, 2, 5);
    EXPECT_EQ(source.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(source.GetAlpha(1, 2), 77);
}

TEST(ImageCopy, WithoutPixelsOrPlanesStillTakesThePalette)
{
    CxImage source;
    Fill(source);
    CxImage copy(source, false, false, false);
    ASSERT_TRUE(copy.IsValid());
    EXPECT_EQ(copy.GetWidth(), 4);
    EXPECT_EQ(copy.GetPaletteColor(200).rgbRed, 200);
    EXPECT_EQ(copy.GetPaletteColor(200).rgbGreen, 55);
    EXPECT_FALSE(copy.HasAlpha());
    EXPECT_EQ(copy.GetSelectionMask(), nullptr);
}

TEST(ImageCopy, ReplacesWhatTheImageHeldBefore)
{
    CxImage source;
    Fill(source);
    CxImage target(50, 50, 24);
    target.CreateAlpha();
    target.Copy(source, true, true, false);
    EXPECT_EQ(target.GetWidth(), 4);
    EXPECT_EQ(target.GetBpp(), 8);
    EXPECT_FALSE(target.HasAlpha());
    EXPECT_EQ(target.GetPixelIndex(2, 1), 12);
}

TEST(ImageCopyInfo, OnlyAnEmptyImageTakesTheRecord)
{
    CxImage source;
    Fill(source);
    CxImage empty;
    empty.CopyInfo(source);
    EXPECT_EQ(empty.GetTransparentIndex(), 12);
    EXPECT_EQ(empty.GetFrameDelay(), 33u);
    EXPECT_FALSE(empty.IsValid());

    CxImage full(2, 2, 8);
    full.CopyInfo(source);
    EXPECT_EQ(full.GetTransparentIndex(), -1);
    EXPECT_EQ(full.GetFrameDelay(), 0u);
}

TEST(ImageTransfer, MovesEveryBufferAndLeavesTheSourceEmpty)
{
    LayeredImage source;
    Fill(source);
    source.MakeSelection();
    source.AddLayers(2);
    void* const block = source.GetDIB();
    uint8_t* const plane = source.GetAlphaPlane();
    uint8_t* const mask = source.GetSelectionMask();
    CxImage** const layers = source.Layers();

    LayeredImage target(8, 8, 24);
    ASSERT_TRUE(target.Transfer(source));
    EXPECT_EQ(target.GetDIB(), block);
    EXPECT_EQ(target.GetAlphaPlane(), plane);
    EXPECT_EQ(target.GetSelectionMask(), mask);
    EXPECT_EQ(target.Layers(), layers);
    EXPECT_EQ(target.GetWidth(), 4);
    EXPECT_EQ(target.GetPixelIndex(3, 2), 23);
    EXPECT_EQ(target.GetTransparentIndex(), 12);

    EXPECT_FALSE(source.IsValid());
    EXPECT_EQ(source.GetWidth(), 0);
    EXPECT_EQ(source.GetHeight(), 0);
    EXPECT_EQ(source.GetBits(0), nullptr);
    EXPECT_FALSE(source.HasAlpha());
    EXPECT_EQ(source.GetSelectionMask(), nullptr);
    EXPECT_EQ(source.Layers(), nullptr);

    // The emptied source can be used again.
    EXPECT_NE(source.Create(2, 2, 1), nullptr);
}

TEST(ImageTransfer, ABorrowingImageRefusesAndKeepsWhatItShows)
{
    CxImage lender;
    Fill(lender);
    CxImage borrower;
    borrower.ShareBuffers(&lender);
    CxImage other(3, 3, 24);
    void* const otherBlock = other.GetDIB();

    EXPECT_FALSE(borrower.Transfer(other));
    EXPECT_EQ(borrower.GetDIB(), lender.GetDIB());
    EXPECT_EQ(other.GetDIB(), otherBlock) << "the source keeps its buffers when refused";
}

TEST(ImageShareBuffers, ShowsTheLendersBuffersAndRecord)
{
    LayeredImage lender;
    Fill(lender);
    lender.MakeSelection();
    LayeredImage borrower;
    borrower.ShareBuffers(&lender);

    EXPECT_EQ(borrower.SharedFrom(), &lender);
    EXPECT_EQ(borrower.GetDIB(), lender.GetDIB());
    EXPECT_EQ(borrower.GetBits(0), lender.GetBits(0));
    EXPECT_EQ(borrower.GetAlphaPlane(), lender.GetAlphaPlane());
    EXPECT_EQ(borrower.GetSelectionMask(), lender.GetSelectionMask());
    EXPECT_EQ(borrower.GetTransparentIndex(), 12);
    EXPECT_EQ(borrower.GetPixelIndex(3, 2), 23);

    // Writes go through to the lender: they are the same pixels.
    borrower.SetPixelIndex(0, 0, 99);
    EXPECT_EQ(lender.GetPixelIndex(0, 0), 99);
}

TEST(ImageShareBuffers, ABorrowingImageNeverFrees)
{
    CxImage lender;
    Fill(lender);
    void* const block = lender.GetDIB();
    {
        auto* borrower = new CxImage;
        borrower->ShareBuffers(&lender);
        EXPECT_FALSE(borrower->Destroy());
        EXPECT_TRUE(borrower->IsValid());
        EXPECT_EQ(borrower->GetDIB(), block);

        borrower->SetLastError("kept");
        EXPECT_EQ(borrower->Create(2, 2, 24), nullptr);
        EXPECT_STREQ(borrower->GetLastError(), "kept") << "Create fails without a text";
        EXPECT_EQ(borrower->GetDIB(), block);

        CxImage other;
        Fill(other);
        borrower->Copy(other);
        EXPECT_EQ(borrower->GetDIB(), block) << "Copy cannot replace borrowed buffers";
        EXPECT_EQ(borrower->GetBits(0), lender.GetBits(0));
        EXPECT_EQ(borrower->GetPixelIndex(3, 2), 23);
        delete borrower; // must not free the lender's buffers
    }
    EXPECT_EQ(lender.GetDIB(), block);
    EXPECT_EQ(lender.GetPixelIndex(3, 2), 23);
    EXPECT_EQ(lender.GetAlpha(1, 2), 77);
}

TEST(ImageShareBuffers, PlaneOperationsOnABorrowerNeitherFreeNorAllocate)
{
    LayeredImage lender;
    Fill(lender);
    lender.MakeSelection();
    uint8_t* const plane = lender.GetAlphaPlane();
    uint8_t* const mask = lender.GetSelectionMask();

    {
        CxImage borrower;
        borrower.ShareBuffers(&lender);
        // Flip and mirror rework the shared plane in place.
        ASSERT_TRUE(borrower.FlipAlpha());
        EXPECT_EQ(borrower.GetAlphaPlane(), plane);
        EXPECT_EQ(lender.GetAlpha(1, 0), 77);
        ASSERT_TRUE(borrower.MirrorAlpha());
        EXPECT_EQ(borrower.GetAlphaPlane(), plane);
        EXPECT_EQ(lender.GetAlpha(2, 0), 77);

        borrower.DeleteAlpha();
        EXPECT_FALSE(borrower.HasAlpha());
        EXPECT_EQ(lender.GetAlphaPlane(), plane) << "the lender keeps its plane";

        // A plane made now would belong to nobody.
        EXPECT_FALSE(borrower.CreateAlpha());
        EXPECT_FALSE(borrower.HasAlpha());
        EXPECT_FALSE(borrower.CopyAlphaFrom(lender));
        EXPECT_FALSE(borrower.HasAlpha());

        EXPECT_TRUE(borrower.ClearSelection());
        EXPECT_EQ(borrower.GetSelectionMask(), nullptr);
        EXPECT_EQ(lender.GetSelectionMask(), mask);
        EXPECT_FALSE(borrower.CopySelectionFrom(lender));
    }
    // The lender's planes are alive and still its own (freed by its destructor).
    EXPECT_EQ(lender.GetAlpha(2, 0), 77);
    EXPECT_TRUE(lender.IsSelected(0, 0));
    EXPECT_FALSE(lender.IsSelected(1, 0));
}

TEST(ImageShareBuffers, AnOwnerThatStartsBorrowingFreesItsOwnBuffersFirst)
{
    CxImage lender;
    Fill(lender);
    CxImage owner(100, 100, 24);
    owner.CreateAlpha();
    owner.ShareBuffers(&lender); // the leak checker fails the run if the old block leaks
    EXPECT_EQ(owner.GetDIB(), lender.GetDIB());
    EXPECT_EQ(owner.GetWidth(), 4);
}

TEST(ImageShareBuffers, ANullSourceDoesNothing)
{
    CxImage image(3, 3, 8);
    void* const block = image.GetDIB();
    image.ShareBuffers(nullptr);
    EXPECT_EQ(image.GetDIB(), block);
    EXPECT_TRUE(image.Destroy());
}

TEST(ImageDestroy, FreesEverythingAndDeletesLayersThroughTheirOwnDestructors)
{
    LayeredImage::destroyed = 0;
    {
        LayeredImage image;
        Fill(image);
        image.MakeSelection();
        image.AddLayers(3);
        EXPECT_TRUE(image.Destroy());
        EXPECT_EQ(LayeredImage::destroyed, 3);
        EXPECT_FALSE(image.IsValid());
        EXPECT_FALSE(image.HasAlpha());
        EXPECT_EQ(image.GetSelectionMask(), nullptr);
        EXPECT_EQ(image.Layers(), nullptr);
        EXPECT_TRUE(image.Destroy()) << "destroying an empty image is harmless";
    }
    EXPECT_EQ(LayeredImage::destroyed, 4);

    // Deleting through a CxImage pointer runs the derived destructor.
    LayeredImage::destroyed = 0;
    CxImage* codec = new LayeredImage(2, 2, 8);
    delete codec;
    EXPECT_EQ(LayeredImage::destroyed, 1);
}
