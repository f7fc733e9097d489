// Making the animation straight from photos: each photo is composed and its frame coded
// on the composing threads, and the frames go into the file in order as soon as each one
// and every one before it are ready, then are forgotten. Memory holds the frames in
// flight and a short window of coded frames that wait for their turn, however many
// photos there are; the file is the very one EncodeAnimation writes from a list of the
// same photos.
#pragma once

#include "MakeGif.h"
#include "PhotoList.h"
#include "ProjectSettings.h"

#include <functional>
#include <string>
#include <vector>

class CxStream;

struct StreamOptions {
    // How the photos are composed (sortByPath is not used: the frames follow the paths'
    // order). Its progress counts the photos composed.
    AddPhotosOptions photos;
    // Loop count and delays as for EncodeAnimation, but frameDelays holds one delay per
    // photo (a photo that can't be read drops its value). Its progress counts the frames
    // written out of the photos given.
    AnimationOptions animation;
    // How many photos may be composed ahead of the first one whose frame is not written
    // yet; 0 = four per thread (at least eight), or as many as 16 MiB of indexed frames.
    size_t window = 0;
    // Asked before the first frame is written (or a photo that memory ran short for is
    // composed again); false abandons the making.
    std::function<bool()> beforeFirstFrame;
};

struct StreamResult {
    std::vector<PhotoFailure> failures; // the photos that could not be read, in order
    size_t frames = 0; // written
    bool abandoned = false; // beforeFirstFrame said no
    // With optimizeSize: some frame's colours don't fit one table, so the file is to be
    // the plain one (StreamAnimation leaves that to its caller).
    bool unplannable = false;
};

// Composes the photos and writes the animation of those that can be read into stream.
// False when none could be read, the making was abandoned or stopped, or a write failed.
bool StreamAnimation(const std::vector<std::string>& paths, const ProjectSettings& settings,
    CxStream* stream, const StreamOptions& options, StreamResult& result);

// Whether the frames are made from the canvas as they are written (dithering, the
// quality mode), which an entry of a compact list no longer holds.
bool NeedsCanvas(const ProjectSettings& settings);

// EncodeAnimation of a compact list: the coded frames written as they are; for the
// optimising writer each decoded in turn; when the frames need the canvas, the photos
// composed again from their files (a photo that can no longer be read fails the making).
bool EncodeCompactList(const PhotoList& list, const ProjectSettings& settings, CxStream* stream,
    const AnimationOptions& options);

// Writes settings.outputPath from the photos as MakeGif does from a list (replaced only
// by a complete new file; nothing is shown or opened). NothingToMake when no photo could
// be read or the making was abandoned (the output untouched); Failed, with the reason in
// why, when the file could not be written.
MakeResult MakeGifFromPhotos(const std::vector<std::string>& paths, const ProjectSettings& settings,
    const StreamOptions& options, StreamResult& result, std::string* why = nullptr);
