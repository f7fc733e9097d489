// The exact bytes of GIFs made from corpus photos of every format, pinned: any change in
// decoding, reduction, composition, quantising or encoding that alters what the program
// makes shows here. The hashes were taken from the making before its speed-ups.
#include "app/Composition.h"
#include "app/MakeGif.h"
#include "app/PhotoList.h"
#include "image/core/CxStream.h"
#include "tests/support/TestSupport.h"

#include <cinttypes>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

uint64_t Fnv1a64(const uint8_t* data, size_t size)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ data[i]) * 0x100000001b3ull;
    return hash;
}

struct PinnedGif {
    const char* name;
    std::vector<const char*> photos;
    uint64_t hash;
};

// Canvas 64 x 48 with photos reduced into 40 x 40: the 160 x 120 corpus pictures shrink
// by a non-integer factor, the 32 x 32 ones keep their size.
const PinnedGif PINNED[] = {
    { "jpeg",
        { "jpeg/gen/plasma-q85-420.jpg", "jpeg/gen/plasma-q85-422.jpg",
            "jpeg/gen/plasma-q95-444.jpg", "jpeg/gen/plasma-progressive.jpg",
            "jpeg/gen/plasma-restart1row.jpg", "jpeg/gen/grey.jpg", "jpeg/gen/plasma-cmyk.jpg",
            "jpeg/gen/shapes-97x61.jpg", "jpeg/invalid/trunc50-grey.jpg",
            "jpeg/image-rs/progressive/cat.jpg" },
        0x934e2b571ba16ccfull },
    { "png",
        { "png/pngsuite/basn2c08.png", "png/pngsuite/basn0g16.png", "png/pngsuite/basi3p08.png",
            "png/pngsuite/basn6a08.png", "png/pngsuite/basn4a08.png", "png/pngsuite/basi2c16.png" },
        0x25229f191f54b6f8ull },
    { "bmp",
        { "bmp/bmpsuite/g/rgb24.bmp", "bmp/bmpsuite/g/pal8.bmp", "bmp/bmpsuite/g/pal4rle.bmp",
            "bmp/bmpsuite/g/rgb16-565.bmp", "bmp/bmpsuite/g/rgb32bf.bmp" },
        0xb7c2fed605a5efa7ull },
    { "gif",
        { "gif/gen/pal256.gif", "gif/gen/shapes-transparent.gif", "gif/gen/pal256-interlaced.gif" },
        0xb15c47fc3aecae9dull },
    { "tiff", { "tiff/gen/grey8.tif", "tiff/gen/cmyk.tif", "tiff/gen/orient-rgb-6.tif" },
        0x0a99b6300085fbc4ull },
    { "tga",
        { "tga/gen/plasma-t2-24.tga", "tga/gen/plasma-t10-24-rle-topdown.tga",
            "tga/gen/alpha-t2-32.tga" },
        0x48c96af1d7d86174ull },
    { "pcx", { "pcx/gen/plasma-24bit.pcx", "pcx/gen/pal256-8bit.pcx" }, 0xbd89fdbb2a952abcull },
    { "wbmp", { "wbmp/gen/dither.wbmp" }, 0xc232b884e4aacf32ull },
    { "pnm", { "pnm/gen/plasma-p6.ppm", "pnm/gen/grey16-p5.pgm", "ras/gen/plasma-rle.ras" },
        0x3948ffa1b0ab6e6bull },
    { "jpeg2000", { "jpeg2000/gen/plasma.j2k", "jpeg2000/gen/plasma-irreversible.jp2" },
        0x1c1d5c599a7ccd98ull },
    { "jbig", { "jbig/gen/dither-default.jbg" }, 0xc232b884e4aacf32ull },
    { "metafile", { "metafile/gen/shapes.wmf", "metafile/gen/shapes.emf" }, 0xd57c1bcf6d1ce51dull },
};

TEST(PinnedOutput, GifsOfEveryFormatKeepTheirBytes)
{
    for (const PinnedGif& pinned : PINNED) {
        ProjectSettings settings;
        settings.overallWidth = 64;
        settings.overallHeight = 48;
        settings.photoSize = 40;
        settings.backgroundColor = 0x3080C0;
        std::vector<std::string> paths;
        for (const char* photo : pinned.photos)
            paths.push_back(bvtest::TestData(photo));
        PhotoList list(false);
        AddPhotosOptions options;
        options.threads = 1;
        const auto failures = list.AddPhotos(paths, settings, options);
        ASSERT_TRUE(failures.empty()) << pinned.name << ": " << failures.front().path;
        CxMemStream gif;
        ASSERT_TRUE(EncodeAnimation(list, settings, &gif)) << pinned.name;
        const uint64_t hash = Fnv1a64(gif.Data(), gif.Length());
        EXPECT_EQ(hash, pinned.hash) << pinned.name << ": 0x" << std::hex << hash;
    }
}

// The optimised coding (frames as changes to the last, choices of table and clearing)
// keeps its bytes too.
TEST(PinnedOutput, OptimisedGifsKeepTheirBytes)
{
    const uint64_t pinnedHashes[] = { 0x8b046da387b11d36ull, 0x820704fc7edeec5cull };
    for (size_t k = 0; k < 2; k++) {
        const PinnedGif& pinned = PINNED[k];
        ProjectSettings settings;
        settings.overallWidth = 320; // large enough to fill the string table often
        settings.overallHeight = 240;
        settings.photoSize = 300;
        settings.backgroundColor = 0x3080C0;
        settings.optimizeSize = true;
        std::vector<std::string> paths;
        for (const char* photo : pinned.photos)
            paths.push_back(bvtest::TestData(photo));
        paths.push_back(paths.front()); // an unchanged frame after a change
        paths.push_back(paths.front());
        PhotoList list(false);
        AddPhotosOptions options;
        options.threads = 1;
        ASSERT_TRUE(list.AddPhotos(paths, settings, options).empty()) << pinned.name;
        CxMemStream gif;
        ASSERT_TRUE(EncodeAnimation(list, settings, &gif)) << pinned.name;
        const uint64_t hash = Fnv1a64(gif.Data(), gif.Length());
        EXPECT_EQ(hash, pinnedHashes[k]) << pinned.name << ": 0x" << std::hex << hash;
    }
}

} // namespace
