// Starting threads where the system may refuse one: a group of helpers that carries on with
// as many as it got (possibly none), instead of ending the program.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace platform {

// Threads started to help the calling one, all joined when the group ends.
class ThreadGroup {
public:
    ThreadGroup() = default;
    ~ThreadGroup();
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;

    // Starts a thread running work; false (and work not run) when the system refuses a
    // thread or the memory to start it. work must not throw.
    bool Start(const std::function<void()>& work);
    // Starts up to count threads, each running work; answers how many started.
    size_t StartUpTo(size_t count, const std::function<void()>& work);
    void JoinAll();
    size_t Size() const { return threads.size(); }

private:
    std::vector<std::thread> threads;
};

// The threads a caller's "0 = one per processor core" stands for: at least one.
unsigned ThreadsFor(unsigned requested);

// For tests: after `allowed` more threads have started through any ThreadGroup, every
// further start is refused (a negative count: none is refused, the default).
void RefuseThreadsAfter(long allowed);

} // namespace platform
