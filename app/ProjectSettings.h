// The animation's settings: how every frame is built and where the result goes. One
// process-wide record that starts from the same built-in defaults; the folder photos were
// last added from and the choice of fast decoding survive between runs, and the desktop
// program keeps the rest with its work (SavedWork.h).
#pragma once

#include "platform/DibTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The ranges the dialogs and the command-line tool enforce before writing the record.
constexpr uint32_t MIN_CANVAS_SIDE = 32;
constexpr uint32_t MAX_CANVAS_SIDE = 800;
constexpr uint32_t MAX_FRAME_DELAY = 9999;
constexpr size_t MAX_OUTPUT_PATH = 259;
constexpr uint32_t MAX_QUALITY = 100;

struct ProjectSettings {
    uint32_t overallWidth = 120;
    uint32_t overallHeight = 120;
    uint32_t photoSize = 120;
    COLORREF backgroundColor = 0xFFFFFF;
    std::string backgroundImagePath;
    std::string outputPath; // at most MAX_OUTPUT_PATH characters
    uint32_t frameDelay = 50; // 1/100 s
    uint32_t lastFrameDelay = 50; // 1/100 s
    // A JPEG photo much larger than the photo size is decoded at a reduced DCT scale (a
    // progressive one from its DC scans alone when that scale is 1/8), then reduced as
    // usual: several times faster, the frame a little less exact.
    bool fastDecoding = false;
    // Making: the smallest file that shows the same frames, and error diffusion instead of
    // the nearest palette colour. Both off unless asked for.
    bool optimizeSize = false;
    bool ditherColours = false;
    // Making for the eye: 0 keeps the designed frames (octree palette); 1..100 chooses each
    // frame's palette and dithering for the best look per byte, lower trading looks for
    // size.
    uint32_t quality = 0;
    // Reading: an embedded colour profile other than sRGB is converted to sRGB, and a
    // stored orientation is applied, unless these say to keep the pixels as stored.
    bool ignoreProfiles = false;
    bool ignoreOrientation = false;
};

// The process-wide record and the state of the photo dialog's "Preview" box.
ProjectSettings& TheProjectSettings();
extern bool previewEnabled;

// The persistent value that keeps the last photo folder.
constexpr const char* SETTING_OPEN_PIC_DIR = "OpenPicDir";
// The persistent value of the "Fast decoding" check box: "1" checked, anything else not.
constexpr const char* SETTING_FAST_DECODING = "FastDecoding";

// Reads a value of the program's settings store into buffer (size bytes, terminated); on
// any failure, or a value that does not fit, the buffer is left as it was and the result
// is false.
bool ReadSettingString(const char* name, char* buffer, size_t size);
// The same for a value of any length; nothing when it is missing or unreadable.
std::optional<std::string> ReadSetting(const char* name);
// Stores a value (null text stores the empty string); failures give false and nothing
// else.
bool WriteSettingString(const char* name, const char* text);

// The "Fast decoding" choice as it was last stored; off when it never was.
bool ReadFastDecodingSetting();
bool WriteFastDecodingSetting(bool on);

// The folder of a photo path as OpenPicDir keeps it: without a trailing separator, and
// "/" for a photo at the root.
std::string FolderOfPhoto(const std::string& photoPath);

// The store behind ReadSettingString / WriteSettingString: the key under the user's
// configuration folder, or under another folder (tests); empty restores the default.
void SetSettingsFolder(const std::string& folder);
