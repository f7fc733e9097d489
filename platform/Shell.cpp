#include "Shell.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

bool OpenWithDefaultProgram(const std::string& target)
{
    if (target.empty())
        return false;
    // Everything the child needs is prepared before fork: only async-signal-safe calls
    // happen between fork and exec.
    const char* arguments[] = { "xdg-open", target.c_str(), nullptr };
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        // The intermediate child forks the opener and leaves at once, so the opener is
        // re-parented and nobody has to wait for it.
        ::setsid();
        const pid_t opener = ::fork();
        if (opener != 0)
            ::_exit(opener < 0 ? 1 : 0);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execvp(arguments[0], const_cast<char* const*>(arguments));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace platform
