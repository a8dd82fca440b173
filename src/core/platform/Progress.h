#pragma once
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

namespace spindle {

// One step of an operation's plan, weighted by its share of the time the
// operation is expected to take.
struct ProgressStep {
    int step = 0;
    std::uint32_t weight = 0;
};

// Where an operation is: the step it is in, `done` of that step's `total`
// units, and `percent`, the whole operation's share done by the weights.
struct ProgressPoint {
    int step = 0;
    std::uint32_t done = 0;
    std::uint32_t total = 0;
    int percent = 0;
};

// How far an operation is, for every front end to read the same numbers.
// One thread writes at a time (a job's worker, or the user-interface thread
// during a command); any thread reads. The writer brackets every change with
// a sequence count and a reader retries a read that overlapped one, so a
// reader always sees a step with its own totals and never holds the worker
// up. A front end that looks only now and then (the command line
// off a terminal) takes the marks instead: a point for every step entered
// and every quarter of a step passed, in order.
class CProgress {
public:
    static constexpr std::size_t kMaxSteps = 8;

    // A new operation of these steps, in order (at most kMaxSteps; a step
    // not in the plan counts as the plan's start). Clears the marks.
    void Plan(const std::vector<ProgressStep>& steps) {
        Write([&] {
            const std::size_t count = std::min(steps.size(), kMaxSteps);
            for (std::size_t i = 0; i < count; ++i) {
                ids_[i].store(steps[i].step, std::memory_order_relaxed);
                weights_[i].store(steps[i].weight, std::memory_order_relaxed);
            }
            count_.store(count, std::memory_order_relaxed);
            step_.store(count > 0 ? steps.front().step : 0, std::memory_order_relaxed);
            done_.store(0, std::memory_order_relaxed);
            total_.store(0, std::memory_order_relaxed);
        });
        std::lock_guard guard(marksMutex_);
        marks_.clear();
    }

    // The step of `total` units entered, `done` of them done already.
    void Enter(int step, std::uint32_t total, std::uint32_t done = 0) {
        Write([&] {
            step_.store(step, std::memory_order_relaxed);
            done_.store(done, std::memory_order_relaxed);
            total_.store(total, std::memory_order_relaxed);
        });
        Mark();
    }

    // Another `units` of the step done.
    void Advance(std::uint32_t units) {
        const std::uint64_t before = done_.load(std::memory_order_relaxed);
        Write([&] { done_.store(static_cast<std::uint32_t>(before + units), std::memory_order_relaxed); });
        const std::uint64_t total = total_.load(std::memory_order_relaxed);
        if (total > 0 && 4 * before / total != 4 * (before + units) / total) Mark();
    }

    ProgressPoint Now() const {
        for (;;) {
            const std::uint32_t seen = sequence_.load(std::memory_order_acquire);
            if (seen % 2 == 1) continue;  // a change is being written
            ProgressPoint point;
            point.step = step_.load(std::memory_order_relaxed);
            point.done = done_.load(std::memory_order_relaxed);
            point.total = total_.load(std::memory_order_relaxed);
            // Hundredths of the weights: `within` of the step's own weight.
            std::uint64_t before = 0, within = 0, all = 0;
            bool reached = false;
            const std::size_t count = count_.load(std::memory_order_relaxed);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint64_t weight = weights_[i].load(std::memory_order_relaxed);
                all += weight;
                if (reached) continue;
                if (ids_[i].load(std::memory_order_relaxed) == point.step) {
                    reached = true;
                    if (point.total > 0) {
                        const std::uint64_t part = weight * std::min(point.done, point.total);  // < 2^64
                        within = part / point.total * 100 + part % point.total * 100 / point.total;
                    }
                } else {
                    before += weight;
                }
            }
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) != seen) continue;
            point.percent = reached && all > 0 ? static_cast<int>((100 * before + within) / all) : 0;
            return point;
        }
    }

    // The marks since the last call, in order.
    std::vector<ProgressPoint> TakeMarks() {
        std::lock_guard guard(marksMutex_);
        return std::exchange(marks_, {});
    }

private:
    template <typename Change>
    void Write(Change change) {
        const std::uint32_t at = sequence_.load(std::memory_order_relaxed);
        sequence_.store(at + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        change();
        sequence_.store(at + 2, std::memory_order_release);
    }

    void Mark() {
        const ProgressPoint point = Now();
        std::lock_guard guard(marksMutex_);
        marks_.push_back(point);
    }

    std::atomic<std::uint32_t> sequence_{0};
    std::array<std::atomic<int>, kMaxSteps> ids_{};
    std::array<std::atomic<std::uint32_t>, kMaxSteps> weights_{};
    std::atomic<std::size_t> count_{0};
    std::atomic<int> step_{0};
    std::atomic<std::uint32_t> done_{0};
    std::atomic<std::uint32_t> total_{0};
    std::mutex marksMutex_;
    std::vector<ProgressPoint> marks_;
};

}  // namespace spindle
