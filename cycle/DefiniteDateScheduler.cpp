#include "DefiniteDateScheduler.h"

#include <algorithm>

#include "IniFile.h"

namespace kalidrome {

using namespace definite_date;

namespace {

// Values a rule key is read with when it is missing.
constexpr std::int32_t kMissingValue = -1;
constexpr std::int32_t kMissingMarker = -2;

// The index of a key "Cmd<i>" with i in plain decimal (as the editor writes it and as
// "Cmd" + i is looked up: no sign, no leading zero), or -1.
std::int64_t CmdIndex(std::string_view key) {
    if (key.size() < 4 || !EqualsNoCase(key.substr(0, 3), "Cmd")) return -1;
    std::string_view digits = key.substr(3);
    if (digits.size() > 1 && digits.front() == '0') return -1;
    if (digits.size() > 10) return -1;
    std::int64_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

DefiniteDateScheduler::DefiniteDateScheduler(IniFile& settings, const LocalClock& clock,
                                             std::function<void()> cycleNow)
    : m_settings(settings), m_clock(clock), m_cycleNow(std::move(cycleNow)) {}

void DefiniteDateScheduler::CheckDefiniteDates() {
    const std::int32_t count = m_settings.readInteger(kSection, kCount, 0);
    if (count <= 0) return;
    for (std::int32_t index : ruleIndices(count)) checkRule(index);
}

std::vector<std::int32_t> DefiniteDateScheduler::ruleIndices(std::int32_t count) const {
    const std::int64_t end = std::min(count, kMaxRules);
    std::vector<std::int32_t> indices;
    for (const std::string& key : m_settings.readSectionKeys(kSection)) {
        std::int64_t i = CmdIndex(key);
        if (i >= 0 && i < end) indices.push_back(static_cast<std::int32_t>(i));
    }
    std::sort(indices.begin(), indices.end());
    return indices;
}

void DefiniteDateScheduler::checkRule(std::int32_t i) {
    const std::string text = m_settings.readString(kSection, CmdKey(i), "");
    if (text.empty()) return;
    TDateInfo rule;
    rule.Day = m_settings.readInteger(kSection, DayKey(i), kMissingValue);
    rule.Month = m_settings.readInteger(kSection, MonthKey(i), kMissingValue);
    rule.Hour = m_settings.readInteger(kSection, HourKey(i), kMissingValue);
    const LocalDateTime now = m_clock.now();
    auto marker = [&](const std::string& key) { return m_settings.readInteger(kSection, key, kMissingMarker); };

    try {
        switch (RuleKindOf(text, rule)) {
        case RuleKind::DayOfEachMonth:
            if (now.day != rule.Day || marker(LastChangeDayOfMonthKey(i)) == rule.Day) return;
            m_settings.writeInteger(kSection, LastChangeDayOfMonthKey(i), rule.Day);
            break;
        case RuleKind::DayOfMonthName:
            // Both markers must differ: a rule replaced at the same index by one with the
            // same month never fires.
            if (now.day != rule.Day || now.month != rule.Month || marker(LastChangeDayKey(i)) == rule.Day ||
                marker(LastChangeMonthKey(i)) == rule.Month)
                return;
            m_settings.writeInteger(kSection, LastChangeDayKey(i), rule.Day);
            m_settings.writeInteger(kSection, LastChangeMonthKey(i), rule.Month);
            break;
        case RuleKind::FirstDayOfMonth:
            // The month itself is not compared: the rule fires on whichever 1st comes first.
            if (now.day != 1 || marker(LastChangeMonthFirstDayKey(i)) == rule.Month) return;
            m_settings.writeInteger(kSection, LastChangeMonthFirstDayKey(i), rule.Month);
            break;
        case RuleKind::FirstMinuteOfHour:
            // Any check within that hour qualifies, not only one in its first minute.
            if (now.hour != rule.Hour || marker(LastChangeHourFirstMinKey(i)) == rule.Hour) return;
            m_settings.writeInteger(kSection, LastChangeHourFirstMinKey(i), rule.Hour);
            break;
        case RuleKind::None:
            return;
        }
    } catch (const IniWriteError&) {
        return;
    }
    fire();
}

void DefiniteDateScheduler::fire() {
    // The cycle drops its own failures; one that escapes must not stop the other rules.
    try {
        if (m_cycleNow) m_cycleNow();
    } catch (...) {
    }
}

}  // namespace kalidrome
