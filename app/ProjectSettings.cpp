#include "ProjectSettings.h"

#include "platform/SettingsStore.h"

#include <cstring>
#include <mutex>

namespace {

constexpr const char* SETTINGS_KEY = "ORRINWICK/Brimvale/Settings";

std::mutex storeMutex;
std::string settingsFolder;

platform::SettingsStore Store()
{
    std::lock_guard lock(storeMutex);
    return platform::SettingsStore(SETTINGS_KEY, settingsFolder);
}

} // namespace

bool previewEnabled = false;

ProjectSettings& TheProjectSettings()
{
    static ProjectSettings settings;
    return settings;
}

bool ReadSettingString(const char* name, char* buffer, size_t size)
{
    if (!name || !buffer || size == 0)
        return false;
    const auto value = Store().ReadString(name);
    if (!value || value->size() + 1 > size)
        return false;
    std::memcpy(buffer, value->c_str(), value->size() + 1);
    return true;
}

std::optional<std::string> ReadSetting(const char* name)
{
    if (!name)
        return std::nullopt;
    return Store().ReadString(name);
}

bool WriteSettingString(const char* name, const char* text)
{
    if (!name)
        return false;
    return Store().WriteString(name, text ? text : "");
}

bool ReadFastDecodingSetting()
{
    char value[8] = {};
    return ReadSettingString(SETTING_FAST_DECODING, value, sizeof value)
        && std::strcmp(value, "1") == 0;
}

bool WriteFastDecodingSetting(bool on)
{
    return WriteSettingString(SETTING_FAST_DECODING, on ? "1" : "0");
}

std::string FolderOfPhoto(const std::string& photoPath)
{
    const size_t slash = photoPath.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    std::string folder = photoPath.substr(0, slash);
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    return folder.empty() ? "/" : folder;
}

void SetSettingsFolder(const std::string& folder)
{
    std::lock_guard lock(storeMutex);
    settingsFolder = folder;
}
