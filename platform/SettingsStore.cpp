#include "SettingsStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

    // The values of a store file; lines that are not "name=value" are ignored.
    std::map<std::string, std::string> ParseValues(const std::string& text)
    {
        std::map<std::string, std::string> values;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            const std::string line = text.substr(start, end - start);
            const size_t equals = line.find('=');
            if (equals != std::string::npos && equals > 0)
                values[line.substr(0, equals)] = line.substr(equals + 1);
            start = end + 1;
        }
        return values;
    }

    bool ReadWholeFile(const std::string& path, std::string& text)
    {
        FILE* file = std::fopen(path.c_str(), "rb");
        if (!file)
            return false;
        char buffer[4096];
        size_t got;
        text.clear();
        // The store holds a few short values; a file beyond 1 MB is not ours.
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() < (1u << 20))
            text.append(buffer, got);
        const bool ok = !std::ferror(file);
        std::fclose(file);
        return ok;
    }

    // Creates every missing folder of path (not its last component).
    bool MakeParentFolders(const std::string& path)
    {
        for (size_t slash = path.find('/', 1); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            const std::string folder = path.substr(0, slash);
            if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
        return true;
    }

    bool WriteAll(int fd, const std::string& text)
    {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }

} // namespace

SettingsStore::SettingsStore(std::string key, std::string configFolder)
    : key(std::move(key))
    , configFolder(std::move(configFolder))
{
}

std::string SettingsStore::UserConfigFolder()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0])
        return std::string(home) + "/.config";
    return {};
}

std::string SettingsStore::FilePath() const
{
    const std::string folder = configFolder.empty() ? UserConfigFolder() : configFolder;
    if (folder.empty() || key.empty())
        return {};
    return folder + "/" + key;
}

std::optional<std::string> SettingsStore::ReadString(const std::string& name) const
{
    const std::string path = FilePath();
    std::string text;
    if (path.empty() || !ReadWholeFile(path, text))
        return std::nullopt;
    const auto values = ParseValues(text);
    const auto found = values.find(name);
    if (found == values.end())
        return std::nullopt;
    return found->second;
}

bool SettingsStore::WriteString(const std::string& name, const std::string& value) const
{
    if (name.empty() || name.find_first_of("=\n\r") != std::string::npos
        || value.find_first_of("\n\r") != std::string::npos)
        return false;
    const std::string path = FilePath();
    if (path.empty() || !MakeParentFolders(path))
        return false;

    std::string text;
    std::map<std::string, std::string> values;
    if (ReadWholeFile(path, text))
        values = ParseValues(text);
    values[name] = value;
    text.clear();
    for (const auto& [valueName, valueText] : values)
        text += valueName + "=" + valueText + "\n";

    // A unique new file beside the old one; the rename replaces the old one in one step.
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

} // namespace platform
