// Where a making may write: the checks the desktop program makes on an output path before
// it replaces anything, so that a photo of the list or another picture is never turned
// into a GIF by mistake.
#pragma once

#include <string>
#include <vector>

// The path with ".gif" added when its file name has no extension ("trip" -> "trip.gif",
// "trip.v2" stays); empty stays empty.
std::string WithGifExtension(const std::string& path);

// Whether two paths name the same file: compared after resolving ".", "..", symbolic
// links and the working folder, as far as the file system has them (a file that does not
// exist yet compares by its folder's canonical path and its name).
bool SameFile(const std::string& a, const std::string& b);

// Whether the file starts with a GIF signature ("GIF87a" or "GIF89a"), whatever its name.
bool HasGifSignature(const std::string& path);

enum class OutputVerdict {
    Free, // nothing is there: write
    ReplacesGif, // an existing GIF is replaced
    ReplacesOther, // an existing file that is not a GIF would be replaced: ask first
    IsAPhoto, // one of the photos being made into the GIF: refuse
};

// What writing to path would do, given the photos of the list.
OutputVerdict JudgeOutputPath(const std::string& path, const std::vector<std::string>& photos);
