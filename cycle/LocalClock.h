#pragma once

#include <chrono>
#include <cstdint>

namespace kalidrome {

// A local date and time, as the calendar rules read it.
struct LocalDateTime {
    int year = 1970;
    int month = 1;   // 1 ... 12
    int day = 1;     // 1 ... 31
    int hour = 0;    // 0 ... 23
    int minute = 0;
    int second = 0;
};

// Where the calendar rules get the current local time from.
class LocalClock {
public:
    virtual ~LocalClock() = default;
    virtual LocalDateTime now() const = 0;
};

// The system's local time (time zone and daylight saving included).
class SystemLocalClock : public LocalClock {
public:
    LocalDateTime now() const override;
};

// A clock that stands still until the test moves it. Calendar arithmetic is done on a
// plain local time line (no time zone, no daylight saving), so stepping across a month's
// or a year's end lands on the right day.
class SteppedClock : public LocalClock {
public:
    explicit SteppedClock(LocalDateTime start);

    LocalDateTime now() const override;
    void set(LocalDateTime time);
    void advance(std::chrono::seconds step);

private:
    std::chrono::sys_seconds m_time;
};

}  // namespace kalidrome
