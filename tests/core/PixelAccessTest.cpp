// Palette and pixel access: addressing at 1, 4, 8 and 24 bits, reads outside the image,
// the nearest-colour search and its cache.
#include "image/core/CxImage.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace {

bool Same(RGBQUAD a, RGBQUAD b)
{
    return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed
        && a.rgbReserved == b.rgbReserved;
}

std::string Text(RGBQUAD c)
{
    return "b" + std::to_string(c.rgbBlue) + " g" + std::to_string(c.rgbGreen) + " r"
        + std::to_string(c.rgbRed) + " a" + std::to_string(c.rgbReserved);
}

#define EXPECT_QUAD(actual, b, g, r, a)                                                            \
    EXPECT_TRUE(Same((actual), RGBQUAD { b, g, r, a })) << Text(actual)

} // namespace

TEST(OneBitAddressing, LeftmostPixelIsTheMostSignificantBit)
{
    CxImage image(20, 2, 1);
    image.Clear(0);
    image.SetPixelIndex(9, 0, 3); // only the low bit counts
    const uint8_t* row = image.GetBits(0);
    EXPECT_EQ(row[0], 0x00);
    EXPECT_EQ(row[1], 0x40); // bit 6 of the second byte
    EXPECT_EQ(image.GetPixelIndex(9, 0), 1);
    EXPECT_EQ(image.GetPixelIndex(8, 0), 0);
    EXPECT_EQ(image.GetBits(1)[1], 0x00) << "row 1 untouched";

    image.Clear(1);
    image.SetPixelIndex(9, 0, 2); // low bit 0 clears the pixel
    EXPECT_EQ(row[1], 0xBF);
    EXPECT_EQ(image.GetPixelIndex(9, 0), 0);
    EXPECT_EQ(image.GetPixelIndex(10, 0), 1);

    for (int x = 0; x < 20; x++) {
        image.Clear(0);
        image.SetPixelIndex(x, 1, 1);
        const uint8_t* bits = image.GetBits(1);
        for (int b = 0; b < 3; b++)
            EXPECT_EQ(bits[b], b == x / 8 ? 0x80 >> (x % 8) : 0) << "x " << x << " byte " << b;
        EXPECT_EQ(image.GetPixelIndexUnchecked(x, 1), 1);
    }
}

TEST(FourBitAddressing, EvenPixelsUseTheHighNibble)
{
    CxImage image(5, 2, 4);
    image.Clear(0);
    image.SetPixelIndex(0, 0, 0x1F); // only the low nibble counts
    EXPECT_EQ(image.GetBits(0)[0], 0xF0);
    image.SetPixelIndex(1, 0, 0x03);
    EXPECT_EQ(image.GetBits(0)[0], 0xF3);
    image.SetPixelIndex(0, 0, 0x08);
    EXPECT_EQ(image.GetBits(0)[0], 0x83) << "the odd pixel's nibble is kept";
    image.SetPixelIndex(4, 1, 0x0C);
    EXPECT_EQ(image.GetBits(1)[2], 0xC0);
    EXPECT_EQ(image.GetPixelIndex(0, 0), 8);
    EXPECT_EQ(image.GetPixelIndex(1, 0), 3);
    EXPECT_EQ(image.GetPixelIndex(4, 1), 12);
    EXPECT_EQ(image.GetPixelIndex(3, 1), 0);
}

TEST(EightAndTwentyFourBitAddressing, RowsAreStoredBottomUp)
{
    CxImage indexed(3, 2, 8);
    indexed.SetPixelIndex(2, 1, 0xAB);
    EXPECT_EQ(indexed.GetBits(1)[2], 0xAB);

    CxImage rgb(3, 2, 24);
    rgb.Clear(0);
    rgb.SetPixelColor(2, 1, RGBQUAD { 1, 2, 3, 4 });
    const uint8_t* p = rgb.GetBits(1) + 6;
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[1], 2);
    EXPECT_EQ(p[2], 3);
    EXPECT_EQ(rgb.GetPixelAddress24(2, 1), p);
    EXPECT_EQ(indexed.GetPixelAddress24(0, 0), nullptr);
    EXPECT_QUAD(rgb.GetPixelColorUnchecked(2, 1), 1, 2, 3, 0);

    rgb.SetPixelColor(0, 0, RGB(10, 20, 30)); // packed 0x00BBGGRR
    EXPECT_QUAD(rgb.GetPixelColor(0, 0), 30, 20, 10, 0);
    EXPECT_EQ(rgb.GetPixelIndex(0, 0), 0) << "no palette, no index";
    rgb.SetPixelIndex(0, 0, 5);
    EXPECT_EQ(rgb.GetBits(0)[0], 30) << "SetPixelIndex does nothing without a palette";
}

TEST(PixelWrites, OutsideTheImageOrOnAnEmptyImageChangeNothing)
{
    CxImage image(2, 2, 8);
    image.Clear(7);
    const int32_t outside[][2]
        = { { -1, 0 }, { 0, -1 }, { 2, 0 }, { 0, 2 }, { INT32_MIN, 0 }, { 0, INT32_MAX } };
    for (const auto& p : outside) {
        image.SetPixelIndex(p[0], p[1], 1);
        image.SetPixelColor(p[0], p[1], RGBQUAD { 9, 9, 9, 9 });
    }
    for (uint32_t i = 0; i < image.GetHeader().biSizeImage; i++)
        EXPECT_EQ(image.GetBits(0)[i], 7);

    CxImage empty;
    empty.SetPixelIndex(0, 0, 1);
    empty.SetPixelColor(0, 0, RGBQUAD { 1, 1, 1, 1 });
    EXPECT_EQ(empty.GetPixelIndex(0, 0), 0);
}

TEST(PixelReadsOutside, IndexIsTheTransparentOneOrTheBottomLeftPixel)
{
    CxImage image(3, 3, 8);
    image.Clear(0);
    image.SetPixelIndex(0, 0, 42);
    EXPECT_EQ(image.GetPixelIndex(-1, 0), 42);
    EXPECT_EQ(image.GetPixelIndex(3, 3), 42);
    image.SetTransparentIndex(0x105);
    EXPECT_EQ(image.GetPixelIndex(-1, 0), 5) << "the low byte of the transparent index";
    EXPECT_EQ(image.GetPixelIndex(1, 1), 0) << "inside, the stored index";
}

TEST(PixelReadsOutside, ColourOfA24BitImageIsItsBottomLeftPixelWithAlpha)
{
    CxImage image(3, 2, 24);
    image.Clear(0);
    image.SetPixelColor(0, 0, RGBQUAD { 10, 20, 30, 0 });
    image.SetTransparentColor(RGBQUAD { 1, 2, 3, 0 });
    EXPECT_QUAD(image.GetPixelColor(-1, 0), 10, 20, 30, 0);
    EXPECT_QUAD(image.GetPixelColor(3, 0, false), 10, 20, 30, 0);

    ASSERT_TRUE(image.CreateAlpha());
    image.SetAlpha(0, 0, 99);
    EXPECT_QUAD(image.GetPixelColor(0, 5), 10, 20, 30, 99);
    EXPECT_QUAD(image.GetPixelColor(0, 5, false), 10, 20, 30, 99)
        << "outside, the bottom-left pixel is always read with its alpha";

    image.SetTransparentIndex(2);
    EXPECT_QUAD(image.GetPixelColor(-1, -1), 1, 2, 3, 0)
        << "a 24-bit image with a transparent index answers its transparent colour";
}

TEST(PixelReadsOutside, ColourOfAnIndexedImageIsTheTransparentEntry)
{
    CxImage image(2, 2, 4);
    image.Clear(0);
    image.SetPaletteColor(0, 1, 1, 1, 0);
    image.SetPaletteColor(6, 60, 61, 62, 63);
    image.SetTransparentIndex(6);
    EXPECT_QUAD(image.GetPixelColor(2, 0), 62, 61, 60, 63);
    image.SetTransparentIndex(-1);
    EXPECT_QUAD(image.GetPixelColor(2, 0), 1, 1, 1, 0);
}

TEST(PixelReadsOutside, AnEmptyImageAnswersItsTransparentColour)
{
    CxImage empty;
    empty.SetTransparentColor(RGBQUAD { 4, 5, 6, 0 });
    EXPECT_QUAD(empty.GetPixelColor(0, 0), 4, 5, 6, 0);
}

TEST(PixelReadsInside, ReservedByteComesFromTheAlphaPlaneOnlyWhenAsked)
{
    CxImage image(2, 2, 24);
    image.Clear(0x11);
    image.SetTransparentColor(RGBQUAD { 0, 0, 0, 0 });
    EXPECT_QUAD(image.GetPixelColor(1, 1), 0x11, 0x11, 0x11, 0);
    image.CreateAlpha();
    image.SetAlpha(1, 1, 0x80);
    EXPECT_QUAD(image.GetPixelColor(1, 1), 0x11, 0x11, 0x11, 0x80);
    EXPECT_QUAD(image.GetPixelColor(1, 1, false), 0x11, 0x11, 0x11, 0);
    EXPECT_QUAD(image.GetPixelColorUnchecked(1, 1), 0x11, 0x11, 0x11, 0x80);

    CxImage indexed(2, 2, 8);
    indexed.Clear(3);
    indexed.SetPaletteColor(3, 30, 31, 32, 33);
    EXPECT_QUAD(indexed.GetPixelColor(0, 1), 32, 31, 30, 33) << "palette reserved byte kept";
    indexed.CreateAlpha();
    indexed.SetAlpha(0, 1, 7);
    EXPECT_QUAD(indexed.GetPixelColor(0, 1), 32, 31, 30, 7);
    EXPECT_QUAD(indexed.GetPixelColorUnchecked(0, 1), 32, 31, 30, 33);
}

TEST(Palette, OnlyTheLowEightBitsOfAnIndexCount)
{
    CxImage full(1, 1, 8);
    full.SetPaletteColor(0, 9, 8, 7, 6);
    EXPECT_QUAD(full.GetPaletteColor(256), 7, 8, 9, 6);
    full.SetPaletteColor(0x101, 1, 2, 3);
    EXPECT_QUAD(full.GetPaletteColor(1), 3, 2, 1, 0);

    CxImage sixteen(1, 1, 4);
    sixteen.SetPaletteColor(16, 1, 1, 1); // ignored: beyond the palette
    EXPECT_QUAD(sixteen.GetPaletteColor(16), 0, 0, 0, 0);
    sixteen.SetPaletteColor(15, 5, 5, 5);
    EXPECT_QUAD(sixteen.GetPaletteColor(15), 5, 5, 5, 0);

    CxImage rgb(1, 1, 24);
    EXPECT_EQ(rgb.GetPalette(), nullptr);
    rgb.SetPaletteColor(0, 1, 1, 1);
    EXPECT_QUAD(rgb.GetPaletteColor(0), 0, 0, 0, 0);
}

TEST(Palette, TheThreeSetPaletteFormsCopyNoMoreThanThePaletteHolds)
{
    CxImage image(1, 1, 1);
    const RGBQUAD quads[4] = { { 1, 2, 3, 4 }, { 5, 6, 7, 8 }, { 9, 9, 9, 9 }, { 9, 9, 9, 9 } };
    image.SetPalette(quads, 4);
    EXPECT_QUAD(image.GetPaletteColor(1), 5, 6, 7, 8);

    const uint8_t triples[] = { 10, 20, 30, 40, 50, 60, 70, 80, 90 }; // red, green, blue
    image.SetPalette(triples, 3);
    EXPECT_QUAD(image.GetPaletteColor(0), 30, 20, 10, 4) << "reserved byte untouched";
    EXPECT_QUAD(image.GetPaletteColor(1), 60, 50, 40, 8);

    const uint8_t red[] = { 100, 101, 102 };
    const uint8_t green[] = { 110, 111, 112 };
    image.SetPalette(3, red, green, nullptr); // blue follows green
    EXPECT_QUAD(image.GetPaletteColor(1), 111, 111, 101, 8);
    image.SetPalette(2, red); // green and blue follow red
    EXPECT_QUAD(image.GetPaletteColor(0), 100, 100, 100, 4);

    CxImage big(1, 1, 8);
    big.SetPalette(quads, 1);
    EXPECT_QUAD(big.GetPaletteColor(0), 1, 2, 3, 4);
    EXPECT_QUAD(big.GetPaletteColor(1), 0, 0, 0, 0) << "count limits the copy";
}

TEST(Palette, GreyRampsAndPaletteAlpha)
{
    CxImage black(1, 1, 8);
    EXPECT_FALSE(black.IsGreyRamp()) << "an all-black palette is no ramp";
    black.MakeGreyPalette();
    EXPECT_TRUE(black.IsGreyRamp());
    EXPECT_FALSE(black.PaletteHasAlpha());
    black.SetPaletteColor(200, 200, 200, 200, 1);
    EXPECT_TRUE(black.IsGreyRamp()) << "reserved bytes are not compared";
    EXPECT_TRUE(black.PaletteHasAlpha());
    black.SetPaletteColor(200, 200, 201, 200);
    EXPECT_FALSE(black.IsGreyRamp());

    CxImage sixteen(1, 1, 4);
    sixteen.MakeGreyPalette();
    for (uint32_t i = 0; i < 16; i++)
        EXPECT_QUAD(
            sixteen.GetPaletteColor(i), uint8_t(17 * i), uint8_t(17 * i), uint8_t(17 * i), 0);
    EXPECT_FALSE(sixteen.IsGreyRamp());

    CxImage two(1, 1, 1);
    two.MakeGreyPalette();
    EXPECT_QUAD(two.GetPaletteColor(1), 255, 255, 255, 0);
    EXPECT_FALSE(two.IsGreyRamp()) << "black and white is not the ramp 0, 1";

    CxImage rgb(1, 1, 24);
    EXPECT_FALSE(rgb.IsGreyRamp());
    EXPECT_FALSE(rgb.PaletteHasAlpha());
}

TEST(SwapRedBlue, SwapsWholeTriplesWithinOneRow)
{
    CxImage image(2, 1, 24); // row stride 8
    uint8_t buffer[12] = { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 };
    image.SwapRedBlue(buffer, 12);
    const uint8_t expected[12] = { 3, 2, 1, 6, 5, 4, 7, 8, 9, 10, 11, 12 };
    for (int i = 0; i < 12; i++)
        EXPECT_EQ(buffer[i], expected[i]) << i;

    CxImage indexed(2, 1, 8);
    indexed.SwapRedBlue(buffer, 3);
    EXPECT_EQ(buffer[0], 3);
}

// --- the nearest-colour search and its one-entry cache ----------------------------------

TEST(FindNearestIndex, TiesGoToTheLowerIndexAndExactMatchesWin)
{
    CxImage image(1, 1, 8);
    for (uint32_t i = 0; i < 256; i++)
        image.SetPaletteColor(i, 255, 255, 255);
    image.SetPaletteColor(3, 100, 0, 0);
    image.SetPaletteColor(7, 120, 0, 0);
    EXPECT_EQ(image.FindNearestIndex(RGBQUAD { 0, 0, 110, 0 }), 3);
    EXPECT_EQ(image.FindNearestIndex(RGBQUAD { 0, 0, 111, 0 }), 7);
    EXPECT_EQ(image.FindNearestIndex(RGBQUAD { 255, 255, 255, 0 }), 0);
    image.SetPaletteColor(250, 1, 2, 3);
    EXPECT_EQ(image.FindNearestIndex(RGBQUAD { 3, 2, 1, 77 }), 250)
        << "reserved bytes are not compared";

    CxImage rgb(1, 1, 24);
    EXPECT_EQ(rgb.FindNearestIndex(RGBQUAD { 1, 2, 3, 0 }), 0);
    CxImage empty;
    EXPECT_EQ(empty.FindNearestIndex(RGBQUAD { 1, 2, 3, 0 }), 0);
}

TEST(FindNearestIndex, ARepeatedColourIsAnsweredFromTheCache)
{
    CxImage image(1, 1, 8);
    image.SetPaletteColor(3, 100, 0, 0);
    image.SetPaletteColor(7, 100, 0, 0);
    const RGBQUAD colour { 0, 0, 100, 0 };
    ASSERT_EQ(image.FindNearestIndex(colour), 3);

    // Changing the palette behind the image's back shows the cache at work.
    image.GetPalette()[3] = RGBQUAD { 255, 255, 255, 0 };
    EXPECT_EQ(image.FindNearestIndex(colour), 3) << "answered without searching";
    EXPECT_EQ(image.FindNearestIndex(RGBQUAD { 0, 0, 100, 1 }), 7)
        << "a different reserved byte is a different request";
}

// Every operation that replaces palette entries must drop the cached answer.
class PaletteChange : public testing::TestWithParam<int> { };

TEST_P(PaletteChange, InvalidatesTheNearestColourCache)
{
    CxImage image(2, 2, 8);
    const RGBQUAD colour { 40, 50, 60, 0 };
    ASSERT_EQ(image.FindNearestIndex(colour), 0); // all black: entry 0
    uint8_t expected = 9;

    const RGBQUAD quads[10] = { {}, {}, {}, {}, {}, {}, {}, {}, {}, { 40, 50, 60, 0 } };
    uint8_t red[10] = {}, green[10] = {}, blue[10] = {};
    red[9] = 60;
    green[9] = 50;
    blue[9] = 40;
    uint8_t triples[30] = {};
    triples[27] = 60;
    triples[28] = 50;
    triples[29] = 40;

    switch (GetParam()) {
    case 0:
        image.SetPaletteColor(9, 60, 50, 40);
        break;
    case 1:
        image.SetPalette(quads, 10);
        break;
    case 2:
        image.SetPalette(triples, 10);
        break;
    case 3:
        image.SetPalette(10, red, green, blue);
        break;
    case 4:
        image.MakeGreyPalette(); // grey 50 is nearest to (60, 50, 40)
        expected = 50;
        break;
    case 5: {
        // A new image over the same object starts with a fresh, black palette.
        image.SetPaletteColor(9, 60, 50, 40);
        ASSERT_EQ(image.FindNearestIndex(colour), 9);
        ASSERT_NE(image.Create(2, 2, 1), nullptr);
        expected = 0;
        break;
    }
    case 6: {
        CxImage source(2, 2, 8);
        source.SetPaletteColor(9, 60, 50, 40);
        image.Copy(source);
        break;
    }
    }
    EXPECT_EQ(image.FindNearestIndex(colour), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryChange, PaletteChange, testing::Range(0, 7));

TEST(SetPixelColor, AnIndexedImageStoresTheNearestEntryAndIgnoresAlpha)
{
    CxImage image(4, 1, 4);
    image.MakeGreyPalette();
    image.Clear(0);
    image.CreateAlpha();
    image.SetPixelColor(1, 0, RGBQUAD { 30, 35, 40, 0 }, true); // grey 34 is entry 2
    EXPECT_EQ(image.GetPixelIndex(1, 0), 2);
    EXPECT_EQ(image.GetAlpha(1, 0), 255) << "setAlpha is ignored for an indexed image";

    CxImage rgb(4, 1, 24);
    rgb.CreateAlpha();
    rgb.SetPixelColor(1, 0, RGBQUAD { 1, 2, 3, 44 }, true);
    EXPECT_EQ(rgb.GetAlpha(1, 0), 44);
    rgb.SetPixelColor(2, 0, RGBQUAD { 1, 2, 3, 44 });
    EXPECT_EQ(rgb.GetAlpha(2, 0), 255);
}
