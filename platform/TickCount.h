#pragma once

#include <cstdint>

namespace kalidrome::platform {

// Milliseconds since the system started, kept in 32 bits so that it wraps around after
// about 49.7 days, as the stored heartbeat does. Counts time spent suspended, so two
// processes always agree on it.
std::uint32_t TickCountNow();

// A source of tick counts that tests can step.
class TickSource {
public:
    virtual ~TickSource() = default;
    virtual std::uint32_t now() const = 0;
};

class SystemTickSource final : public TickSource {
public:
    std::uint32_t now() const override { return TickCountNow(); }
};

// The absolute distance between two tick counts taken less than 2^31 ms apart,
// computed with 32-bit wrap-around.
std::uint32_t TickDistance(std::uint32_t a, std::uint32_t b);

}  // namespace kalidrome::platform
