// Files as the program needs them from the system: what tells that a file changed, and a
// new file written beside its target and put in its place only when complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The size and modification time of a file: a picture read before with the same stamp has
// the same contents.
struct FileStamp {
    int64_t size = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};
bool GetFileStamp(const std::string& path, FileStamp& stamp);

// A new file in a folder, removed again (and closed) when it ends, however that comes
// about, unless it was committed in place of its target.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates a hidden file named after `name` in folder with the given permissions, open
    // for writing; 0, or the system's error number.
    int Create(const std::string& folder, const std::string& name, unsigned permissions);
    FILE* File() const { return file; }
    // Flushes, syncs to the disk and closes the file; 0, or the system's error number.
    int Close();
    // Puts the closed file in the place of target; 0, or the system's error number.
    int CommitAs(const std::string& target);

private:
    FILE* file = nullptr;
    std::string path;
    bool committed = false;
};

// The permissions a newly created file gets (0666 less the process's mask).
unsigned NewFilePermissions();

} // namespace platform
