#include "IsolatedRun.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define BRIMVALE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRIMVALE_ASAN 1
#endif
#endif
#ifdef BRIMVALE_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace metafile {

namespace {

    // The child's report, kept in the shared page in front of the pixels.
    constexpr uint32_t CHILD_DONE = 0x454E4F44; // "DONE"
    constexpr size_t HEADER_BYTES = 64;

    struct ChildReport {
        volatile uint32_t state;
        volatile uint32_t answer;
    };

    uint64_t MappedBytes()
    {
        // First field of statm: the whole virtual size in pages.
        FILE* file = std::fopen("/proc/self/statm", "r");
        if (!file)
            return 0;
        unsigned long long pages = 0;
        if (std::fscanf(file, "%llu", &pages) != 1)
            pages = 0;
        std::fclose(file);
        return uint64_t(pages) * uint64_t(sysconf(_SC_PAGESIZE));
    }

    void LimitChild(const IsolationLimits& limits)
    {
        const rlimit cpu { limits.cpuSeconds, limits.cpuSeconds + 1 };
        setrlimit(RLIMIT_CPU, &cpu);
        const rlimit core { 0, 0 };
        setrlimit(RLIMIT_CORE, &core);
#ifndef BRIMVALE_ASAN
        // The sanitizer reserves terabytes of shadow memory, so the address-space cap only
        // applies to ordinary builds.
        const uint64_t mapped = MappedBytes();
        if (mapped) {
            const rlimit space { rlim_t(mapped + limits.extraAddressSpace),
                rlim_t(mapped + limits.extraAddressSpace) };
            setrlimit(RLIMIT_AS, &space);
        }
#else
        (void)MappedBytes;
#endif
        // The child needs none of the program's files, windows or sockets; closing them
        // keeps a library that misbehaves (or exits through the program's own exit
        // handlers) away from them.
#ifdef SYS_close_range
        if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
        {
            const long highest = std::min<long>(sysconf(_SC_OPEN_MAX), 65536);
            for (int fd = 3; fd < highest; fd++)
                close(fd);
        }
        // Libraries that chatter on standard output must not mix into the program's own.
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDOUT_FILENO);
            close(devNull);
        }
    }

    void SleepMicroseconds(long microseconds)
    {
        timespec pause { microseconds / 1000000, (microseconds % 1000000) * 1000 };
        while (nanosleep(&pause, &pause) != 0 && errno == EINTR) { }
    }

    long ElapsedMilliseconds(const timespec& start)
    {
        timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    }

} // namespace

SharedRaster::SharedRaster(int32_t rasterWidth, int32_t rasterHeight)
    : width(rasterWidth)
    , height(rasterHeight)
{
    if (width <= 0 || height <= 0)
        return;
    bytes = HEADER_BYTES + size_t(width) * size_t(height) * 4;
    void* mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    memory = mapping == MAP_FAILED ? nullptr : mapping;
}

SharedRaster::~SharedRaster()
{
    if (memory)
        munmap(memory, bytes);
}

uint32_t* SharedRaster::Pixels() const
{
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(memory) + HEADER_BYTES);
}

void SharedRaster::Fill(uint32_t value)
{
    uint32_t* pixels = Pixels();
    const size_t count = size_t(width) * size_t(height);
    for (size_t i = 0; i < count; i++)
        pixels[i] = value;
}

bool RunIsolated(SharedRaster& raster, const std::function<bool(SharedRaster&)>& work,
    const IsolationLimits& limits)
{
    if (!raster.IsValid())
        return false;
    auto* report = static_cast<ChildReport*>(raster.memory);
    report->state = 0;
    report->answer = 0;

    std::fflush(nullptr); // buffered output must not be written twice
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        LimitChild(limits);
        const bool answer = work(raster);
        report->answer = answer ? 1 : 0;
        report->state = CHILD_DONE;
        _exit(0);
    }

    timespec start {};
    clock_gettime(CLOCK_MONOTONIC, &start);
    // A process descriptor lets the wait sleep until the child ends; without one the
    // child is polled.
#ifdef SYS_pidfd_open
    const int childFd = int(syscall(SYS_pidfd_open, child, 0));
#else
    const int childFd = -1;
#endif
    long pause = 100;
    int status = 0;
    bool statusKnown = false;
    bool finished = false;
    for (;;) {
        const pid_t result = waitpid(child, &status, WNOHANG);
        if (result == child) {
            statusKnown = true;
            finished = true;
            break;
        }
        // When the program lets the system reap its children, waiting fails; then the
        // child is done once it no longer exists, and only its report tells the outcome.
        if (result < 0 && errno == ECHILD && kill(child, 0) != 0) {
            finished = true;
            break;
        }
        const long elapsed = ElapsedMilliseconds(start);
        if (elapsed > long(limits.wallMilliseconds))
            break;
        if (childFd >= 0) {
            pollfd wait { childFd, POLLIN, 0 };
            poll(&wait, 1, int(std::min<long>(long(limits.wallMilliseconds) - elapsed + 1, 1000)));
        } else {
            SleepMicroseconds(pause);
            if (pause < 20000)
                pause *= 2;
        }
    }
    if (childFd >= 0)
        close(childFd);
    if (!finished) {
        kill(child, SIGKILL);
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
        return false;
    }
    if (statusKnown && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        return false;
    return report->state == CHILD_DONE && report->answer == 1;
}

} // namespace metafile
