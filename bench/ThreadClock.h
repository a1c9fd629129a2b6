// The CPU time of the calling thread, as a std::chrono clock: what the benchmarks time, so that
// time spent waiting for a core on a busy machine is not counted.
#pragma once

#include <time.h>

#include <chrono>

namespace velo::bench {

struct ThreadClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<ThreadClock>;
    static constexpr bool is_steady = false;

    static time_point now() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return time_point(std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec));
    }
};

inline double seconds(ThreadClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace velo::bench
