#include "TickCount.h"

#include <time.h>

namespace kalidrome::platform {

std::uint32_t TickCountNow() {
    timespec ts{};
    if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0) clock_gettime(CLOCK_MONOTONIC, &ts);
    auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::uint32_t TickDistance(std::uint32_t a, std::uint32_t b) {
    std::uint32_t d = a - b;
    std::uint32_t e = b - a;
    return d < e ? d : e;
}

}  // namespace kalidrome::platform
