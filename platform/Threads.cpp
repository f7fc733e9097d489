#include "Threads.h"

#include <atomic>
#include <new>
#include <system_error>

namespace platform {

namespace {
    std::atomic<long> threadsAllowed { -1 };

    bool Refused()
    {
        long allowed = threadsAllowed.load();
        while (allowed >= 0) {
            if (allowed == 0)
                return true;
            if (threadsAllowed.compare_exchange_weak(allowed, allowed - 1))
                return false;
        }
        return false;
    }
} // namespace

ThreadGroup::~ThreadGroup() { JoinAll(); }

bool ThreadGroup::Start(const std::function<void()>& work)
{
    if (Refused())
        return false;
    try {
        threads.reserve(threads.size() + 1);
        threads.emplace_back(work);
        return true;
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    return false;
}

size_t ThreadGroup::StartUpTo(size_t count, const std::function<void()>& work)
{
    size_t started = 0;
    while (started < count && Start(work))
        started++;
    return started;
}

void ThreadGroup::JoinAll()
{
    for (std::thread& thread : threads)
        if (thread.joinable())
            thread.join();
    threads.clear();
}

unsigned ThreadsFor(unsigned requested)
{
    if (requested)
        return requested;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores ? cores : 1;
}

void RefuseThreadsAfter(long allowed) { threadsAllowed = allowed; }

} // namespace platform
