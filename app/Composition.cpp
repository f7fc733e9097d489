#include "Composition.h"

#include "ColorQuantizer.h"
#include "image/color/SrgbConversion.h"
#include "image/core/CxImage.h"
#include "image/core/CxRowSink.h"
#include "image/core/CxStream.h"
#include "image/formats/bmp/CxBmpLayout.h"
#include "image/process/CxAreaReduction.h"
#include "image/process/CxOrientation.h"
#include "platform/DeviceBitmap.h"
#include "platform/Files.h"
#include "platform/Memory.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

void NormalizePath(std::string& path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    if (path.size() < 3)
        return;
    std::string cleaned = path.substr(0, 2);
    for (size_t i = 2; i < path.size(); i++) {
        if (path[i] == '\\' && cleaned.size() > 2 && cleaned.back() == '\\')
            continue;
        cleaned += path[i];
    }
    while (cleaned.size() > 3 && cleaned.back() == '\\')
        cleaned.pop_back();
    path = cleaned;
}

// ----------------------------------------------------------------------------------------

PictureCorrections CorrectionsOf(const ProjectSettings& settings)
{
    return PictureCorrections { !settings.ignoreProfiles, !settings.ignoreOrientation };
}

namespace {

std::mutex noteMutex;
ReadingNoteHandler noteHandler;

void TellNote(const std::string& path, const std::string& note)
{
    std::lock_guard lock(noteMutex);
    if (noteHandler)
        noteHandler(path, note);
}

void TellRefusal(const std::string& path, const SrgbConversion& conversion)
{
    if (!conversion.Refusal().empty())
        TellNote(path, "colour profile ignored: " + conversion.Refusal());
}

// The orientation a picture is turned upright from (0 when none is applied).
uint8_t OrientationToApply(const CxImage& picture, PictureCorrections corrections)
{
    return corrections.orientation ? picture.GetOrientation() : 0;
}

} // namespace

bool MendWholePicture(CxImage& picture, PictureCorrections corrections, const std::string& path)
{
    if (corrections.profile && !picture.GetIccProfile().empty()) {
        const SrgbConversion conversion(picture.GetIccProfile(), HasGreyPalette(picture));
        TellRefusal(path, conversion);
        if (conversion.Converts()
            && !(picture.IncreaseBpp(24) && conversion.ConvertPicture(picture)))
            return false;
        picture.SetIccProfile({});
    }
    const uint8_t orientation = OrientationToApply(picture, corrections);
    picture.SetOrientation(0);
    return ApplyOrientation(picture, orientation);
}

void SetReadingNoteHandler(ReadingNoteHandler handler)
{
    std::lock_guard lock(noteMutex);
    noteHandler = std::move(handler);
}

// ----------------------------------------------------------------------------------------

bool SaveBitmapAsBmp(const platform::Bitmap& bitmap, CxStream* stream)
{
    if (!stream)
        return false;
    const platform::BitmapInfo object = bitmap.GetObject();
    const uint16_t depth = object.bmBitsPixel;
    const uint16_t bits = depth <= 1 ? 1 : depth <= 4 ? 4 : depth <= 8 ? 8 : 24;
    const uint32_t tableEntries = bits <= 8 ? (1u << bits) : 0;
    if (object.bmWidth <= 0 || object.bmHeight <= 0)
        return false;
    const uint64_t stride = ((uint64_t(object.bmWidth) * bits + 31) / 32) * 4;
    const uint64_t imageBytes = stride * uint64_t(object.bmHeight);
    const uint64_t blockBytes = sizeof(BITMAPINFOHEADER) + tableEntries * 4 + imageBytes;
    if (blockBytes > CXIMAGE_MAX_MEMORY)
        return false;

    std::vector<uint8_t> block(size_t(blockBytes), 0);
    auto* info = reinterpret_cast<BITMAPINFO*>(block.data());
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = object.bmWidth;
    info->bmiHeader.biHeight = object.bmHeight;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = bits;
    uint8_t* pixels = block.data() + sizeof(BITMAPINFOHEADER) + tableEntries * 4;
    platform::DeviceContext screen = platform::DeviceContext::Screen();
    if (platform::GetDIBits(&screen, &bitmap, 0, uint32_t(object.bmHeight), pixels, info) == 0)
        return false;
    // The block keeps the header as written: the pixel fetch may not change it.
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biBitCount = bits;
    info->bmiHeader.biSizeImage = uint32_t(imageBytes);

    uint8_t headers[BMP_HEADERS_SIZE];
    WriteBmpHeaders(info->bmiHeader, tableEntries, headers);
    const size_t rest = block.size() - sizeof(BITMAPINFOHEADER);
    return stream->Write(headers, 1, sizeof headers) == sizeof headers
        && stream->Write(block.data() + sizeof(BITMAPINFOHEADER), 1, uint32_t(rest)) == rest;
}

bool SaveBitmapAsBmp(const platform::Bitmap& bitmap, const char* path)
{
    if (!path)
        return false;
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    bool ok;
    {
        CxFileStream stream(file);
        ok = SaveBitmapAsBmp(bitmap, &stream);
    }
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

// ----------------------------------------------------------------------------------------

struct BackgroundCache::Key {
    std::string path;
    platform::FileStamp stamp;
    uint32_t width, height;
    PictureCorrections corrections;
    bool operator==(const Key&) const = default;
};

BackgroundCache::BackgroundCache() = default;
BackgroundCache::~BackgroundCache() = default;

BackgroundCache& BackgroundCache::Shared()
{
    static BackgroundCache cache;
    return cache;
}

void BackgroundCache::Clear()
{
    std::lock_guard lock(mutex);
    key.reset();
    picture.reset();
}

namespace {

// Stretches a reader's rows over the canvas as they come, top row first, as the halftone
// stretch of the whole picture would.
class StretchingSink : public CxRowSink {
public:
    StretchingSink(uint32_t width, uint32_t height, PictureCorrections corrections)
        : width(int32_t(width))
        , height(int32_t(height))
        , corrections(corrections)
    {
    }

    Take Header(const CxPictureHeader& header) override
    {
        stretch.reset();
        // A picture to be converted or turned is read whole.
        const bool mended = (corrections.orientation && header.orientation > 1)
            || (corrections.profile && !header.iccProfile.empty());
        if (!header.rowsOffered || mended)
            return Take::Picture;
        sourceHeight = int32_t(header.height);
        inOrder = true;
        stretch = std::make_unique<platform::HalftoneStretch>(
            int32_t(header.width), sourceHeight, width, height);
        return Take::Rows;
    }

    void Row(uint32_t storedRow, const uint8_t* pixels) override
    {
        // Stored row 0 is the bottom line: the top one comes first.
        inOrder = inOrder && int32_t(storedRow) == sourceHeight - 1 - stretch->RowsAdded();
        if (inOrder)
            stretch->AddRow(pixels);
    }

    // The stretched picture, once a reader that took the rows has handed over all of
    // them in order; null otherwise.
    std::shared_ptr<platform::Bitmap> Finish()
    {
        if (!stretch || !inOrder || stretch->RowsAdded() != sourceHeight)
            return nullptr;
        auto canvas = std::make_shared<platform::Bitmap>(width, height, 24);
        const std::vector<RGBQUAD>& pixels = stretch->Result();
        for (int32_t y = 0; y < height; y++)
            for (int32_t x = 0; x < width; x++)
                canvas->SetPixel(x, y, pixels[size_t(y) * size_t(width) + size_t(x)]);
        return canvas;
    }

private:
    int32_t width;
    int32_t height;
    PictureCorrections corrections;
    int32_t sourceHeight = 0;
    bool inOrder = true;
    std::unique_ptr<platform::HalftoneStretch> stretch;
};

} // namespace

std::shared_ptr<const platform::Bitmap> StretchBackground(const std::string& path, uint32_t width,
    uint32_t height, PhotoReading reading, PictureCorrections corrections)
{
    // As the file-name constructor reads: the format follows from the extension.
    CxImage picture(CxImage::GetTypeFromExtension(path.c_str()));
    StretchingSink sink(width, height, corrections);
    if (reading == PhotoReading::Streamed)
        picture.SetRowSink(&sink);
    bool decoded = picture.Load(path.c_str(), picture.GetType());
    picture.SetRowSink(nullptr);
    if (decoded && !picture.IsValid()) {
        // A reader that told its profile or orientation only after the rows has them
        // applied to the whole picture.
        const bool mended = OrientationToApply(picture, corrections) > 1
            || (corrections.profile && !picture.GetIccProfile().empty());
        if (auto canvas = sink.Finish(); canvas && !mended)
            return canvas;
        // Rows out of order: read the whole picture after all.
        decoded = picture.Load(path.c_str(), picture.GetType());
    }
    if (!decoded || !picture.IsValid() || !MendWholePicture(picture, corrections, path))
        return nullptr;
    std::unique_ptr<platform::Bitmap> source(picture.MakeDeviceBitmap(nullptr));
    if (!source)
        return nullptr;
    auto canvas = std::make_shared<platform::Bitmap>(int32_t(width), int32_t(height), 24);
    platform::DeviceContext sourceDc = platform::DeviceContext::CreateCompatible(nullptr);
    platform::DeviceContext canvasDc = platform::DeviceContext::CreateCompatible(nullptr);
    sourceDc.SelectBitmap(source.get());
    canvasDc.SelectBitmap(canvas.get());
    sourceDc.SetStretchMode(platform::StretchMode::Halftone);
    canvasDc.SetStretchMode(platform::StretchMode::Halftone);
    if (!canvasDc.StretchBlt(0, 0, int32_t(width), int32_t(height), sourceDc, 0, 0, source->Width(),
            source->Height()))
        return nullptr;
    return canvas;
}

std::shared_ptr<const platform::Bitmap> BackgroundCache::Get(
    const std::string& path, uint32_t width, uint32_t height, PictureCorrections corrections)
{
    platform::FileStamp stamp;
    if (!platform::GetFileStamp(path, stamp))
        return nullptr;
    const Key wanted { path, stamp, width, height, corrections };
    // Held while the picture is made: the other photos of the batch need it too.
    std::lock_guard lock(mutex);
    if (key && *key == wanted)
        return picture;
    // A picture that memory was short for is not remembered, as unreadable (the colour
    // would fill in for it) nor as made (it may lack what the allocation was for).
    const platform::AllocationWatch watch;
    std::shared_ptr<const platform::Bitmap> made
        = StretchBackground(path, width, height, PhotoReading::Streamed, corrections);
    if (watch.RanShort())
        throw std::bad_alloc();
    auto madeKey = std::make_unique<Key>(wanted);
    picture = std::move(made);
    key = std::move(madeKey);
    return picture;
}

// ----------------------------------------------------------------------------------------

std::unique_ptr<platform::Bitmap> ComposeCanvas(
    CxImage& photo, const ProjectSettings& settings, BackgroundCache* cache)
{
    const int32_t width = int32_t(settings.overallWidth);
    const int32_t height = int32_t(settings.overallHeight);
    if (width <= 0 || height <= 0)
        return nullptr;
    auto canvas = std::make_unique<platform::Bitmap>(width, height, 24);
    platform::DeviceContext dc = platform::DeviceContext::CreateCompatible(nullptr);
    dc.SelectBitmap(canvas.get());

    std::shared_ptr<const platform::Bitmap> background;
    if (!settings.backgroundImagePath.empty()) {
        BackgroundCache& backgrounds = cache ? *cache : BackgroundCache::Shared();
        background = backgrounds.Get(settings.backgroundImagePath, settings.overallWidth,
            settings.overallHeight, CorrectionsOf(settings));
    }
    if (background && background->Width() == width && background->Height() == height
        && background->BitsPerPixel() == 24)
        std::memcpy(canvas->Bits(), background->Bits(), size_t(canvas->Stride()) * height);
    else
        dc.FillRect(RECT { 0, 0, width, height }, settings.backgroundColor);

    // Centred; with an odd difference the extra pixel goes to the right and bottom.
    const int32_t x = (width - photo.GetWidth()) / 2;
    const int32_t y = (height - photo.GetHeight()) / 2;
    photo.Draw(&dc, x, y);
    dc.SelectBitmap(nullptr);
    return canvas;
}

namespace {

// The canvas as the quantiser loads the 24-bit BMP file of it (bottom-up rows of the
// pixels the bitmap gives out), taken from the bitmap without writing and reading that
// file. A 24-bit canvas lends its own rows, which are laid out as that file's.
bool LoadCanvasDib(const platform::Bitmap& canvas, LoadedDib& dib)
{
    const platform::BitmapInfo object = canvas.GetObject();
    if (object.bmWidth <= 0 || object.bmHeight <= 0)
        return false;
    const uint64_t stride = ((uint64_t(object.bmWidth) * 24 + 31) / 32) * 4;
    const uint64_t imageBytes = stride * uint64_t(object.bmHeight);
    if (sizeof(BITMAPINFOHEADER) + imageBytes > CXIMAGE_MAX_MEMORY)
        return false;
    BITMAPINFO info {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = object.bmWidth;
    info.bmiHeader.biHeight = object.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    dib.bits.clear();
    dib.borrowed = nullptr;
    if (canvas.BitsPerPixel() == 24 && canvas.Stride() == stride) {
        dib.borrowed = canvas.Bits();
    } else {
        dib.bits.resize(size_t(imageBytes));
        platform::DeviceContext screen = platform::DeviceContext::Screen();
        if (platform::GetDIBits(
                &screen, &canvas, 0, uint32_t(object.bmHeight), dib.bits.data(), &info)
            == 0)
            return false;
    }
    dib.header = info.bmiHeader;
    dib.header.biSize = sizeof(BITMAPINFOHEADER);
    dib.header.biBitCount = 24;
    dib.header.biSizeImage = uint32_t(imageBytes);
    dib.topDown = false;
    dib.colors.clear();
    dib.stride = uint32_t(stride);
    return true;
}

} // namespace

std::unique_ptr<CxImage> QuantizeCanvas(const platform::Bitmap& canvas, std::string* error)
{
    LoadedDib dib;
    if (!LoadCanvasDib(canvas, dib)) {
        if (error)
            *error = "can't take the canvas's pixels";
        return nullptr;
    }
    std::unique_ptr<CxImage> frame = ColorQuantizer(256, 6).Quantize(dib);
    if (!frame && error)
        *error = "can't reduce the canvas to 256 colours";
    return frame;
}

// A photo that isn't there, or isn't a file, is told as such rather than as a format the
// readers don't know.
std::string WhyUnreadable(const std::string& path, const char* readerError)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? "not found" : std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return S_ISDIR(info.st_mode) ? "is a folder" : "not a regular file";
    if (::access(path.c_str(), R_OK) != 0)
        return std::strerror(errno);
    return readerError[0] ? readerError : "unknown file format";
}

namespace {

// The size a photo stored as width x height is reduced to, as stored: the upright
// photo's reduced size, turned back for a photo stored on its side.
void StoredReducedSize(uint32_t width, uint32_t height, uint32_t photoSize, uint8_t orientation,
    int32_t& newWidth, int32_t& newHeight)
{
    const bool transposes = OrientationTransposes(orientation);
    ReducedSize(
        transposes ? height : width, transposes ? width : height, photoSize, newWidth, newHeight);
    if (transposes)
        std::swap(newWidth, newHeight);
}

// Takes a reader's rows into the area-averaging reduction: when the photo shrinks on both
// sides, the reduction Resample would make of the whole picture, from the same rows; or,
// for a picture decoded at a reduced scale, the reduction to a size fixed beforehand. The
// rows are converted to sRGB on the way when the photo's profile asks for it; the result
// stays as stored, for the caller to turn upright.
class ReducingSink : public CxRowSink {
public:
    ReducingSink(uint32_t photoSize, PictureCorrections corrections)
        : photoSize(photoSize)
        , corrections(corrections)
    {
    }
    // width x height: the upright size.
    ReducingSink(int32_t width, int32_t height, PictureCorrections corrections)
        : fixedWidth(width)
        , fixedHeight(height)
        , corrections(corrections)
    {
    }

    Take Header(const CxPictureHeader& header) override
    {
        reduction.reset();
        photo.reset();
        conversion.reset();
        toldOrientation = header.orientation;
        toldProfile = header.iccProfile;
        const uint8_t orientation = corrections.orientation ? header.orientation : 0;
        const int32_t width = int32_t(header.width);
        const int32_t height = int32_t(header.height);
        int32_t newWidth = fixedWidth, newHeight = fixedHeight;
        if (OrientationTransposes(orientation))
            std::swap(newWidth, newHeight);
        if (!fixedWidth)
            StoredReducedSize(
                header.width, header.height, photoSize, orientation, newWidth, newHeight);
        if (newWidth <= 0
            || !RowsStreamed(
                header.rowsOffered, width, height, newWidth, newHeight, fixedWidth != 0))
            return Take::Picture;
        if (corrections.profile && !header.iccProfile.empty()) {
            // Rows of 8 bits are grey ones widened.
            conversion = std::make_unique<SrgbConversion>(header.iccProfile, header.bpp == 8);
            if (conversion->Converts())
                converted.resize(size_t(width) * 3);
        }
        photo = std::make_unique<CxImage>(uint32_t(newWidth), uint32_t(newHeight), 24);
        if (!photo->IsValid())
            return Take::Picture;
        reduction = std::make_unique<CxAreaReduction>(width, height, *photo);
        return Take::Rows;
    }

    void Row(uint32_t storedRow, const uint8_t* pixels) override
    {
        if (conversion && conversion->Converts()) {
            std::memcpy(converted.data(), pixels, converted.size());
            conversion->ConvertRow(converted.data(), uint32_t(converted.size() / 3));
            pixels = converted.data();
        }
        reduction->AddRow(int32_t(storedRow), pixels);
    }

    // The reduced photo, once the reader that took the rows has succeeded.
    std::unique_ptr<CxImage> Finish()
    {
        if (!reduction)
            return nullptr;
        reduction->Finish();
        reduction.reset();
        return std::move(photo);
    }

    // Whether the header told the profile and orientation the reader recorded on the
    // photo in the end (those the rows were reduced with), as far as they are applied.
    bool ToldAsRecorded(const CxImage& recorded) const
    {
        return (!corrections.orientation || recorded.GetOrientation() == toldOrientation)
            && (!corrections.profile || recorded.GetIccProfile() == toldProfile);
    }
    const SrgbConversion* Conversion() const { return conversion.get(); }

private:
    uint32_t photoSize = 0;
    int32_t fixedWidth = 0;
    int32_t fixedHeight = 0;
    PictureCorrections corrections;
    uint8_t toldOrientation = 0;
    std::vector<uint8_t> toldProfile;
    std::unique_ptr<SrgbConversion> conversion;
    std::vector<uint8_t> converted;
    std::unique_ptr<CxImage> photo;
    std::unique_ptr<CxAreaReduction> reduction;
};

// A 24-bit picture reduced by area averaging to width x height (each side at most the
// picture's).
std::unique_ptr<CxImage> AreaReduced(const CxImage& picture, int32_t width, int32_t height)
{
    auto reduced = std::make_unique<CxImage>(uint32_t(width), uint32_t(height), 24);
    if (!reduced->IsValid())
        return nullptr;
    CxAreaReduction reduction(picture.GetWidth(), picture.GetHeight(), *reduced);
    for (int32_t y = 0; y < picture.GetHeight(); y++)
        reduction.AddRow(y, picture.GetBits(0) + size_t(y) * picture.GetRowStride());
    reduction.Finish();
    return reduced;
}

// The photo read whole, converted to sRGB, reduced as stored and turned upright.
std::unique_ptr<CxImage> ReduceWholePhoto(std::unique_ptr<CxImage> photo,
    const std::string& photoPath, const ProjectSettings& settings, const PhotoPlan* scaledPlan,
    std::string& why)
{
    const PictureCorrections corrections = CorrectionsOf(settings);
    const uint8_t orientation = OrientationToApply(*photo, corrections);
    const bool grey = HasGreyPalette(*photo);
    photo->IncreaseBpp(24);
    if (corrections.profile && !photo->GetIccProfile().empty()) {
        const SrgbConversion conversion(photo->GetIccProfile(), grey);
        TellRefusal(photoPath, conversion);
        if (conversion.Converts() && !conversion.ConvertPicture(*photo)) {
            why = "can't convert the photo to sRGB";
            return nullptr;
        }
    }
    const auto upright = [&](std::unique_ptr<CxImage> reduced) -> std::unique_ptr<CxImage> {
        if (!reduced) {
            why = "can't reduce the photo";
            return nullptr;
        }
        reduced->SetIccProfile({});
        reduced->SetOrientation(0);
        if (!ApplyOrientation(*reduced, orientation)) {
            why = "can't turn the photo upright";
            return nullptr;
        }
        return reduced;
    };
    if (scaledPlan) {
        int32_t width = scaledPlan->reducedWidth, height = scaledPlan->reducedHeight;
        if (OrientationTransposes(orientation))
            std::swap(width, height);
        if (width <= photo->GetWidth() && height <= photo->GetHeight())
            return upright(AreaReduced(*photo, width, height));
    }
    int32_t newWidth, newHeight;
    StoredReducedSize(uint32_t(photo->GetWidth()), uint32_t(photo->GetHeight()), settings.photoSize,
        orientation, newWidth, newHeight);
    if ((newWidth != photo->GetWidth() || newHeight != photo->GetHeight())
        && !photo->Resample(newWidth, newHeight, RM_AREA_AVERAGE)) {
        why = photo->GetLastError()[0] ? photo->GetLastError() : "can't reduce the photo";
        return nullptr;
    }
    return upright(std::move(photo));
}

} // namespace

std::unique_ptr<CxImage> ReadReducedPhoto(const std::string& photoPath,
    const ProjectSettings& settings, std::string* error, PhotoReading reading,
    const PhotoPlan* plan)
{
    PhotoPlan ownPlan;
    if (settings.fastDecoding && !plan) {
        ownPlan = PlanPhoto(photoPath, settings);
        plan = &ownPlan;
    }
    // Fast decoding reads a large JPEG at a reduced scale and reduces it to the size the
    // whole picture would have been reduced to.
    const bool scaled = settings.fastDecoding && plan && plan->jpegReduction;
    const PictureCorrections corrections = CorrectionsOf(settings);

    ReducingSink sink = scaled ? ReducingSink(plan->reducedWidth, plan->reducedHeight, corrections)
                               : ReducingSink(settings.photoSize, corrections);
    const auto load = [&](bool streamed) {
        // As the file-name constructor reads: the format follows from the extension.
        auto photo = std::make_unique<CxImage>(CxImage::GetTypeFromExtension(photoPath.c_str()));
        if (scaled) {
            photo->SetJpegReduction(plan->jpegReduction);
            photo->SetFormatOption(
                plan->dcScansOnly ? CXIMAGE_JPEG_DC_SCANS_ONLY : 0, CXIMAGE_FORMAT_JPG);
        }
        if (streamed)
            photo->SetRowSink(&sink);
        const bool decoded = photo->Load(photoPath.c_str(), photo->GetType());
        photo->SetRowSink(nullptr);
        return std::make_pair(decoded, std::move(photo));
    };

    auto [decoded, photo] = load(reading == PhotoReading::Streamed);
    if (decoded && !photo->IsValid()) {
        std::unique_ptr<CxImage> reduced = sink.Finish();
        // A reader that told its profile or orientation only after its rows has the
        // photo read again whole.
        if (reduced && sink.ToldAsRecorded(*photo)) {
            if (sink.Conversion())
                TellRefusal(photoPath, *sink.Conversion());
            if (!ApplyOrientation(*reduced, OrientationToApply(*photo, corrections))) {
                if (error)
                    *error = "can't turn the photo upright";
                return nullptr;
            }
            return reduced;
        }
        if (reduced)
            std::tie(decoded, photo) = load(false);
    }
    if (!photo->IsValid()) {
        if (error)
            *error = WhyUnreadable(photoPath, photo->GetLastError());
        return nullptr;
    }
    std::string why;
    auto reduced
        = ReduceWholePhoto(std::move(photo), photoPath, settings, scaled ? plan : nullptr, why);
    if (!reduced && error)
        *error = why;
    return reduced;
}

std::unique_ptr<PhotoEntry> ComposeFrame(const std::string& photoPath,
    const ProjectSettings& settings, BackgroundCache* cache, std::string* error,
    const PhotoPlan* plan)
{
    const auto fail = [&](const std::string& why) -> std::unique_ptr<PhotoEntry> {
        if (error)
            *error = why;
        return nullptr;
    };

    auto canvas = [&]() -> std::unique_ptr<platform::Bitmap> {
        std::string why;
        std::unique_ptr<CxImage> photo
            = ReadReducedPhoto(photoPath, settings, &why, PhotoReading::Streamed, plan);
        if (!photo) {
            fail(why);
            return nullptr;
        }
        auto made = ComposeCanvas(*photo, settings, cache);
        if (!made)
            fail("can't make the canvas");
        return made;
    }();
    if (!canvas)
        return nullptr;

    auto entry = std::make_unique<PhotoEntry>();
    entry->canvas = std::make_unique<CxImage>();
    if (!entry->canvas->CreateFromDeviceBitmap(canvas.get()))
        return fail(entry->canvas->GetLastError());
    std::string why;
    entry->gifFrame = QuantizeCanvas(*canvas, &why);
    if (!entry->gifFrame)
        return fail(why);
    const size_t slash = photoPath.find_last_of('/');
    entry->displayName = slash == std::string::npos ? photoPath : photoPath.substr(slash + 1);
    entry->sourcePath = photoPath;
    return entry;
}
