#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CaseName.h"
#include "DefiniteDate.h"
#include "DefiniteDateScheduler.h"
#include "IniFile.h"
#include "LocalClock.h"
#include "TempDir.h"

using namespace kalidrome;
using namespace std::chrono_literals;
namespace dd = kalidrome::definite_date;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;

namespace {

constexpr std::int32_t U = TDateInfo::kUnused;

std::string Show(const LocalDateTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buf;
}

LocalDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return {year, month, day, hour, minute, second};
}

// ---- the stepped clock itself ----------------------------------------------------------

TEST(SteppedClock, StepsAcrossMonthYearAndLeapDay) {
    struct Case {
        LocalDateTime start;
        std::chrono::seconds step;
        const char* expected;
    };
    const Case cases[] = {
        {At(2023, 1, 31, 23, 59, 55), 5s, "2023-02-01 00:00:00"},
        {At(2023, 4, 30, 12), 24h, "2023-05-01 12:00:00"},
        {At(2023, 12, 31, 23, 59, 59), 1s, "2024-01-01 00:00:00"},
        {At(2024, 2, 28, 6), 24h, "2024-02-29 06:00:00"},
        {At(2023, 2, 28, 6), 24h, "2023-03-01 06:00:00"},
        {At(2023, 6, 1, 5, 59, 59), 1s, "2023-06-01 06:00:00"},
    };
    for (const auto& c : cases) {
        SteppedClock clock(c.start);
        clock.advance(c.step);
        EXPECT_EQ(Show(clock.now()), c.expected) << Show(c.start);
    }
}

// ---- the scheduler ---------------------------------------------------------------------

struct Rule {
    std::int32_t index;
    const char* text;  // nullptr: no Cmd key
    std::int32_t day, month, hour;
};

struct Marker {
    std::string key;
    std::int32_t value;
};

// From start, `checks` checks step apart.
struct Stretch {
    LocalDateTime start;
    std::chrono::seconds step;
    int checks;
};

struct ScheduleCase {
    const char* name;
    std::int32_t count;
    std::vector<Rule> rules;
    std::vector<Marker> markers;
    std::vector<Stretch> stretches;
    std::vector<std::string> expectedCycles;   // the times of the checks that cycled, in order
    std::vector<Marker> expectedMarkers;       // afterwards; -99 means absent
};

std::vector<ScheduleCase> ScheduleCases() {
    return {
        {"6th of each month fires once on the 6th and not in the next month",
         1, {{0, "6th of each month", 6, U, U}}, {},
         {{At(2023, 1, 5), 1h, 24 * 62}},
         {"2023-01-06 00:00:00"},
         {{dd::LastChangeDayOfMonthKey(0), 6}}},
        {"later checks on the 6th do not fire again",
         1, {{0, "6th of each month", 6, U, U}}, {},
         {{At(2023, 3, 6, 10), 5s, 200}},
         {"2023-03-06 10:00:00"},
         {{dd::LastChangeDayOfMonthKey(0), 6}}},
        {"across a month end",
         1, {{0, "1st of each month", 1, U, U}}, {},
         {{At(2023, 1, 31, 23, 59, 50), 5s, 6}},
         {"2023-02-01 00:00:00"},
         {{dd::LastChangeDayOfMonthKey(0), 1}}},
        {"31th does not fire in a month of 30 days",
         1, {{0, "31th of each month", 31, U, U}}, {},
         {{At(2023, 4, 1), 1h, 24 * 30}},
         {},
         {{dd::LastChangeDayOfMonthKey(0), -99}}},
        {"31th fires in the next month of 31 days",
         1, {{0, "31th of each month", 31, U, U}}, {},
         {{At(2023, 4, 1), 1h, 24 * 61}},
         {"2023-05-31 00:00:00"},
         {{dd::LastChangeDayOfMonthKey(0), 31}}},
        {"a marker from an earlier run keeps the rule quiet",
         1, {{0, "6th of each month", 6, U, U}}, {{dd::LastChangeDayOfMonthKey(0), 6}},
         {{At(2024, 7, 6), 1h, 24}},
         {},
         {{dd::LastChangeDayOfMonthKey(0), 6}}},
        {"6th of March fires on 6 March and writes both markers",
         1, {{0, "6th of March", 6, 3, U}}, {},
         {{At(2023, 2, 6), 24h, 60}},
         {"2023-03-06 00:00:00"},
         {{dd::LastChangeDayKey(0), 6}, {dd::LastChangeMonthKey(0), 3}}},
        {"7th of March replacing 6th of March at the same index never fires",
         1, {{0, "7th of March", 7, 3, U}}, {{dd::LastChangeDayKey(0), 6}, {dd::LastChangeMonthKey(0), 3}},
         {{At(2023, 3, 1), 6h, 4 * 20}},
         {},
         {{dd::LastChangeDayKey(0), 6}, {dd::LastChangeMonthKey(0), 3}}},
        {"6th of June with only the day marker set does not fire",
         1, {{0, "6th of June", 6, 6, U}}, {{dd::LastChangeDayKey(0), 6}},
         {{At(2023, 6, 6), 1h, 24}},
         {},
         {{dd::LastChangeMonthKey(0), -99}}},
        {"First day of the 6th Month fires on the first 1st, whatever the month, once",
         1, {{0, "First day of the 6th Month", U, 6, U}}, {},
         {{At(2023, 1, 15), 1h, 24 * 60}},
         {"2023-02-01 00:00:00"},
         {{dd::LastChangeMonthFirstDayKey(0), 6}}},
        {"First minute of each 6th Hour fires at the first check from 06:00:00",
         1, {{0, "First minute of each 6th Hour", U, U, 6}}, {},
         {{At(2023, 6, 1, 5, 59, 30), 5s, 30}},
         {"2023-06-01 06:00:00"},
         {{dd::LastChangeHourFirstMinKey(0), 6}}},
        {"any check in the hour qualifies, and the next day's hour does not fire",
         1, {{0, "First minute of each 6th Hour", U, U, 6}}, {},
         {{At(2023, 6, 1, 6, 59, 55), 5s, 3}, {At(2023, 6, 2, 6, 30), 5s, 3}},
         {"2023-06-01 06:59:55"},
         {{dd::LastChangeHourFirstMinKey(0), 6}}},
        {"hour 24 never fires",
         1, {{0, "First minute of each 24th Hour", U, U, 24}}, {},
         {{At(2023, 6, 1), 1h, 48}},
         {},
         {{dd::LastChangeHourFirstMinKey(0), -99}}},
        {"a separator line never fires",
         1, {{0, "6th", U, U, U}}, {},
         {{At(2023, 6, 1), 1h, 24 * 31}},
         {},
         {}},
        {"Day missing from the file never matches",
         1, {{0, "6th of each month", INT_MIN, U, U}}, {},
         {{At(2023, 6, 1), 1h, 24 * 31}},
         {},
         {{dd::LastChangeDayOfMonthKey(0), -99}}},
        {"a rule at or beyond Count is ignored",
         1, {{1, "6th of each month", 6, U, U}}, {},
         {{At(2023, 6, 6), 1h, 2}},
         {},
         {{dd::LastChangeDayOfMonthKey(1), -99}}},
        {"Count 3 with Cmd2 missing: rule 2 never fires",
         3,
         {{0, "9th of each month", 9, U, U}, {1, "10th of each month", 10, U, U}, {2, nullptr, 6, U, U}},
         {},
         {{At(2023, 6, 6), 1h, 2}},
         {},
         {{dd::LastChangeDayOfMonthKey(2), -99}}},
        {"a huge Count is no problem",
         INT_MAX, {{7, "6th of each month", 6, U, U}}, {},
         {{At(2023, 6, 6), 1h, 2}},
         {"2023-06-06 00:00:00"},
         {{dd::LastChangeDayOfMonthKey(7), 6}}},
        {"a rule built in another language fires by its values",
         1, {{0, "6th jedes Monats", 6, U, U}}, {},
         {{At(2023, 6, 5), 1h, 48}},
         {"2023-06-06 00:00:00"},
         {{dd::LastChangeDayOfMonthKey(0), 6}}},
        {"another language: the first minute of an hour by its values",
         1, {{0, "Erste Minute jeder 6th Stunde", U, U, 6}}, {},
         {{At(2023, 6, 5, 5), 30min, 4}},
         {"2023-06-05 06:00:00"},
         {{dd::LastChangeHourFirstMinKey(0), 6}}},
        {"another language: values that match no kind never fire",
         1, {{0, "6th irgendwas", 6, 6, 6}}, {},
         {{At(2023, 6, 6), 1h, 24}},
         {},
         {}},
    };
}

void PrintTo(const ScheduleCase& c, std::ostream* os) { *os << c.name; }

class Scheduler : public ::testing::TestWithParam<ScheduleCase> {
protected:
    void writeRule(const Rule& r) {
        if (r.text) m_settings.writeString(dd::kSection, dd::CmdKey(r.index), r.text);
        if (r.day != INT_MIN) m_settings.writeInteger(dd::kSection, dd::DayKey(r.index), r.day);
        m_settings.writeInteger(dd::kSection, dd::MonthKey(r.index), r.month);
        m_settings.writeInteger(dd::kSection, dd::HourKey(r.index), r.hour);
    }

    TempDir m_dir;
    IniFile m_settings{m_dir.file("Settings.ini")};
    SteppedClock m_clock{At(2000, 1, 1)};
    std::vector<std::string> m_cycles;
    DefiniteDateScheduler m_scheduler{m_settings, m_clock, [this] { m_cycles.push_back(Show(m_clock.now())); }};
};

TEST_P(Scheduler, FiresAtTheExpectedChecks) {
    const ScheduleCase& c = GetParam();
    m_settings.writeInteger(dd::kSection, dd::kCount, c.count);
    for (const auto& r : c.rules) writeRule(r);
    for (const auto& m : c.markers) m_settings.writeInteger(dd::kSection, m.key, m.value);

    for (const auto& s : c.stretches) {
        m_clock.set(s.start);
        for (int i = 0; i < s.checks; ++i) {
            m_scheduler.CheckDefiniteDates();
            m_clock.advance(s.step);
        }
    }
    EXPECT_EQ(m_cycles, c.expectedCycles);
    for (const auto& m : c.expectedMarkers) {
        SCOPED_TRACE(m.key);
        EXPECT_EQ(m_settings.readInteger(dd::kSection, m.key, -99), m.value);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, Scheduler, ::testing::ValuesIn(ScheduleCases()),
                         [](const auto& p) { return test::CaseName(p.param.name); });

class SchedulerTick : public Scheduler {};

// Two rules that match in one check cycle twice, in index order, each after its own marker.
TEST_F(SchedulerTick, TwoRulesInOneCheckCycleTwiceInIndexOrder) {
    m_settings.writeInteger(dd::kSection, dd::kCount, 2);
    writeRule({0, "6th of each month", 6, U, U});
    writeRule({1, "First minute of each 0th Hour", U, U, 0});
    std::vector<std::pair<int, int>> markersSeen;
    DefiniteDateScheduler scheduler(m_settings, m_clock, [&] {
        markersSeen.emplace_back(m_settings.readInteger(dd::kSection, dd::LastChangeDayOfMonthKey(0), -2),
                                 m_settings.readInteger(dd::kSection, dd::LastChangeHourFirstMinKey(1), -2));
    });
    m_clock.set(At(2023, 6, 6, 0, 0, 3));
    scheduler.CheckDefiniteDates();
    EXPECT_EQ(markersSeen, (std::vector<std::pair<int, int>>{{6, -2}, {6, 0}}));
}

TEST_F(SchedulerTick, ACheckInsideTheCycleDoesNotFireTheSameRuleAgain) {
    m_settings.writeInteger(dd::kSection, dd::kCount, 1);
    writeRule({0, "6th of each month", 6, U, U});
    int cycles = 0;
    DefiniteDateScheduler* self = nullptr;
    DefiniteDateScheduler scheduler(m_settings, m_clock, [&] {
        // The cycle lets a pending check run (once here, so that a fault shows as a
        // count instead of an endless recursion).
        if (++cycles == 1) self->CheckDefiniteDates();
    });
    self = &scheduler;
    m_clock.set(At(2023, 6, 6, 12));
    scheduler.CheckDefiniteDates();
    EXPECT_EQ(cycles, 1);
}

TEST_F(SchedulerTick, AFailingCycleDoesNotStopTheOtherRules) {
    m_settings.writeInteger(dd::kSection, dd::kCount, 2);
    writeRule({0, "6th of each month", 6, U, U});
    writeRule({1, "First minute of each 12th Hour", U, U, 12});
    int cycles = 0;
    DefiniteDateScheduler scheduler(m_settings, m_clock, [&] {
        ++cycles;
        throw std::runtime_error("escaped");
    });
    m_clock.set(At(2023, 6, 6, 12));
    EXPECT_NO_THROW(scheduler.CheckDefiniteDates());
    EXPECT_EQ(cycles, 2);
}

TEST_F(SchedulerTick, ReadOnlySettingsDoNotFireAtEveryCheck) {
    m_settings.writeInteger(dd::kSection, dd::kCount, 1);
    writeRule({0, "6th of each month", 6, U, U});
    ASSERT_EQ(::chmod(m_settings.path().c_str(), 0444), 0);
    m_clock.set(At(2023, 6, 6, 12));
    for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(m_scheduler.CheckDefiniteDates());
    EXPECT_TRUE(m_cycles.empty());
}

TEST_F(SchedulerTick, RulesAreReadAtEveryCheck) {
    m_clock.set(At(2023, 6, 6, 12));
    m_scheduler.CheckDefiniteDates();  // no section at all
    m_settings.writeInteger(dd::kSection, dd::kCount, 1);
    writeRule({0, "6th of each month", 6, U, U});
    m_scheduler.CheckDefiniteDates();
    EXPECT_EQ(m_cycles.size(), 1u);
}

// ---- what the rule editor builds, and the kind the scheduler reads back -----------------

struct BuildCase {
    const char* number;
    int kindIndex;
    const char* text;
    TDateInfo info;
    RuleKind kind;
};

const BuildCase kBuildCases[] = {
    {"6", 0, "6th of each month", {6, U, U}, RuleKind::DayOfEachMonth},
    {"1", 0, "1st of each month", {1, U, U}, RuleKind::DayOfEachMonth},
    {"2", 0, "2nd of each month", {2, U, U}, RuleKind::DayOfEachMonth},
    {"22", 0, "22th of each month", {22, U, U}, RuleKind::DayOfEachMonth},
    {"31", 0, "31th of each month", {31, U, U}, RuleKind::DayOfEachMonth},
    {"01", 0, "01th of each month", {1, U, U}, RuleKind::DayOfEachMonth},
    {"3", 4, "3rd of March", {3, 3, U}, RuleKind::DayOfMonthName},
    {"6", 2, "6th of January", {6, 1, U}, RuleKind::DayOfMonthName},
    {"6", 13, "6th of December", {6, 12, U}, RuleKind::DayOfMonthName},
    {"6", 15, "First minute of each 6th Hour", {U, U, 6}, RuleKind::FirstMinuteOfHour},
    {"6", 16, "First day of the 6th Month", {U, 6, U}, RuleKind::FirstDayOfMonth},
    {"6", 1, "6th", {U, U, U}, RuleKind::None},
    {"6", 14, "6th", {U, U, U}, RuleKind::None},
    {"99999999999", 1, "99999999999th", {U, U, U}, RuleKind::None},
    {"0", 0, "0th of each month", {0, U, U}, RuleKind::DayOfEachMonth},
};

std::string English(std::string_view text) { return std::string(text); }

std::string German(std::string_view text) {
    static const std::map<std::string, std::string, std::less<>> words = {
        {"of each month", "jedes Monats"}, {"of", "im"}, {"First minute of each", "Erste Minute jeder"},
        {"First day of the", "Erster Tag im"}, {"March", "M\xC3\xA4rz"}, {"Hour", "Stunde"}, {"Month", "Monat"}};
    auto it = words.find(text);
    return it == words.end() ? std::string(text) : it->second;
}

TEST(RuleEditor, BuildsTextAndValuesAndTheSchedulerKnowsTheKind) {
    for (const auto& c : kBuildCases) {
        SCOPED_TRACE(c.text);
        const std::string item(kRuleKindListItems.at(static_cast<std::size_t>(c.kindIndex)));
        RuleLine line = BuildRule(c.number, c.kindIndex, item, English);
        EXPECT_EQ(line.text, c.text);
        EXPECT_EQ(line.info, c.info);
        EXPECT_EQ(RuleKindOf(line.text, line.info), c.kind);

        // The same rule built in German means the same to the scheduler.
        RuleLine german = BuildRule(c.number, c.kindIndex, German(item), German);
        EXPECT_EQ(german.info, c.info);
        EXPECT_EQ(RuleKindOf(german.text, german.info), c.kind) << german.text;
    }
}

TEST(RuleEditor, GermanText) {
    EXPECT_EQ(BuildRule("6", 15, "Stunde", German).text, "Erste Minute jeder 6th Stunde");
    EXPECT_EQ(BuildRule("3", 4, German("March"), German).text, "3rd im M\xC3\xA4rz");
}

TEST(RuleEditor, NumberThatDoesNotConvertAddsNothing) {
    for (const char* number : {"99999999999", "2147483648", ""}) {
        SCOPED_TRACE(number);
        try {
            BuildRule(number, 0, "of each month", English);
            ADD_FAILURE() << "no error";
        } catch (const InvalidRuleNumber& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(number) + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(BuildRule("2147483647", 15, "Hour", English).info.Hour, 2147483647);
}

TEST(RuleKindOfText, EnglishWords) {
    struct Case {
        const char* text;
        RuleKind kind;
    };
    const Case cases[] = {
        {"6th of each month", RuleKind::DayOfEachMonth},
        {"6th of March", RuleKind::DayOfMonthName},
        {"First day of the 6th Month", RuleKind::FirstDayOfMonth},
        {"First day of the 6th MONTH", RuleKind::FirstDayOfMonth},
        {"First minute of each 6th Hour", RuleKind::FirstMinuteOfHour},
        {"First minute of each 6th hOUR", RuleKind::FirstMinuteOfHour},
        // Only "month" and "hour" ignore letter case.
        {"6th OF EACH MONTH", RuleKind::None},
        {"first day of the 6th Month", RuleKind::DayOfMonthName},
        // "First minute of each " without "hour" falls through to " of ".
        {"First minute of each 6th Stunde", RuleKind::DayOfMonthName},
        {"6th", RuleKind::None},
        {"", RuleKind::None},
    };
    for (const auto& c : cases) EXPECT_EQ(RuleKindOfText(c.text), c.kind) << c.text;
}

// ---- the editor's load and save ---------------------------------------------------------

TEST(RuleStorage, SaveRewritesOnlyTheLinesInUse) {
    TempDir dir;
    IniFile settings(dir.file("Settings.ini"));
    const std::vector<RuleLine> three = {{"6th of each month", {6, U, U}},
                                         {"3rd of March", {3, 3, U}},
                                         {"First minute of each 6th Hour", {U, U, 6}}};
    WriteRuleLines(settings, three);
    settings.writeInteger(dd::kSection, dd::LastChangeDayOfMonthKey(0), 6);
    EXPECT_EQ(ReadRuleLines(settings), three);

    // Deleting the first rule and closing the dialog.
    const std::vector<RuleLine> two(three.begin() + 1, three.end());
    WriteRuleLines(settings, two);
    EXPECT_EQ(ReadRuleLines(settings), two);
    EXPECT_EQ(settings.readInteger(dd::kSection, dd::kCount, -1), 2);
    EXPECT_EQ(settings.readString(dd::kSection, dd::CmdKey(2), ""), "First minute of each 6th Hour");
    EXPECT_EQ(settings.readInteger(dd::kSection, dd::LastChangeDayOfMonthKey(0), -1), 6);
}

TEST(RuleStorage, LoadTakesDefaultsAndBoundsCount) {
    TempDir dir;
    WriteFile(dir.file("Settings.ini"), "[DefiniteDate]\nCount=2\nCmd1=x\nDay1=5\nCount=9\n");
    IniFile settings(dir.file("Settings.ini"));
    EXPECT_EQ(ReadRuleLines(settings), (std::vector<RuleLine>{{"", {U, U, U}}, {"x", {5, U, U}}}));

    WriteFile(dir.file("Settings.ini"), "[DefiniteDate]\nCount=2147483647\n");
    EXPECT_EQ(ReadRuleLines(settings).size(), static_cast<std::size_t>(dd::kMaxRules));
}


// ---- the editor's list keeps each rule's markers with the rule ---------------------------

namespace list_markers {

// Three stored rules, each of which has fired once.
void StoreThreeFiredRules(IniFile& settings) {
    WriteRuleLines(settings, {{"6th of each month", {6, U, U}},
                              {"3rd of March", {3, 3, U}},
                              {"First minute of each 6th Hour", {U, U, 6}}});
    settings.writeInteger(dd::kSection, dd::LastChangeDayOfMonthKey(0), 6);
    settings.writeInteger(dd::kSection, dd::LastChangeDayKey(1), 3);
    settings.writeInteger(dd::kSection, dd::LastChangeMonthKey(1), 3);
    settings.writeInteger(dd::kSection, dd::LastChangeHourFirstMinKey(2), 6);
}

// Every marker of the given indices, "key=value", absent ones left out.
std::vector<std::string> MarkersAt(const IniFile& settings, std::initializer_list<std::int32_t> indices) {
    std::vector<std::string> out;
    for (std::int32_t i : indices)
        for (const std::string& key : {dd::LastChangeDayOfMonthKey(i), dd::LastChangeDayKey(i), dd::LastChangeMonthKey(i),
                                       dd::LastChangeMonthFirstDayKey(i), dd::LastChangeHourFirstMinKey(i)})
            if (settings.keyExists(dd::kSection, key))
                out.push_back(key + "=" + std::to_string(settings.readInteger(dd::kSection, key, -99)));
    return out;
}

struct EditCase {
    const char* name;
    std::function<void(RuleList&)> edit;
    std::vector<std::string> texts;          // Cmd0 ... Cmd<Count-1> afterwards
    std::vector<std::string> markers;        // of indices 0 ... 2 afterwards
};

TEST(RuleListMarkers, MoveWithTheirRuleAndANewRuleHasNone) {
    const EditCase cases[] = {
        {"deleting the first moves the others' markers up",
         [](RuleList& l) { l.Delete(0); },
         {"3rd of March", "First minute of each 6th Hour"},
         // Index 2 keeps its keys (beyond Count, ignored).
         {"LastChangeDay0=3", "LastChangeMonth0=3", "LastChangeHourFirstMin1=6", "LastChangeHourFirstMin2=6"}},
        {"deleting the middle one",
         [](RuleList& l) { l.Delete(1); },
         {"6th of each month", "First minute of each 6th Hour"},
         {"LastChangeDayOfMonth0=6", "LastChangeHourFirstMin1=6", "LastChangeHourFirstMin2=6"}},
        {"a rule added in place of a deleted one starts without markers",
         [](RuleList& l) {
             l.Delete(0);
             l.Delete(0);
             l.Add({"7th of March", {7, 3, U}});
         },
         {"First minute of each 6th Hour", "7th of March"},
         {"LastChangeHourFirstMin0=6", "LastChangeHourFirstMin2=6"}},
        {"clear, then add",
         [](RuleList& l) {
             l.Clear();
             l.Add({"6th of each month", {6, U, U}});
         },
         {"6th of each month"},
         // Indices 1 and 2 are beyond Count: their keys stay, ignored.
         {"LastChangeDay1=3", "LastChangeMonth1=3", "LastChangeHourFirstMin2=6"}},
        {"deleting the last touches no marker",
         [](RuleList& l) { l.Delete(2); },
         {"6th of each month", "3rd of March"},
         {"LastChangeDayOfMonth0=6", "LastChangeDay1=3", "LastChangeMonth1=3", "LastChangeHourFirstMin2=6"}},
        {"a delete out of range changes nothing",
         [](RuleList& l) { l.Delete(3); },
         {"6th of each month", "3rd of March", "First minute of each 6th Hour"},
         {"LastChangeDayOfMonth0=6", "LastChangeDay1=3", "LastChangeMonth1=3", "LastChangeHourFirstMin2=6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        IniFile settings(dir.file("Settings.ini"));
        StoreThreeFiredRules(settings);
        RuleList list;
        list.Load(settings);
        c.edit(list);
        list.Save(settings);
        std::vector<std::string> texts;
        for (const RuleLine& line : ReadRuleLines(settings)) texts.push_back(line.text);
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(MarkersAt(settings, {0, 1, 2}), c.markers);
    }
}

TEST(RuleListMarkers, AnUnchangedListWritesNothing) {
    TempDir dir;
    IniFile settings(dir.file("Settings.ini"));
    StoreThreeFiredRules(settings);
    const std::string before = ReadFile(settings.path());
    RuleList list;
    list.Load(settings);
    list.Save(settings);
    EXPECT_EQ(ReadFile(settings.path()), before);

    // A fresh file stays without a DefiniteDate section.
    TempDir fresh;
    IniFile empty(fresh.file("Settings.ini"));
    RuleList none;
    none.Load(empty);
    none.Save(empty);
    EXPECT_FALSE(empty.sectionExists(dd::kSection));
}

// A firing while the editor is open belongs to the rule that fired.
TEST(RuleListMarkers, AMarkerWrittenWhileTheEditorIsOpenMovesToo) {
    TempDir dir;
    IniFile settings(dir.file("Settings.ini"));
    WriteRuleLines(settings, {{"6th of each month", {6, U, U}}, {"First minute of each 6th Hour", {U, U, 6}}});
    RuleList list;
    list.Load(settings);
    settings.writeInteger(dd::kSection, dd::LastChangeHourFirstMinKey(1), 6);  // the scheduler fires rule 1
    list.Delete(0);
    list.Save(settings);
    EXPECT_EQ(MarkersAt(settings, {0, 1}), (std::vector<std::string>{"LastChangeHourFirstMin0=6",
                                                                     "LastChangeHourFirstMin1=6"}));
}

// The fault as a user meets it: "6th of March" has fired; the user deletes it and adds
// "7th of March", which used to take over the old markers at index 0 and never fire.
TEST(RuleListMarkers, ARuleThatReplacesAFiredOneFiresThroughTheScheduler) {
    TempDir dir;
    IniFile settings(dir.file("Settings.ini"));
    SteppedClock clock(At(2023, 3, 6, 9));
    std::vector<std::string> cycles;
    DefiniteDateScheduler scheduler(settings, clock, [&] { cycles.push_back(Show(clock.now())); });

    RuleList list;
    list.Load(settings);
    list.Add(BuildRule("6", 4, "March", English));
    list.Save(settings);
    scheduler.CheckDefiniteDates();
    ASSERT_EQ(cycles, std::vector<std::string>{"2023-03-06 09:00:00"});

    RuleList next;
    next.Load(settings);
    next.Delete(0);
    next.Add(BuildRule("7", 4, "March", English));
    next.Save(settings);
    for (int i = 0; i < 48; ++i) {
        clock.advance(std::chrono::hours(1));
        scheduler.CheckDefiniteDates();
    }
    EXPECT_EQ(cycles, (std::vector<std::string>{"2023-03-06 09:00:00", "2023-03-07 00:00:00"}));
}

}  // namespace list_markers

}  // namespace
