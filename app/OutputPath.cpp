#include "OutputPath.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string WithGifExtension(const std::string& path)
{
    if (path.empty())
        return path;
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A leading dot starts a hidden name, not an extension.
    const size_t dot = name.find_last_of('.');
    if (name.empty() || (dot != std::string::npos && dot > 0 && dot + 1 < name.size()))
        return path;
    if (!name.empty() && name.back() == '.')
        return path + "gif";
    return path + ".gif";
}

namespace {

fs::path Resolved(const std::string& path)
{
    std::error_code error;
    fs::path absolute = fs::absolute(fs::path(path), error);
    if (error)
        absolute = fs::path(path);
    fs::path canonical = fs::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical;
}

} // namespace

bool SameFile(const std::string& a, const std::string& b)
{
    if (a.empty() || b.empty())
        return false;
    std::error_code error;
    // Two names of one existing file (a hard link too) are the same file.
    if (fs::equivalent(fs::path(a), fs::path(b), error) && !error)
        return true;
    return Resolved(a) == Resolved(b);
}

bool HasGifSignature(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char head[6] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return got == sizeof head
        && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0);
}

OutputVerdict JudgeOutputPath(const std::string& path, const std::vector<std::string>& photos)
{
    for (const std::string& photo : photos) {
        if (SameFile(path, photo))
            return OutputVerdict::IsAPhoto;
    }
    std::error_code error;
    if (!fs::exists(fs::path(path), error))
        return OutputVerdict::Free;
    return HasGifSignature(path) ? OutputVerdict::ReplacesGif : OutputVerdict::ReplacesOther;
}
