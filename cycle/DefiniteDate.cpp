#include "DefiniteDate.h"

#include <algorithm>
#include <optional>

#include "IniFile.h"

namespace kalidrome {

namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool ContainsNoCase(std::string_view text, std::string_view lowerPart) {
    if (lowerPart.size() > text.size()) return false;
    for (std::size_t i = 0; i + lowerPart.size() <= text.size(); ++i) {
        bool match = true;
        for (std::size_t k = 0; k < lowerPart.size() && match; ++k) {
            char c = text[i + k];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            match = c == lowerPart[k];
        }
        if (match) return true;
    }
    return false;
}

std::string Key(std::string_view word, std::int32_t index) { return std::string(word) + std::to_string(index); }

// The standard decimal conversion: optional sign, digits, within 32 bits.
bool ToInt32(std::string_view text, std::int32_t& out) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > 2147483647LL) return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

}  // namespace

RuleKind RuleKindOfText(std::string_view text) {
    if (Contains(text, " of each month")) return RuleKind::DayOfEachMonth;
    if (Contains(text, "First day of the ") && ContainsNoCase(text, "month")) return RuleKind::FirstDayOfMonth;
    if (Contains(text, "First minute of each ") && ContainsNoCase(text, "hour")) return RuleKind::FirstMinuteOfHour;
    if (Contains(text, " of ")) return RuleKind::DayOfMonthName;
    return RuleKind::None;
}

RuleKind RuleKindOf(std::string_view text, const TDateInfo& v) {
    if (text.empty()) return RuleKind::None;
    RuleKind kind = RuleKindOfText(text);
    if (kind != RuleKind::None) return kind;
    constexpr std::int32_t unused = TDateInfo::kUnused;
    if (v.Day >= 0 && v.Hour == unused) {
        if (v.Month == unused) return RuleKind::DayOfEachMonth;
        if (v.Month >= 1 && v.Month <= 12) return RuleKind::DayOfMonthName;
    }
    if (v.Day == unused && v.Month >= 0 && v.Hour == unused) return RuleKind::FirstDayOfMonth;
    if (v.Day == unused && v.Month == unused && v.Hour >= 0) return RuleKind::FirstMinuteOfHour;
    return RuleKind::None;
}

namespace definite_date {
std::string CmdKey(std::int32_t index) { return Key("Cmd", index); }
std::string DayKey(std::int32_t index) { return Key("Day", index); }
std::string MonthKey(std::int32_t index) { return Key("Month", index); }
std::string HourKey(std::int32_t index) { return Key("Hour", index); }
std::string LastChangeDayOfMonthKey(std::int32_t index) { return Key("LastChangeDayOfMonth", index); }
std::string LastChangeDayKey(std::int32_t index) { return Key("LastChangeDay", index); }
std::string LastChangeMonthKey(std::int32_t index) { return Key("LastChangeMonth", index); }
std::string LastChangeMonthFirstDayKey(std::int32_t index) { return Key("LastChangeMonthFirstDay", index); }
std::string LastChangeHourFirstMinKey(std::int32_t index) { return Key("LastChangeHourFirstMin", index); }
}  // namespace definite_date

std::string_view OrdinalSuffix(std::string_view number) {
    if (number == "1") return "st";
    if (number == "2") return "nd";
    if (number == "3") return "rd";
    return "th";
}

InvalidRuleNumber::InvalidRuleNumber(std::string_view number)
    : std::runtime_error("'" + std::string(number) + "' is not a valid integer value") {}

RuleLine BuildRule(std::string_view number, int kindIndex, std::string_view itemText,
                   const std::function<std::string(std::string_view)>& translate) {
    const std::string ordinal = std::string(number) + std::string(OrdinalSuffix(number));
    auto value = [&] {
        std::int32_t v = 0;
        if (!ToInt32(number, v)) throw InvalidRuleNumber(number);
        return v;
    };
    RuleLine line;
    if (kindIndex == 0) {
        line.info.Day = value();
        line.text = ordinal + " " + translate("of each month");
    } else if (kindIndex >= 2 && kindIndex <= 13) {
        line.info.Day = value();
        line.info.Month = kindIndex - 1;
        line.text = ordinal + " " + translate("of") + " " + std::string(itemText);
    } else if (kindIndex == 15) {
        line.info.Hour = value();
        line.text = translate("First minute of each") + " " + ordinal + " " + std::string(itemText);
    } else if (kindIndex == 16) {
        line.info.Month = value();
        line.text = translate("First day of the") + " " + ordinal + " " + std::string(itemText);
    } else {
        line.text = ordinal;
    }
    return line;
}

std::vector<RuleLine> ReadRuleLines(const IniFile& settings) {
    using namespace definite_date;
    std::vector<RuleLine> lines;
    const std::int32_t count = std::min(settings.readInteger(kSection, kCount, 0), kMaxRules);
    for (std::int32_t i = 0; i < count; ++i) {
        RuleLine line;
        line.info.Day = settings.readInteger(kSection, DayKey(i), TDateInfo::kUnused);
        line.info.Month = settings.readInteger(kSection, MonthKey(i), TDateInfo::kUnused);
        line.info.Hour = settings.readInteger(kSection, HourKey(i), TDateInfo::kUnused);
        line.text = settings.readString(kSection, CmdKey(i), "");
        lines.push_back(std::move(line));
    }
    return lines;
}

void WriteRuleLines(IniFile& settings, const std::vector<RuleLine>& lines) {
    using namespace definite_date;
    settings.writeInteger(kSection, kCount, static_cast<std::int32_t>(lines.size()));
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const auto i = static_cast<std::int32_t>(k);
        settings.writeString(kSection, CmdKey(i), lines[k].text);
        settings.writeInteger(kSection, DayKey(i), lines[k].info.Day);
        settings.writeInteger(kSection, MonthKey(i), lines[k].info.Month);
        settings.writeInteger(kSection, HourKey(i), lines[k].info.Hour);
    }
}

namespace {

// The marker keys of one rule index, in a fixed order.
std::array<std::string, 5> MarkerKeys(std::int32_t i) {
    using namespace definite_date;
    return {LastChangeDayOfMonthKey(i), LastChangeDayKey(i), LastChangeMonthKey(i), LastChangeMonthFirstDayKey(i),
            LastChangeHourFirstMinKey(i)};
}

using Markers = std::array<std::optional<std::string>, 5>;

Markers ReadMarkers(const IniFile& settings, std::int32_t index) {
    Markers markers;
    const auto keys = MarkerKeys(index);
    for (std::size_t k = 0; k < keys.size(); ++k)
        if (settings.keyExists(definite_date::kSection, keys[k]))
            markers[k] = settings.readString(definite_date::kSection, keys[k], "");
    return markers;
}

}  // namespace

void RuleList::Load(const IniFile& settings) {
    m_lines = ReadRuleLines(settings);
    m_loadedSize = m_lines.size();
    m_loadedFrom.resize(m_lines.size());
    for (std::size_t k = 0; k < m_lines.size(); ++k) m_loadedFrom[k] = static_cast<std::int32_t>(k);
}

void RuleList::Add(RuleLine line) {
    m_lines.push_back(std::move(line));
    m_loadedFrom.push_back(kAdded);
}

void RuleList::Delete(std::size_t index) {
    if (index >= m_lines.size()) return;
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(index));
    m_loadedFrom.erase(m_loadedFrom.begin() + static_cast<std::ptrdiff_t>(index));
}

void RuleList::Clear() {
    m_lines.clear();
    m_loadedFrom.clear();
}

bool RuleList::Changed() const {
    for (std::size_t k = 0; k < m_loadedFrom.size(); ++k)
        if (m_loadedFrom[k] != static_cast<std::int32_t>(k)) return true;
    // Same order and no line added: only a deletion at the end is left to tell.
    return m_loadedFrom.size() != m_loadedSize;
}

void RuleList::Save(IniFile& settings) const {
    if (!Changed()) return;
    // One rewrite of Settings.ini for the whole list, however long.
    IniFile::Batch batch(settings);
    // The markers are read before anything is written: a line may move to an index whose
    // markers another line still needs. They are read now, not at Load, so that a rule
    // that fired while the dialog was open keeps that firing.
    std::vector<Markers> markers(m_lines.size());
    for (std::size_t k = 0; k < m_lines.size(); ++k)
        if (m_loadedFrom[k] != kAdded) markers[k] = ReadMarkers(settings, m_loadedFrom[k]);

    WriteRuleLines(settings, m_lines);
    for (std::size_t k = 0; k < m_lines.size(); ++k) {
        const auto index = static_cast<std::int32_t>(k);
        const auto keys = MarkerKeys(index);
        const Markers present = ReadMarkers(settings, index);
        for (std::size_t m = 0; m < keys.size(); ++m) {
            if (present[m] == markers[k][m]) continue;
            if (markers[k][m]) settings.writeString(definite_date::kSection, keys[m], *markers[k][m]);
            else settings.deleteKey(definite_date::kSection, keys[m]);
        }
    }
    batch.commit();
}

}  // namespace kalidrome
