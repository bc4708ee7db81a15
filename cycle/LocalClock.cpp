#include "LocalClock.h"

#include <ctime>

namespace kalidrome {

LocalDateTime SystemLocalClock::now() const {
    std::time_t t = std::time(nullptr);
    std::tm tm {};
    ::localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

namespace {

std::chrono::sys_seconds ToLine(const LocalDateTime& t) {
    using namespace std::chrono;
    sys_days day{year{t.year} / month{static_cast<unsigned>(t.month)} / static_cast<unsigned>(t.day)};
    return day + hours{t.hour} + minutes{t.minute} + seconds{t.second};
}

}  // namespace

SteppedClock::SteppedClock(LocalDateTime start) : m_time(ToLine(start)) {}

LocalDateTime SteppedClock::now() const {
    using namespace std::chrono;
    sys_days day = floor<days>(m_time);
    year_month_day ymd{day};
    hh_mm_ss<seconds> hms{m_time - day};
    return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(hms.hours().count()),
            static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count())};
}

void SteppedClock::set(LocalDateTime time) { m_time = ToLine(time); }

void SteppedClock::advance(std::chrono::seconds step) { m_time += step; }

}  // namespace kalidrome
