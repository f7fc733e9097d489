// The desktop program's work as it is kept between runs in the settings store: the photo
// list (paths in order, with their own delays), the canvas and background, the making's
// options and output file, and the window's place. Written when the program ends and
// read at the next start.
#pragma once

#include "ProjectSettings.h"

#include <cstdint>
#include <string>
#include <vector>

struct SavedWork {
    std::vector<std::string> photos; // in list order
    std::vector<int32_t> delays; // one per photo; -1: the making's delays
    uint16_t loopCount = 0;
    bool openWhenDone = true;
    std::string windowGeometry; // the toolkit's own bytes, stored as given
};

// Stores the settings' canvas, background, delays, making options and output path, and
// the work; false when the store can't be written.
bool SaveWork(const ProjectSettings& settings, const SavedWork& work);
// Reads what SaveWork stored into settings and work (values out of range keep the
// defaults); false, with both untouched, when nothing was ever stored.
bool LoadWork(ProjectSettings& settings, SavedWork& work);

// A list of texts as one line of the store, and back.
std::string JoinPaths(const std::vector<std::string>& paths);
std::vector<std::string> SplitPaths(const std::string& line);
