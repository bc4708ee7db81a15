#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <vector>

#include "CycleTimer.h"
#include "Timer.h"

using kalidrome::CycleTimer;
using kalidrome::ManualTimer;

namespace {

// The main window's side of the countdown: two stepped timers, the title, the
// preferences label and a record of the ticks at which the cycle ran.
class CountdownFixture : public ::testing::Test {
protected:
    CountdownFixture()
        : m_timer(m_cycleTimer, m_startupTimer,
                  CycleTimer::Hooks{[this] { onCycle(); }, [this] { return m_interval; },
                                    [this](const std::string& title) { m_titles.push_back(title); },
                                    [this](std::int32_t seconds) { m_label = seconds; },
                                    [this](std::string_view text, std::string_view section) {
                                        EXPECT_EQ(section, "MainForm");
                                        auto it = m_language.find(std::string(text));
                                        return it == m_language.end() ? std::string(text) : it->second;
                                    }}) {}

    virtual void onCycle() {
        EXPECT_FALSE(m_cycleTimer.isActive()) << "the tick runs with its timer stopped";
        m_cycleTicks.push_back(m_ticks);
        if (m_duringCycle) m_duringCycle();
    }

    // Fires the cycle timer n times; each firing is one tick.
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(m_cycleTimer.fire()) << "the cycle timer stopped at tick " << m_ticks;
            ++m_ticks;
        }
    }

    ManualTimer m_cycleTimer;
    ManualTimer m_startupTimer;
    std::int32_t m_interval = 600;
    std::vector<std::string> m_titles;
    std::int32_t m_label = INT_MIN;
    std::map<std::string, std::string> m_language;
    std::vector<int> m_cycleTicks;
    std::function<void()> m_duringCycle;
    int m_ticks = 0;
    CycleTimer m_timer;
};

struct IntervalCase {
    const char* name;
    std::int32_t interval;
    const char* titleAfterCycle;
    int ticksBetweenCycles;
};

const IntervalCase kIntervalCases[] = {
    {"600", 600, "Kalidrome - 599 sec", 600},
    {"2", 2, "Kalidrome - 1 sec", 2},
    {"1", 1, "Kalidrome - 0 sec", 1},
    {"0", 0, "Kalidrome - -1 sec", 1},
    {"negative", -5, "Kalidrome - -6 sec", 1},
    {"lowest", INT_MIN, "Kalidrome - -2147483648 sec", 1},
};

void PrintTo(const IntervalCase& c, std::ostream* os) { *os << "Interval " << c.interval; }

class TimedCycle : public CountdownFixture, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(TimedCycle, CyclesEveryIntervalTicksAndShowsTheCount) {
    const IntervalCase& c = GetParam();
    m_interval = c.interval;
    m_timer.SetCountdown(0);
    m_timer.SetRunning(true);

    tick();
    ASSERT_EQ(m_cycleTicks, std::vector<int>{0});
    ASSERT_GE(m_titles.size(), 2u);
    EXPECT_EQ(m_titles[m_titles.size() - 2], "Kalidrome - Cycling...");  // while it cycles
    EXPECT_EQ(m_titles.back(), c.titleAfterCycle);
    EXPECT_TRUE(m_cycleTimer.isActive());

    tick(3 * c.ticksBetweenCycles);
    const int gap = c.ticksBetweenCycles;
    EXPECT_EQ(m_cycleTicks, (std::vector<int>{0, gap, 2 * gap, 3 * gap}));
    EXPECT_EQ(m_titles.back(), c.titleAfterCycle);
}

INSTANTIATE_TEST_SUITE_P(Interval, TimedCycle, ::testing::ValuesIn(kIntervalCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(CountdownFixture, CountsDownToZeroThenCycles) {
    m_interval = 600;
    m_timer.SetCountdown(3);
    m_timer.SetRunning(true);
    tick(3);
    EXPECT_EQ(m_titles, (std::vector<std::string>{"Kalidrome - 2 sec", "Kalidrome - 1 sec", "Kalidrome - 0 sec"}));
    EXPECT_TRUE(m_cycleTicks.empty());
    EXPECT_EQ(m_label, 0);
    tick();
    EXPECT_EQ(m_cycleTicks, std::vector<int>{3});
    EXPECT_EQ(m_timer.Countdown(), 599);
    EXPECT_EQ(m_label, 599);
}

TEST_F(CountdownFixture, TitleWordsComeFromTheLanguage) {
    m_language = {{"sec", "Sek."}, {"Kalidrome - Cycling...", "Kalidrome - Bild wird gewechselt..."}};
    m_timer.SetCountdown(0);
    m_timer.SetRunning(true);
    tick();
    EXPECT_EQ(m_titles, (std::vector<std::string>{"Kalidrome - Bild wird gewechselt...", "Kalidrome - 599 Sek."}));
}

TEST_F(CountdownFixture, IntervalIsReadWhenTheCountRestarts) {
    m_timer.SetCountdown(0);
    m_timer.SetRunning(true);
    m_duringCycle = [this] { m_interval = 10; };  // changed by the time the cycle ends
    tick();
    EXPECT_EQ(m_titles.back(), "Kalidrome - 9 sec");
}

TEST_F(CountdownFixture, SwitchedOffDuringTheCycleStaysOffAndResumesWhereItStopped) {
    m_timer.SetCountdown(0);
    m_timer.SetRunning(true);
    m_duringCycle = [this] { m_timer.SetRunning(false); };
    tick();
    EXPECT_FALSE(m_cycleTimer.isActive());
    EXPECT_EQ(m_titles.back(), "Kalidrome - 599 sec");  // the title keeps its last text

    m_duringCycle = nullptr;
    m_timer.SetRunning(true);
    tick();
    EXPECT_EQ(m_titles.back(), "Kalidrome - 598 sec");
}

TEST_F(CountdownFixture, AFailingCycleDoesNotStopTheCount) {
    m_interval = 5;
    m_timer.SetCountdown(0);
    m_timer.SetRunning(true);
    m_duringCycle = [] { throw std::runtime_error("escaped"); };
    tick();
    EXPECT_TRUE(m_cycleTimer.isActive());
    EXPECT_EQ(m_titles.back(), "Kalidrome - 4 sec");
}

struct StartupCase {
    const char* name;
    bool disableCycling;
    std::int32_t countdown;
    bool started;
};

const StartupCase kStartupCases[] = {
    {"cycling on", false, 600, true},
    {"cycling on, short count", false, 5, true},
    {"cycling off, count above 60", true, 61, true},
    {"cycling off, count 60", true, 60, false},
    {"cycling off, count 0", true, 0, false},
};

TEST_F(CountdownFixture, StartupTimerStartsAfterLoadByCondition) {
    for (const auto& c : kStartupCases) {
        SCOPED_TRACE(c.name);
        m_startupTimer.stop();
        m_timer.SetCountdown(c.countdown);
        m_timer.StartStartupTimerAfterLoad(c.disableCycling);
        EXPECT_EQ(m_startupTimer.isActive(), c.started);
    }
}

TEST_F(CountdownFixture, StartupTimerFiresOnceAndRestartsTheCount) {
    m_interval = 900;
    m_timer.SetCountdown(900);
    m_timer.StartStartupTimerAfterLoad(true);  // auto cycling off, so no tick runs
    m_timer.SetCountdown(1);                    // end of the main window's creation
    ASSERT_TRUE(m_startupTimer.fire());
    EXPECT_EQ(m_timer.Countdown(), 900);
    EXPECT_FALSE(m_startupTimer.isActive());
    EXPECT_FALSE(m_startupTimer.fire());
}

// The start of a normal run: the load sets the count to Interval and starts the start-up
// timer, creation sets it to 1; the first tick shows 0, the second cycles, and that cycle
// stops the start-up timer before it fires.
TEST_F(CountdownFixture, FirstCycleComesOnTheSecondTickAndStopsTheStartupTimer) {
    m_duringCycle = [this] { m_timer.StopStartupTimer(); };  // what CycleNow does
    m_timer.SetCountdown(m_interval);
    m_timer.SetRunning(true);
    m_timer.StartStartupTimerAfterLoad(false);
    m_timer.SetCountdown(1);

    tick();
    EXPECT_EQ(m_titles.back(), "Kalidrome - 0 sec");
    EXPECT_TRUE(m_startupTimer.isActive());
    tick();
    EXPECT_EQ(m_cycleTicks, std::vector<int>{1});
    EXPECT_FALSE(m_startupTimer.fire());
    EXPECT_EQ(m_titles.back(), "Kalidrome - 599 sec");
}

TEST_F(CountdownFixture, ConstructorBindsTheTimersAndStoppedTimersDoNotTick) {
    m_timer.SetCountdown(10);
    EXPECT_FALSE(m_cycleTimer.fire());  // auto cycling is off until SetRunning(true)
    m_timer.SetRunning(true);
    EXPECT_TRUE(m_cycleTimer.fire());
    EXPECT_EQ(m_timer.Countdown(), 9);
    m_timer.SetRunning(false);
    EXPECT_FALSE(m_cycleTimer.fire());
    EXPECT_EQ(m_timer.Countdown(), 9);
}

}  // namespace
