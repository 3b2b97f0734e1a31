// How long a serial read may still wait, by the read time-outs.
#include <algorithm>

#include "ReadTimer.h"

namespace platform {

ReadWait ReadTimeLeft(const Timeouts& timeouts, std::size_t n, std::int64_t startMs,
                      std::size_t received, std::int64_t lastByteMs, std::int64_t nowMs) {
    const std::int64_t total = std::int64_t(timeouts.readTotalMultiplier) * std::int64_t(n) +
                               std::int64_t(timeouts.readTotalConstant);
    const bool totalCounts = total > 0;
    const bool intervalCounts = received > 0 && timeouts.readInterval > 0;
    const std::int64_t totalEnd = startMs + total;
    const std::int64_t intervalEnd = lastByteMs + std::int64_t(timeouts.readInterval);
    if (totalCounts && totalEnd <= nowMs)
        return {ReadEnd::Total, 0};
    if (intervalCounts && intervalEnd <= nowMs)
        return {ReadEnd::Interval, 0};
    if (totalCounts && intervalCounts)
        return {ReadEnd::No, std::min(totalEnd, intervalEnd) - nowMs};
    if (totalCounts)
        return {ReadEnd::No, totalEnd - nowMs};
    if (intervalCounts)
        return {ReadEnd::No, intervalEnd - nowMs};
    return {ReadEnd::No, -1};
}

}  // namespace platform
