// OrderedPool.h - runs independent pieces of work on several threads and
// hands their results back in their original order.
//
// RunOrdered(count, options, work, consume) calls work(i) for every i in
// [0, count) on up to options.jobs threads and consume(i, result) on the
// calling thread for i = 0, 1, 2, ... in that order. Only the order of the
// work changes with the number of threads; what consume sees never does, so
// the output of a run is the same for every thread count.
//
// Memory stays bounded: a worker starts item i only while fewer than
// options.window items wait between the consumer and the workers, and while
// the sizes (weight(i)) of the items in flight stay within options.budget.
// The item the consumer waits for may always start, so one item larger than
// the budget still passes, alone.
//
// With jobs <= 1 no thread is started: work and consume alternate on the
// calling thread. Workers start with SIGINT, SIGTERM and SIGHUP blocked, so
// that vpf's interrupt handler runs on the calling thread (Interrupt.h). work must not touch what
// consume changes; consume may stop the run early by returning false (items already started finish,
// their results are dropped).
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tools/Interrupt.h"

namespace vpf {

struct PoolOptions {
    unsigned jobs = 1;
    std::size_t window = 8;               // items started but not yet consumed
    std::uint64_t budget = 256ull << 20;  // sum of weights in flight
};

template <class Result>
void RunOrdered(std::size_t count, const PoolOptions& options,
                const std::function<std::uint64_t(std::size_t)>& weight,
                const std::function<Result(std::size_t)>& work,
                const std::function<bool(std::size_t, Result&&)>& consume) {
    if (options.jobs <= 1 || count <= 1) {
        for (std::size_t i = 0; i < count; ++i)
            if (!consume(i, work(i)))
                return;
        return;
    }
    const std::size_t window = std::max<std::size_t>(options.window, 1);
    std::mutex mutex;
    std::condition_variable workersWake;
    std::condition_variable consumerWake;
    std::deque<std::optional<Result>> ready;  // slot k holds item consumed + k
    std::size_t consumed = 0;                 // next item the consumer takes
    std::size_t next = 0;                     // next item a worker starts
    std::uint64_t inFlight = 0;
    bool stop = false;

    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            workersWake.wait(lock, [&] {
                if (stop || next >= count)
                    return true;
                if (next - consumed >= window)
                    return false;
                return next == consumed || inFlight + weight(next) <= options.budget;
            });
            if (stop || next >= count)
                return;
            const std::size_t i = next++;
            const std::uint64_t w = weight(i);
            inFlight += w;
            if (ready.size() < next - consumed)
                ready.resize(next - consumed);
            lock.unlock();
            std::optional<Result> result(work(i));
            lock.lock();
            if (i >= consumed)
                ready[i - consumed] = std::move(result);
            consumerWake.notify_one();
        }
    };

    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(options.jobs, count));
    std::vector<std::thread> pool;
    pool.reserve(threads);
    {
        const interrupt::WorkerSignalMask mask;
        for (unsigned t = 0; t < threads; ++t)
            pool.emplace_back(worker);
    }

    {
        std::unique_lock lock(mutex);
        while (consumed < count) {
            consumerWake.wait(lock, [&] { return !ready.empty() && ready.front().has_value(); });
            Result result = std::move(*ready.front());
            ready.pop_front();
            inFlight -= weight(consumed);
            ++consumed;
            workersWake.notify_all();
            lock.unlock();
            const bool goOn = consume(consumed - 1, std::move(result));
            lock.lock();
            if (!goOn) {
                stop = true;
                workersWake.notify_all();
                break;
            }
        }
    }
    for (std::thread& t : pool)
        t.join();
}

}  // namespace vpf
