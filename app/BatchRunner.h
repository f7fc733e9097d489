// Runs the jobs of a batch (composing the photos of one selection) on worker threads.
// Jobs begin costliest first, so no large one is left to run alone at the end, and each
// begins only when the memory it holds fits beside that of the jobs in flight (a job
// alone always runs, and beside the largest job in flight fit jobs of up to an eighth of
// the budget each, one per other worker; larger ones stay within the budget together,
// however many workers there are); a worker that can't begin the costliest job begins the costliest
// one that fits, so both cores stay busy to the last job.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

struct BatchJob {
    uint64_t cost = 0;
    uint64_t memoryBytes = 0;
};

struct BatchOptions {
    // Worker threads; 0 = one per processor core. One runs every job on the calling
    // thread, in the order given, as do several when the system lets none start (and
    // fewer run when it refuses some).
    unsigned threads = 0;
    // The memory the jobs in flight may hold together; 0 = DEFAULT_DECODE_BUDGET.
    uint64_t memoryBudget = 0;
    // After each job: how many are done, and how many there are. On the calling thread.
    std::function<void(size_t done, size_t total)> progress;
    // Asked before each job is begun; once it answers true no further job is begun.
    std::function<bool()> stopRequested;
    // 0, or how far ahead of the first unfinished job (in the order given) a job may be
    // begun: a caller that takes the results in that order then holds at most this many.
    size_t window = 0;
};

// Runs run(i) for the jobs, each on one thread; answers which were begun (all of them
// unless stopped). run must not throw.
std::vector<bool> RunBatch(const std::vector<BatchJob>& jobs,
    const std::function<void(size_t index)>& run, const BatchOptions& options);

// The budget photos are composed within when none is given: two progressive photos of
// some 10 megapixels side by side. A larger one (the coefficients of a 5120 x 2880 photo
// at full colour resolution take 88 MB) runs with only streamed photos beside it, so that
// the peak stays near that of the largest photo read alone.
constexpr uint64_t DEFAULT_DECODE_BUDGET = 80ull << 20;
