#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kalidrome {

class IniFile;

// The values of one calendar rule; -2 marks a value the rule does not use.
struct TDateInfo {
    static constexpr std::int32_t kUnused = -2;
    std::int32_t Day = kUnused;    // day of the month, 1 ... 31
    std::int32_t Month = kUnused;  // month 1 ... 12 of a month-name rule, or N of a first-day rule
    std::int32_t Hour = kUnused;   // N of a first-minute rule
    bool operator==(const TDateInfo&) const = default;
};

enum class RuleKind {
    None,               // never fires
    DayOfEachMonth,     // "6th of each month": Day
    DayOfMonthName,     // "6th of March": Day and Month
    FirstMinuteOfHour,  // "First minute of each 6th Hour": Hour
    FirstDayOfMonth,    // "First day of the 6th Month": Month (fires on any month's 1st)
};

// The kind of a rule text, from its English words; the first test that matches decides:
// " of each month"; "First day of the " with "month"; "First minute of each " with
// "hour"; " of". Only "month" and "hour" compare without regard to letter case.
RuleKind RuleKindOfText(std::string_view text);

// The kind of a stored rule. The text decides as above; a text without those English
// words, as the rule editor builds in another language, takes its kind from the values
// that the editor stores with each kind:
//   Day >= 0, Month -2,      Hour -2  -> DayOfEachMonth
//   Day >= 0, Month 1 ... 12, Hour -2 -> DayOfMonthName
//   Day -2,   Month >= 0,     Hour -2 -> FirstDayOfMonth
//   Day -2,   Month -2,       Hour >= 0 -> FirstMinuteOfHour
// An empty text, and any other combination, has no kind.
RuleKind RuleKindOf(std::string_view text, const TDateInfo& values);

// Section DefiniteDate of Settings.ini: key names, by rule index.
namespace definite_date {
inline constexpr std::string_view kSection = "DefiniteDate";
inline constexpr std::string_view kCount = "Count";
// Rules at indices from here on are neither loaded nor checked: a hand-edited Count of
// two thousand million must not make the editor build that many lines or the check run
// that long. The editor's list holds far fewer in practice.
inline constexpr std::int32_t kMaxRules = 1000;
std::string CmdKey(std::int32_t index);
std::string DayKey(std::int32_t index);
std::string MonthKey(std::int32_t index);
std::string HourKey(std::int32_t index);
std::string LastChangeDayOfMonthKey(std::int32_t index);
std::string LastChangeDayKey(std::int32_t index);
std::string LastChangeMonthKey(std::int32_t index);
std::string LastChangeMonthFirstDayKey(std::int32_t index);
std::string LastChangeHourFirstMinKey(std::int32_t index);
}  // namespace definite_date

// ---- What the rule editor needs ---------------------------------------------------------

// The editor's kind list, in English, by index: "of each month", "--", "January" ...
// "December", "--", "Hour", "Month". The editor shows them translated (section "PrefForm").
inline constexpr std::array<std::string_view, 17> kRuleKindListItems = {
    "of each month", "--",  "January", "February", "March",    "April",   "May",      "June", "July",
    "August",        "September", "October", "November", "December", "--", "Hour", "Month"};

// "st" for exactly "1", "nd" for exactly "2", "rd" for exactly "3", "th" for any other
// number text (so "21th", "01th").
std::string_view OrdinalSuffix(std::string_view number);

// One line of the rule list: its text and its values.
struct RuleLine {
    std::string text;
    TDateInfo info;
    bool operator==(const RuleLine&) const = default;
};

// Raised by BuildRule when the number does not convert to a 32-bit integer; the message
// reads "'<number>' is not a valid integer value".
class InvalidRuleNumber : public std::runtime_error {
public:
    explicit InvalidRuleNumber(std::string_view number);
};

// Builds the line that Add makes from the number box's text and the kind list's selected
// index and item text (as shown, translated). translate is the translate operation with
// section "PrefForm", applied to "of each month", "of", "First minute of each" and
// "First day of the". The separators (index 1 and 14, and any index outside the list)
// give the ordinal alone with every value -2 and convert nothing. Throws
// InvalidRuleNumber when another kind's number does not convert.
RuleLine BuildRule(std::string_view number, int kindIndex, std::string_view itemText,
                   const std::function<std::string(std::string_view)>& translate);

// The editor's load: Count (default 0, at most kMaxRules) lines of Cmd<i> (default
// empty) with Day<i>, Month<i>, Hour<i> (default -2 each).
std::vector<RuleLine> ReadRuleLines(const IniFile& settings);

// Count, then Cmd<i>, Day<i>, Month<i>, Hour<i> for each line. No other key is touched:
// markers and keys of indices at or beyond Count stay. Throws IniWriteError when the file
// cannot be written.
void WriteRuleLines(IniFile& settings, const std::vector<RuleLine>& lines);

// The rule editor's list: loaded from section DefiniteDate when the dialog opens, changed
// by Add, Delete and Clear, saved when it closes.
//
// The scheduler's markers (LastChange...<i>) are kept by rule index, so each line
// remembers the index it was loaded from, and the save moves the markers with their rule:
// after a rule above is deleted, the rules below keep their own markers instead of taking
// over their neighbours', and a rule added in the editor starts without any, so that it
// fires at its first matching check. Keys of indices at or beyond the new Count stay as
// they were.
class RuleList {
public:
    // Reads the rules as ReadRuleLines does.
    void Load(const IniFile& settings);

    const std::vector<RuleLine>& lines() const { return m_lines; }
    std::size_t size() const { return m_lines.size(); }
    bool empty() const { return m_lines.empty(); }

    // Appends a rule that has never fired.
    void Add(RuleLine line);
    // Removes the line at index; the lines below move up. Out of range: nothing happens.
    void Delete(std::size_t index);
    void Clear();

    // Whether the lines differ from what Load read (texts, values or order).
    bool Changed() const;

    // When Changed: WriteRuleLines, then each line's markers at its new index (those its
    // old index holds in the file at the moment of the save; none for an added line).
    // Otherwise writes nothing. The file is rewritten once (an IniFile::Batch). Throws
    // IniWriteError when the file cannot be written.
    void Save(IniFile& settings) const;

private:
    static constexpr std::int32_t kAdded = -1;

    std::vector<RuleLine> m_lines;
    std::vector<std::int32_t> m_loadedFrom;  // per line: its index at Load, or kAdded
    std::size_t m_loadedSize = 0;
};

}  // namespace kalidrome
