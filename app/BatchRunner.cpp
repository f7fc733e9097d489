#include "BatchRunner.h"

#include "platform/Memory.h"
#include "platform/Threads.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <thread>

namespace {

// What the workers share: the jobs not yet begun (costliest first), the memory the jobs
// in flight hold, and how many are done.
struct Schedule {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<size_t> waiting;
    uint64_t budget = 0;
    // Room for the small jobs (an eighth of the budget at most) beside the largest one
    // in flight: one such job per other worker.
    uint64_t smallJob = 0;
    uint64_t smallRoom = 0;
    uint64_t inFlight = 0;
    std::vector<uint64_t> running; // the memory of each job in flight
    size_t done = 0;
    // The jobs that have ended, and the first one (in the order given) that has not.
    std::vector<bool> ended;
    size_t unfinished = 0;
    unsigned workersLeft = 0;
    bool stopped = false;
};

// The memory of one job in flight: taken when the job begins (under the schedule's lock)
// and given back when it ends, however it ends.
class Lease {
public:
    Lease(Schedule& schedule, size_t job, uint64_t bytes)
        : schedule(schedule)
        , job(job)
        , bytes(bytes)
    {
        schedule.inFlight += bytes;
        schedule.running.push_back(bytes);
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease()
    {
        std::lock_guard lock(schedule.mutex);
        schedule.inFlight -= bytes;
        schedule.running.erase(std::find(schedule.running.begin(), schedule.running.end(), bytes));
        schedule.done++;
        schedule.ended[job] = true;
        while (schedule.unfinished < schedule.ended.size() && schedule.ended[schedule.unfinished])
            schedule.unfinished++;
        schedule.changed.notify_all();
    }

private:
    Schedule& schedule;
    size_t job;
    uint64_t bytes;
};

void Work(Schedule& schedule, const std::vector<BatchJob>& jobs,
    const std::function<void(size_t)>& run, const BatchOptions& options, std::vector<bool>& begun)
{
    std::unique_lock lock(schedule.mutex);
    for (;;) {
        if (!schedule.stopped && options.stopRequested) {
            lock.unlock();
            const bool stop = options.stopRequested();
            lock.lock();
            schedule.stopped = schedule.stopped || stop;
        }
        if (schedule.stopped || schedule.waiting.empty())
            break;
        // The costliest job that fits beside those in flight; one alone always fits.
        const auto fits = [&](size_t job) {
            if (options.window && job >= schedule.unfinished + options.window)
                return false;
            const uint64_t bytes = jobs[job].memoryBytes;
            if (schedule.inFlight == 0 || schedule.inFlight + bytes <= schedule.budget)
                return true;
            if (bytes > schedule.smallJob)
                return false;
            const uint64_t largest
                = *std::max_element(schedule.running.begin(), schedule.running.end());
            return schedule.inFlight + bytes <= largest + schedule.smallRoom;
        };
        const auto next = std::find_if(schedule.waiting.begin(), schedule.waiting.end(), fits);
        if (next == schedule.waiting.end()) {
            schedule.changed.wait(lock);
            continue;
        }
        const size_t job = *next;
        schedule.waiting.erase(next);
        begun[job] = true;
        {
            const Lease lease(schedule, job, jobs[job].memoryBytes);
            lock.unlock();
            run(job);
        }
        lock.lock();
    }
    schedule.workersLeft--;
    schedule.changed.notify_all();
}

} // namespace

std::vector<bool> RunBatch(const std::vector<BatchJob>& jobs,
    const std::function<void(size_t index)>& run, const BatchOptions& options)
{
    const size_t total = jobs.size();
    std::vector<bool> begun(total, false);
    const uint64_t budget = options.memoryBudget ? options.memoryBudget : DEFAULT_DECODE_BUDGET;
    // The decoders' working chunks a photo releases serve the next one, within the
    // budget: fresh pages would cost the kernel a fault and a clearing each.
    const platform::ChunkReuse reuse { size_t(budget) };
    unsigned threads = platform::ThreadsFor(options.threads);
    threads = unsigned(std::clamp<size_t>(threads, 1, std::max<size_t>(total, 1)));

    Schedule schedule;
    // A job larger than the budget runs alone, but small ones (an eighth of the budget at
    // most, streamed photos) may still run beside it, one per other worker: the other
    // cores are not left idle through the largest photo of the batch. Larger jobs stay
    // within the budget together however many workers there are.
    schedule.budget = budget;
    schedule.smallJob = budget / 8;
    schedule.smallRoom = budget / 8 * (threads - 1);
    schedule.ended.assign(total, false);
    schedule.waiting.resize(total);
    std::iota(schedule.waiting.begin(), schedule.waiting.end(), size_t(0));
    std::stable_sort(schedule.waiting.begin(), schedule.waiting.end(),
        [&](size_t a, size_t b) { return jobs[a].cost > jobs[b].cost; });
    schedule.workersLeft = threads;
    schedule.running.reserve(threads);

    // As many workers as the system lets start; none: the jobs run here, in order.
    platform::ThreadGroup workers;
    if (threads > 1) {
        const auto work = [&] { Work(schedule, jobs, run, options, begun); };
        const size_t started = workers.StartUpTo(threads, work);
        std::lock_guard lock(schedule.mutex);
        schedule.workersLeft -= threads - unsigned(started);
    }
    if (workers.Size() == 0) {
        for (size_t i = 0; i < total; i++) {
            if (options.stopRequested && options.stopRequested())
                break;
            begun[i] = true;
            run(i);
            if (options.progress)
                options.progress(i + 1, total);
        }
        return begun;
    }
    {
        // Progress is told here, on the calling thread, as jobs end.
        std::unique_lock lock(schedule.mutex);
        size_t reported = 0;
        for (;;) {
            schedule.changed.wait(
                lock, [&] { return schedule.done > reported || schedule.workersLeft == 0; });
            if (schedule.done > reported) {
                // Jobs that end while progress is being told are told on the next
                // turn, the last one included.
                reported = schedule.done;
                if (options.progress) {
                    lock.unlock();
                    options.progress(reported, total);
                    lock.lock();
                }
                continue;
            }
            break; // every worker has left and every end was told
        }
    }
    workers.JoinAll();
    return begun;
}
