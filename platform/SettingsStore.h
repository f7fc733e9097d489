// A small per-user key/value store of our own: one text file per key under the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config), one "name=value" line per
// value. Every write replaces the file atomically (a new file beside it, then a rename),
// so a crash never leaves it half written.
#pragma once

#include <optional>
#include <string>

namespace platform {

class SettingsStore {
public:
    // key: a relative path such as "ORRINWICK/Brimvale/Settings". configFolder: the
    // folder the key lives in; empty means the user's configuration folder.
    explicit SettingsStore(std::string key, std::string configFolder = {});

    // The value, or nothing when the file or the value is missing or unreadable.
    std::optional<std::string> ReadString(const std::string& name) const;
    // Stores the value (creating the folders and the file when missing); false on any
    // failure, with the old file untouched. Names may not hold '=' or line breaks, values
    // no line breaks.
    bool WriteString(const std::string& name, const std::string& value) const;

    // The file that holds the key's values.
    std::string FilePath() const;
    // $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config; empty when neither
    // is known.
    static std::string UserConfigFolder();

private:
    std::string key;
    std::string configFolder;
};

} // namespace platform
