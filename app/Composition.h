// Composing a frame from a photo: read it, reduce it to the photo size, centre it on a
// canvas painted with the background, reduce the canvas to at most 256 colours.
#pragma once

#include "PhotoList.h"
#include "PhotoPlan.h"
#include "ProjectSettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CxStream;

namespace platform {
class Bitmap;
}

// Cleans a temporary-file path in place: '/' becomes '\', from the third character on
// runs of backslashes become one, trailing backslashes go (never at or before the third
// character). Kept for the names the desktop build gives its temporary files.
void NormalizePath(std::string& path);

// Writes a bitmap as a BMP file (14-byte file header, 40-byte info header, colour table
// for indexed depths, bottom-up rows) of 1, 4, 8 or 24 bits per pixel.
bool SaveBitmapAsBmp(const platform::Bitmap& bitmap, CxStream* stream);
bool SaveBitmapAsBmp(const platform::Bitmap& bitmap, const char* path);

// What reading a picture mends by default: a colour profile other than sRGB converted to
// sRGB, a stored orientation turned upright.
struct PictureCorrections {
    bool profile = true;
    bool orientation = true;
    bool operator==(const PictureCorrections&) const = default;
};
PictureCorrections CorrectionsOf(const ProjectSettings& settings);

// Told, from any thread, what reading a photo or the background picture passed over
// without failing: a colour profile that can't be used, with the reason. Null (the
// default): told to no one.
using ReadingNoteHandler = std::function<void(const std::string& path, const std::string& note)>;
void SetReadingNoteHandler(ReadingNoteHandler handler);

// Converts a picture read whole to sRGB as its profile asks (raised to 24 bits first) and
// turns it upright, as the corrections say; a picture with neither keeps every byte. A
// profile that can't be used is told to the note handler with the path. False when a step
// failed for want of memory.
bool MendWholePicture(CxImage& picture, PictureCorrections corrections, const std::string& path);

// The background picture stretched over the canvas, kept for the next photo while the
// file's path, size and modification time and the canvas size stay the same: every photo
// gets the pixels it would get from reading the picture again. Safe to share between
// threads.
class BackgroundCache {
public:
    BackgroundCache();
    ~BackgroundCache();
    // The stretched picture, or null when it can't be read (the colour fills instead).
    // Throws std::bad_alloc when memory ran short for it: that is not remembered.
    std::shared_ptr<const platform::Bitmap> Get(const std::string& path, uint32_t width,
        uint32_t height, PictureCorrections corrections = {});
    void Clear();
    static BackgroundCache& Shared();

private:
    struct Key;
    std::mutex mutex;
    std::unique_ptr<Key> key;
    std::shared_ptr<const platform::Bitmap> picture;
};

// How a photo is read for its frame. Streamed: a reader that can hands its rows straight
// to the reduction, where that gives the very bytes of reading the whole picture (a
// photo reduced on both sides), so the full-size picture never exists. Buffered: always
// the whole picture, then the reduction.
enum class PhotoReading { Streamed, Buffered };

// The background picture read from its file and stretched over a canvas of width x
// height with the area-averaging (halftone) stretch, in sRGB and upright unless the
// corrections say otherwise; null when it can't be read. Streamed, the rows of a reader
// that hands them over are stretched as they come (a picture to be mended is read whole).
std::shared_ptr<const platform::Bitmap> StretchBackground(const std::string& path, uint32_t width,
    uint32_t height, PhotoReading reading = PhotoReading::Streamed,
    PictureCorrections corrections = {});

// The photo read and, when larger than the photo size, reduced into it: a 24-bit image,
// or null when it can't be read (then *error, if given, holds why). With fast decoding
// the plan (made here when none is given) tells the JPEG scale. Unless the settings say
// otherwise, an embedded colour profile other than sRGB is converted to sRGB before the
// reduction, and a stored orientation turns the reduced photo upright (the reduction is
// to the upright size's transpose for a photo stored on its side).
std::unique_ptr<CxImage> ReadReducedPhoto(const std::string& photoPath,
    const ProjectSettings& settings, std::string* error = nullptr,
    PhotoReading reading = PhotoReading::Streamed, const PhotoPlan* plan = nullptr);

// Why a picture file could not be read: "not found", "is a folder", the system's reason
// for refusing it, or else the reader's error text (readerError, "" when it has none).
std::string WhyUnreadable(const std::string& path, const char* readerError);

// Makes the entry of one photo with the given settings, or null when the photo can't be
// read or its frame can't be made; then *error (if given) holds why.
std::unique_ptr<PhotoEntry> ComposeFrame(const std::string& photoPath,
    const ProjectSettings& settings, BackgroundCache* cache = nullptr, std::string* error = nullptr,
    const PhotoPlan* plan = nullptr);

// Paints the canvas of a photo: background, then the photo (24 bits, already reduced)
// centred. The canvas is settings.overallWidth x overallHeight at 24 bits per pixel.
std::unique_ptr<platform::Bitmap> ComposeCanvas(
    CxImage& photo, const ProjectSettings& settings, BackgroundCache* cache);

// Reduces a canvas to the 8-bit frame: its pixels as a 24-bit BMP file of it would load,
// quantised into an 8-bit image with the palette in its first entries.
std::unique_ptr<CxImage> QuantizeCanvas(const platform::Bitmap& canvas, std::string* error);
