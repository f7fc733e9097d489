#include "Files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool GetFileStamp(const std::string& path, FileStamp& stamp)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return false;
    stamp.size = int64_t(info.st_size);
    stamp.modifiedSeconds = int64_t(info.st_mtim.tv_sec);
    stamp.modifiedNanoseconds = int64_t(info.st_mtim.tv_nsec);
    return true;
}

TemporaryFile::~TemporaryFile()
{
    if (file)
        std::fclose(file);
    if (!path.empty() && !committed)
        ::unlink(path.c_str());
}

int TemporaryFile::Create(const std::string& folder, const std::string& name, unsigned permissions)
{
    std::string made = folder + "/." + name + ".XXXXXX";
    const int fd = ::mkstemp(made.data());
    if (fd < 0)
        return errno;
    path = std::move(made);
    ::fchmod(fd, mode_t(permissions));
    file = ::fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    return 0;
}

int TemporaryFile::Close()
{
    if (!file)
        return EBADF;
    int error = 0;
    errno = 0;
    if (std::fflush(file) != 0 || std::ferror(file) || ::fsync(::fileno(file)) != 0)
        error = errno ? errno : EIO;
    if (std::fclose(file) != 0 && error == 0)
        error = errno ? errno : EIO;
    file = nullptr;
    return error;
}

int TemporaryFile::CommitAs(const std::string& target)
{
    if (file || path.empty())
        return EBADF;
    if (::rename(path.c_str(), target.c_str()) != 0)
        return errno;
    committed = true;
    return 0;
}

unsigned NewFilePermissions()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~unsigned(mask);
}

} // namespace platform
