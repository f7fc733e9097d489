#include "RefImage.h"

#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <png.h>

namespace bvtest {

RefImage LoadRefPng(const std::string& path)
{
    RefImage ref;
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ref.error = image.message;
        return ref;
    }
    image.format = PNG_FORMAT_RGBA;
    ref.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, ref.rgba.data(), 0, nullptr)) {
        ref.error = image.message;
        ref.rgba.clear();
        return ref;
    }
    ref.width = image.width;
    ref.height = image.height;
    return ref;
}

RefComparison CompareToRef(const CxImage& image, const RefImage& ref, int tolerance)
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
    for (const auto& entry : std::filesystem::directory_iterator(TestData(folder))) {
        const std::string path = entry.path().string();
        if (entry.is_regular_file() && path.find(".png") == std::string::npos
            && std::filesystem::exists(path + ".ref.png"))
            files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace bvtest
