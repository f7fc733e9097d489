#include "ReferencePicture.h"

#include "TestSupport.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <png.h>

namespace bvtest {

namespace {

    struct FileCloser {
        void operator()(FILE* file) const { std::fclose(file); }
    };
    using FilePtr = std::unique_ptr<FILE, FileCloser>;

    // libpng's jump lands in these functions; only trivially destructible locals live here.
    bool ReadRows(png_structp png, png_infop info, FILE* file, RgbaPicture* picture,
        std::vector<png_bytep>* rows)
    {
        if (setjmp(png_jmpbuf(png)))
            return false;
        png_init_io(png, file);
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        picture->width = png_get_image_width(png, info);
        picture->height = png_get_image_height(png, info);
        picture->rgba.assign(size_t(picture->width) * picture->height * 4, 0);
        rows->resize(picture->height);
        for (uint32_t y = 0; y < picture->height; y++)
            (*rows)[y] = &picture->rgba[size_t(y) * picture->width * 4];
        png_read_image(png, rows->data());
        png_read_end(png, nullptr);
        return true;
    }

    bool ReadFacts(png_structp png, png_infop info, FILE* file, PngFacts* facts)
    {
        if (setjmp(png_jmpbuf(png)))
            return false;
        png_init_io(png, file);
        png_read_info(png, info);
        facts->colorType = png_get_color_type(png, info);
        facts->bitDepth = png_get_bit_depth(png, info);
        facts->interlace = png_get_interlace_type(png, info);
        facts->hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
        png_color_16p background = nullptr;
        if (png_get_bKGD(png, info, &background)) {
            facts->hasBackground = true;
            const int depth = facts->bitDepth;
            const auto scale = [depth](uint32_t v) {
                if (depth == 16)
                    return uint8_t(v >> 8);
                return uint8_t(v * 255 / ((1u << depth) - 1));
            };
            if (facts->colorType == PNG_COLOR_TYPE_PALETTE) {
                png_colorp palette = nullptr;
                int count = 0;
                if (png_get_PLTE(png, info, &palette, &count) && background->index < count) {
                    facts->background[0] = palette[background->index].red;
                    facts->background[1] = palette[background->index].green;
                    facts->background[2] = palette[background->index].blue;
                }
            } else if (facts->colorType & PNG_COLOR_MASK_COLOR) {
                facts->background[0] = scale(background->red);
                facts->background[1] = scale(background->green);
                facts->background[2] = scale(background->blue);
            } else {
                facts->background[0] = facts->background[1] = facts->background[2]
                    = scale(background->gray);
            }
        }
        return true;
    }

    void Quiet(png_structp, png_const_charp) { }

} // namespace

bool ReadRgbaPng(const std::string& path, RgbaPicture& picture, std::string& error)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, Quiet);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    const bool ok = ReadRows(png, info, file.get(), &picture, &rows);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok)
        error = "libpng could not read " + path;
    return ok;
}

bool ReadPngFacts(const std::string& path, PngFacts& facts)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, Quiet);
    png_infop info = png_create_info_struct(png);
    const bool ok = ReadFacts(png, info, file.get(), &facts);
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

RGBQUAD TopDownPixel(const CxImage& image, int32_t x, int32_t y)
{
    return image.GetPixelColor(x, image.GetHeight() - 1 - y, false);
}

RefImage LoadRefPng(const std::string& path)
{
    RefImage ref;
    if (!ReadRgbaPng(path, ref, ref.error)) {
        ref.rgba.clear();
        ref.width = ref.height = 0;
    }
    return ref;
}

RefComparison CompareToRef(const CxImage& image, const RgbaPicture& ref, int tolerance)
{
    RefComparison result;
    if (!image.IsValid() || uint32_t(image.GetWidth()) != ref.width
        || uint32_t(image.GetHeight()) != ref.height)
        return result;
    result.sameSize = true;
    for (uint32_t row = 0; row < ref.height; row++) {
        const int32_t y = int32_t(ref.height - 1 - row);
        for (uint32_t x = 0; x < ref.width; x++) {
            const RGBQUAD c = image.GetPixelColor(int32_t(x), y, false);
            const uint8_t* r = &ref.rgba[(size_t(row) * ref.width + x) * 4];
            const int d = std::max({ std::abs(c.rgbRed - r[0]), std::abs(c.rgbGreen - r[1]),
                std::abs(c.rgbBlue - r[2]) });
            result.maxDifference = std::max(result.maxDifference, d);
            if (d > tolerance)
                result.differing++;
        }
    }
    return result;
}

std::vector<std::string> FilesWithRefs(const std::string& folder)
{
    std::vector<std::string> files;
    if (!std::filesystem::is_directory(TestData(folder))) {
        ADD_FAILURE() << "no corpus folder " << TestData(folder);
        return files;
    }
    for (const auto& entry : std::filesystem::directory_iterator(TestData(folder))) {
        const std::string path = entry.path().string();
        if (entry.is_regular_file() && path.find(".png") == std::string::npos
            && std::filesystem::exists(path + ".ref.png"))
            files.push_back(path);
    }
    if (files.empty())
        ADD_FAILURE() << "no file with a reference in " << TestData(folder);
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace bvtest
