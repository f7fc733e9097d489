// How much memory reading a photo will take, told from its header without decoding it,
// and a gate that lets photos be composed side by side only while their sum stays within
// a budget: a batch of large photos then peaks near one photo's need, not two.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

// The bytes the decoded photo and its reader's working buffers take (a progressive JPEG
// keeps every coefficient of the picture while it is read). Formats whose header isn't
// looked into are judged by their file size.
uint64_t EstimateDecodeBytes(const std::string& path);

class MemoryGate {
public:
    explicit MemoryGate(uint64_t budget)
        : budget(budget)
    {
    }
    // Waits until bytes more fit within the budget; a request when nothing else is in
    // flight always passes, however large.
    void Acquire(uint64_t bytes);
    void Release(uint64_t bytes);

private:
    std::mutex mutex;
    std::condition_variable released;
    uint64_t budget;
    uint64_t inFlight = 0;
};

// The budget AddPhotos composes within: photos of a batch are read side by side only
// while their estimates add up to no more than this.
constexpr uint64_t DEFAULT_DECODE_BUDGET = 120ull << 20;
