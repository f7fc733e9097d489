#include "SavedWork.h"

#include <charconv>
#include <cstdio>

namespace {

constexpr const char* SETTING_WORK_PHOTOS = "WorkPhotos";
constexpr const char* SETTING_WORK_DELAYS = "WorkDelays";
constexpr const char* SETTING_WORK_CANVAS = "WorkCanvas";
constexpr const char* SETTING_WORK_BACKGROUND = "WorkBackground";
constexpr const char* SETTING_WORK_MAKING = "WorkMaking";
constexpr const char* SETTING_WORK_OUTPUT = "WorkOutput";
constexpr const char* SETTING_WORK_WINDOW = "WorkWindow";

std::vector<long long> Numbers(const std::string& line)
{
    std::vector<long long> numbers;
    const char* p = line.data();
    const char* end = p + line.size();
    while (p < end) {
        long long value = 0;
        const auto [next, error] = std::from_chars(p, end, value);
        if (error != std::errc())
            return {};
        numbers.push_back(value);
        p = next;
        if (p < end && *p++ != ',')
            return {};
    }
    return numbers;
}

std::string Joined(const std::vector<long long>& numbers)
{
    std::string line;
    for (size_t i = 0; i < numbers.size(); i++)
        line += (i ? "," : "") + std::to_string(numbers[i]);
    return line;
}

bool InRange(long long value, long long low, long long high)
{
    return value >= low && value <= high;
}

} // namespace

std::string JoinPaths(const std::vector<std::string>& paths)
{
    // '|' parts the paths; '%', '|' and line breaks inside one are written as %XX.
    std::string line;
    for (size_t i = 0; i < paths.size(); i++) {
        if (i)
            line += '|';
        for (const char c : paths[i]) {
            if (c == '%' || c == '|' || c == '\n' || c == '\r') {
                char escaped[4];
                std::snprintf(escaped, sizeof escaped, "%%%02X", unsigned(uint8_t(c)));
                line += escaped;
            } else {
                line += c;
            }
        }
    }
    return line;
}

std::vector<std::string> SplitPaths(const std::string& line)
{
    std::vector<std::string> paths;
    if (line.empty())
        return paths;
    std::string path;
    for (size_t i = 0; i < line.size(); i++) {
        const char c = line[i];
        if (c == '|') {
            paths.push_back(std::move(path));
            path.clear();
        } else if (c == '%' && i + 2 < line.size()) {
            unsigned value = 0;
            const auto [next, error]
                = std::from_chars(line.data() + i + 1, line.data() + i + 3, value, 16);
            if (error != std::errc() || next != line.data() + i + 3)
                return {};
            path += char(value);
            i += 2;
        } else {
            path += c;
        }
    }
    paths.push_back(std::move(path));
    return paths;
}

bool SaveWork(const ProjectSettings& s, const SavedWork& work)
{
    std::vector<long long> delays(work.delays.begin(), work.delays.end());
    bool ok = WriteSettingString(SETTING_WORK_PHOTOS, JoinPaths(work.photos).c_str());
    ok = WriteSettingString(SETTING_WORK_DELAYS, Joined(delays).c_str()) && ok;
    ok = WriteSettingString(SETTING_WORK_CANVAS,
             Joined({ s.overallWidth, s.overallHeight, s.photoSize, s.backgroundColor }).c_str())
        && ok;
    ok = WriteSettingString(SETTING_WORK_BACKGROUND, JoinPaths({ s.backgroundImagePath }).c_str())
        && ok;
    ok = WriteSettingString(SETTING_WORK_MAKING,
             Joined({ s.frameDelay, s.lastFrameDelay, s.optimizeSize, s.ditherColours, s.quality,
                        work.loopCount, work.openWhenDone })
                 .c_str())
        && ok;
    ok = WriteSettingString(SETTING_WORK_OUTPUT, JoinPaths({ s.outputPath }).c_str()) && ok;
    return WriteSettingString(SETTING_WORK_WINDOW, JoinPaths({ work.windowGeometry }).c_str())
        && ok;
}

bool LoadWork(ProjectSettings& settings, SavedWork& work)
{
    const auto photos = ReadSetting(SETTING_WORK_PHOTOS);
    if (!photos)
        return false;
    SavedWork w;
    w.photos = SplitPaths(*photos);
    for (const long long delay : Numbers(ReadSetting(SETTING_WORK_DELAYS).value_or("")))
        w.delays.push_back(InRange(delay, 0, MAX_FRAME_DELAY) ? int32_t(delay) : -1);
    w.delays.resize(w.photos.size(), -1);

    ProjectSettings s = settings;
    const std::vector<long long> canvas = Numbers(ReadSetting(SETTING_WORK_CANVAS).value_or(""));
    if (canvas.size() == 4 && InRange(canvas[0], MIN_CANVAS_SIDE, MAX_CANVAS_SIDE)
        && InRange(canvas[1], MIN_CANVAS_SIDE, MAX_CANVAS_SIDE)
        && InRange(canvas[2], MIN_CANVAS_SIDE, std::min(canvas[0], canvas[1]))
        && InRange(canvas[3], 0, 0xFFFFFF)) {
        s.overallWidth = uint32_t(canvas[0]);
        s.overallHeight = uint32_t(canvas[1]);
        s.photoSize = uint32_t(canvas[2]);
        s.backgroundColor = COLORREF(canvas[3]);
        const std::vector<std::string> background
            = SplitPaths(ReadSetting(SETTING_WORK_BACKGROUND).value_or(""));
        s.backgroundImagePath = background.size() == 1 ? background[0] : std::string();
    }
    const std::vector<long long> making = Numbers(ReadSetting(SETTING_WORK_MAKING).value_or(""));
    if (making.size() == 7 && InRange(making[0], 0, MAX_FRAME_DELAY)
        && InRange(making[1], 0, MAX_FRAME_DELAY) && InRange(making[4], 0, MAX_QUALITY)
        && InRange(making[5], 0, 65535)) {
        s.frameDelay = uint32_t(making[0]);
        s.lastFrameDelay = uint32_t(making[1]);
        s.optimizeSize = making[2] != 0;
        s.ditherColours = making[3] != 0;
        s.quality = uint32_t(making[4]);
        w.loopCount = uint16_t(making[5]);
        w.openWhenDone = making[6] != 0;
    }
    const std::vector<std::string> output
        = SplitPaths(ReadSetting(SETTING_WORK_OUTPUT).value_or(""));
    if (output.size() == 1 && output[0].size() <= MAX_OUTPUT_PATH)
        s.outputPath = output[0];
    const std::vector<std::string> window
        = SplitPaths(ReadSetting(SETTING_WORK_WINDOW).value_or(""));
    if (window.size() == 1)
        w.windowGeometry = window[0];
    settings = std::move(s);
    work = std::move(w);
    return true;
}
