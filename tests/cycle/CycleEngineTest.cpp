#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "CaseName.h"
#include "CycleEngine.h"
#include "CycleTimer.h"
#include "Options.h"
#include "Timer.h"
#include "WallpaperList.h"

using namespace kalidrome;

namespace {

// Entries are named by one letter each: entry "b" has the path "/p/b.jpg". Pictures shown
// are recorded as a string of letters.
std::string PathOf(char letter) { return std::string("/p/") + letter + ".jpg"; }
char LetterOf(const std::string& path) { return path.size() == 8 ? path[3] : '?'; }

class EngineFixture {
public:
    EngineFixture(const std::string& letters, bool random, std::int32_t currIndex)
        : m_engine(m_list, m_options, hooks()) {
        for (char c : letters) m_ids.push_back(m_list.AddEntry(PathOf(c)).id());
        m_options.Random = random;
        m_options.CurrIndex = currIndex;
        // What the main window's creation does.
        m_engine.SetPreviousEntry(CycleEngine::kNone);
        m_engine.ResetCurrentEntryFromIndex();
    }

    CycleEngine::Hooks hooks() {
        CycleEngine::Hooks h;
        h.setWallpaper = [this](const std::string& path, std::function<void()> applied) {
            m_shown += LetterOf(path);
            if (m_duringShow) m_duringShow(path);
            if (!applied) return;
            if (m_holdChanges) m_held.push_back(std::move(applied));
            else applied();
        };
        h.processEvents = [this] {
            ++m_processEvents;
            if (m_pendingEvent) std::exchange(m_pendingEvent, nullptr)();
        };
        h.stopStartupTimer = [this] { ++m_startupStops; };
        h.refreshListCommands = [this] { ++m_refreshes; };
        h.randomIndex = [this](std::size_t count) {
            EXPECT_FALSE(m_draws.empty()) << "unexpected draw";
            if (m_draws.empty()) return std::size_t{0};
            std::size_t r = m_draws.front();
            m_draws.pop_front();
            EXPECT_LT(r, count) << "the draw is among the entries that can be drawn";
            return r;
        };
        h.cycleEnabledChanged = [this](bool on) { m_cycleStates += on ? '1' : '0'; };
        h.previousEnabledChanged = [this](bool on) { m_previousStates += on ? '1' : '0'; };
        return h;
    }

    // The setup position of an entry id, or -1.
    int setupIndexOf(EntryId id) const {
        for (std::size_t i = 0; i < m_ids.size(); ++i)
            if (m_ids[i] == id) return static_cast<int>(i);
        return -1;
    }

    void select(const std::vector<int>& setupIndices) {
        for (std::size_t i = 0; i < m_list.count(); ++i) m_list.at(i).setSelected(false);
        for (int k : setupIndices) m_list.find(m_ids.at(static_cast<std::size_t>(k)))->setSelected(true);
    }

    std::string remaining() const {
        std::string s;
        for (std::size_t i = 0; i < m_list.count(); ++i) s += LetterOf(m_list.at(i).FilePath);
        return s;
    }

    WallpaperList m_list;
    Options m_options;
    std::vector<EntryId> m_ids;
    std::string m_shown;
    std::deque<std::size_t> m_draws;
    int m_processEvents = 0;
    int m_startupStops = 0;
    int m_refreshes = 0;
    std::string m_cycleStates;
    std::string m_previousStates;
    std::function<void(const std::string&)> m_duringShow;
    std::function<void()> m_pendingEvent;
    // Changes that stay unfinished (as on the worker) until the test finishes them.
    bool m_holdChanges = false;
    std::vector<std::function<void()>> m_held;
    CycleEngine m_engine;
};

// ---- the state table: every operation against the cases of current and chosen ----------

struct Op {
    enum Kind { Cycle, Previous, SetAs, ShowSelected, DeleteCurrent, Select, RemoveEntry, SetWallpaperPath } kind;
    std::vector<int> args = {};  // setup indices (Select, RemoveEntry) or a letter (SetWallpaperPath)
};

struct EngineCase {
    const char* name;
    const char* entries;
    bool random;
    std::int32_t currIndex;
    std::vector<std::size_t> draws;
    std::vector<Op> ops;
    // Afterwards:
    const char* shown;
    char wallpaper;  // 0: empty
    int current;     // setup index, -1: none
    int previous;    // setup index, -1: none
    std::int32_t expectedCurrIndex;
    bool previousEnabled;
    const char* remaining = nullptr;  // the list's letters; nullptr: as set up
};

const Op kCycle{Op::Cycle};
const Op kPrevious{Op::Previous};
const Op kSetAs{Op::SetAs};
const Op kShowSelected{Op::ShowSelected};
const Op kDeleteCurrent{Op::DeleteCurrent};
Op Select(std::vector<int> k) { return {Op::Select, std::move(k)}; }
Op Remove(int k) { return {Op::RemoveEntry, {k}}; }
Op SetWallpaperPath(char letter) { return {Op::SetWallpaperPath, {letter}}; }

std::vector<EngineCase> EngineCases() {
    return {
        // CycleNow, list order
        {"cycle shows the entry after CurrIndex", "abc", false, 0, {}, {kCycle}, "b", 'b', 1, 0, 1, true},
        {"cycle after the last entry wraps to the first", "abc", false, 2, {}, {kCycle}, "a", 'a', 0, 2, 0, true},
        {"CurrIndex beyond the count: the first entry is shown", "abc", false, 5, {}, {kCycle}, "a", 'a', 0, -1, 0, true},
        {"negative CurrIndex counts as the first entry", "abc", false, -3, {}, {kCycle}, "b", 'b', 1, 0, 1, true},
        {"one entry: chosen is current, nothing shown", "a", false, 0, {}, {kCycle}, "", 'a', 0, 0, 0, true},
        {"empty list: nothing", "", false, 0, {}, {kCycle}, "", 0, -1, -1, 0, false},
        {"three cycles walk the list", "abc", false, 0, {}, {kCycle, kCycle, kCycle}, "bca", 'a', 0, 2, 0, true},
        // CycleNow, random order
        // (the draw is among the entries that do not hold the current picture: with b
        // current, 0 is a and 1 is c)
        {"random: the drawn entry is shown", "abc", true, 1, {1}, {kCycle}, "c", 'c', 2, 1, 2, true},
        {"random never draws the current entry", "abc", true, 0, {0}, {kCycle}, "b", 'b', 1, 0, 1, true},
        {"random: the next cycle draws among the others again", "abc", true, 0, {0, 1}, {kCycle, kCycle}, "bc", 'c', 2, 1, 2, true},
        {"random skips an entry that holds the current picture too", "aab", true, 0, {0}, {kCycle}, "b", 'b', 2, 0, 2, true},
        {"random, one entry, no current: shown once", "a", true, 1, {0, 0}, {kCycle, kCycle}, "a", 'a', 0, 0, 0, true},
        {"random, one entry that is current: never shown", "a", true, 0, {0}, {kCycle}, "", 'a', 0, 0, 0, true},
        // Previous
        {"previous without a previous entry does nothing", "abc", false, 0, {}, {kPrevious}, "", 0, 0, -1, 0, false},
        {"previous brings back the old picture", "abc", false, 0, {}, {kCycle, kPrevious}, "ba", 'a', 0, 1, 1, true},
        {"previous twice returns to the first picture", "abc", false, 0, {}, {kCycle, kPrevious, kPrevious}, "bab", 'b', 1, 0, 1, true},
        {"after previous, a cycle continues after the entry the last cycle reached", "abcd", false, 0, {},
         {kCycle, kCycle, kPrevious, kCycle}, "bcbd", 'd', 3, 2, 3, true},
        {"a cycle from beyond the count enables previous, which then does nothing", "abc", false, 5, {},
         {kCycle, kPrevious}, "a", 'a', 0, -1, 0, true},
        // Set as wallpaper
        {"set as wallpaper shows the selected entry and changes no entry", "abc", false, 0, {},
         {kCycle, Select({2}), kSetAs}, "bc", 'c', 1, 0, 1, true},
        {"set as wallpaper then previous goes back to the last cycle's previous", "abcd", false, 0, {},
         {kCycle, Select({3}), kSetAs, kPrevious}, "bda", 'a', 0, 1, 1, true},
        {"set as wallpaper with two selected does nothing", "abc", false, 0, {}, {Select({0, 2}), kSetAs}, "", 0, 0, -1, 0, false},
        {"set as wallpaper with none selected does nothing", "abc", false, 0, {}, {kSetAs}, "", 0, 0, -1, 0, false},
        // Show selected entry
        {"show selected makes it current and keeps CurrIndex", "abc", false, 0, {}, {Select({2}), kShowSelected},
         "c", 'c', 2, 0, 0, true},
        {"a cycle after show selected continues from CurrIndex", "abc", false, 0, {},
         {Select({2}), kShowSelected, kCycle}, "cb", 'b', 1, 0, 1, true},
        {"show selected of the current entry shows it again", "abc", false, 0, {}, {Select({0}), kShowSelected},
         "a", 'a', 0, 0, 0, true},
        {"show selected with two selected does nothing", "abc", false, 0, {}, {Select({0, 1}), kShowSelected},
         "", 0, 0, -1, 0, false},
        // Delete current wallpaper
        {"delete current removes its entry and keeps the rest", "abc", false, 0, {}, {kCycle, kDeleteCurrent},
         "b", 'b', -1, 0, 1, true, "ac"},
        {"delete current with two matching entries removes the first only", "aba", false, 0, {},
         {Select({2}), kSetAs, kDeleteCurrent}, "a", 'a', -1, -1, 0, false, "ba"},
        {"delete current compares paths with their letter case", "Aa", false, 0, {},
         {Select({1}), kSetAs, kDeleteCurrent}, "a", 'a', 0, -1, 0, false, "A"},
        {"delete current with a path no entry holds removes nothing", "abc", false, 0, {},
         {SetWallpaperPath('z'), kDeleteCurrent}, "", 'z', 0, -1, 0, false, "abc"},
        {"delete current with no current wallpaper removes nothing", "abc", false, 0, {}, {kDeleteCurrent},
         "", 0, 0, -1, 0, false, "abc"},
        // Entries removed while the engine refers to them
        {"current entry removed: previous then has no previous", "abc", false, 0, {}, {kCycle, Remove(1), kPrevious},
         "ba", 'a', 0, -1, 1, false, "ac"},
        {"previous entry removed: previous does nothing", "abc", false, 0, {}, {kCycle, Remove(0), kPrevious},
         "b", 'b', 1, -1, 1, true, "bc"},
        {"current entry removed: list order goes on from CurrIndex", "abcd", false, 0, {},
         {kCycle, Remove(1), kCycle}, "bd", 'd', 3, 2, 2, true, "acd"},
        {"random: current entry removed counts as none", "ab", true, 0, {0, 0}, {kCycle, Remove(1), kCycle},
         "ba", 'a', 0, -1, 0, true, "a"},
    };
}

void PrintTo(const EngineCase& c, std::ostream* os) { *os << c.name; }

class EngineState : public ::testing::TestWithParam<EngineCase> {};

TEST_P(EngineState, MatchesTheTable) {
    const EngineCase& c = GetParam();
    EngineFixture f(c.entries, c.random, c.currIndex);
    f.m_draws.assign(c.draws.begin(), c.draws.end());
    for (const Op& op : c.ops) {
        switch (op.kind) {
        case Op::Cycle: f.m_engine.CycleNow(); break;
        case Op::Previous: f.m_engine.Previous(); break;
        case Op::SetAs: f.m_engine.SetAsWallpaper(); break;
        case Op::ShowSelected: f.m_engine.ShowSelectedEntry(); break;
        case Op::DeleteCurrent: f.m_engine.DeleteCurrentWallpaper(); break;
        case Op::Select: f.select(op.args); break;
        case Op::RemoveEntry: f.m_list.RemoveEntry(f.m_ids.at(static_cast<std::size_t>(op.args.at(0)))); break;
        case Op::SetWallpaperPath: f.m_engine.SetCurrentWallpaper(PathOf(static_cast<char>(op.args.at(0)))); break;
        }
    }
    EXPECT_EQ(f.m_shown, c.shown);
    EXPECT_EQ(f.m_engine.CurrentWallpaper(), c.wallpaper ? PathOf(c.wallpaper) : "");
    EXPECT_EQ(f.setupIndexOf(f.m_engine.CurrentEntry()), c.current);
    EXPECT_EQ(f.setupIndexOf(f.m_engine.PreviousEntry()), c.previous);
    EXPECT_EQ(f.m_engine.CurrIndex(), c.expectedCurrIndex);
    EXPECT_EQ(f.m_options.CurrIndex, c.expectedCurrIndex);
    EXPECT_EQ(f.m_engine.PreviousEnabled(), c.previousEnabled);
    EXPECT_TRUE(f.m_engine.CycleEnabled());
    EXPECT_EQ(f.remaining(), c.remaining ? c.remaining : c.entries);
    EXPECT_TRUE(f.m_draws.empty()) << "draws left over";
}

INSTANTIATE_TEST_SUITE_P(Operations, EngineState, ::testing::ValuesIn(EngineCases()),
                         [](const auto& p) { return test::CaseName(p.param.name); });

// ---- the busy mark, events let through, failures -----------------------------------------

TEST(CycleEngineBusy, CycleIsDisabledWhileThePictureIsAppliedAndRequestsThenDoNothing) {
    EngineFixture f("abc", false, 0);
    f.m_engine.CycleNow();  // b; previous a
    ASSERT_EQ(f.m_shown, "b");
    f.m_cycleStates.clear();
    f.m_previousStates.clear();
    bool checked = false;
    f.m_duringShow = [&](const std::string&) {
        if (checked) return;
        checked = true;
        EXPECT_FALSE(f.m_engine.CycleEnabled());
        EXPECT_FALSE(f.m_engine.PreviousEnabled());
        const int stops = f.m_startupStops;
        // Requests that arrive while the routine lets events through.
        f.m_engine.CycleNow();
        f.m_engine.Previous();
        EXPECT_EQ(f.m_startupStops, stops) << "a refused request stops nothing";
    };
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown, "bc");
    EXPECT_EQ(f.m_cycleStates, "01");
    EXPECT_EQ(f.m_previousStates, "01");
    EXPECT_EQ(f.setupIndexOf(f.m_engine.CurrentEntry()), 2);
    EXPECT_EQ(f.setupIndexOf(f.m_engine.PreviousEntry()), 1);
}

// On the worker the change ends later, from the event loop: until then the command stays
// disabled, requests do nothing, and the cycle has not moved on.
TEST(CycleEngineBusy, TheBusyMarkLastsUntilTheChangeIsOver) {
    EngineFixture f("abc", false, 0);
    f.m_holdChanges = true;
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown, "b");
    EXPECT_FALSE(f.m_engine.CycleEnabled());
    EXPECT_FALSE(f.m_engine.PreviousEnabled());
    EXPECT_EQ(f.m_engine.CurrIndex(), 0) << "not moved on before the picture is shown";
    f.m_engine.CycleNow();
    f.m_engine.Previous();
    EXPECT_EQ(f.m_shown, "b") << "requests while busy do nothing";
    ASSERT_EQ(f.m_held.size(), 1u);
    std::exchange(f.m_held, {}).front()();
    EXPECT_TRUE(f.m_engine.CycleEnabled());
    EXPECT_TRUE(f.m_engine.PreviousEnabled());
    EXPECT_EQ(f.m_engine.CurrIndex(), 1);
    EXPECT_EQ(f.setupIndexOf(f.m_engine.CurrentEntry()), 1);
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown, "bc");
}

TEST(CycleEngineBusy, PendingEventsRunFirst) {
    EngineFixture f("abc", false, 0);
    // A queued click that selects and shows c runs before the cycle chooses.
    f.m_pendingEvent = [&] {
        f.select({2});
        f.m_engine.SetAsWallpaper();
        f.m_options.CurrIndex = 1;
    };
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown, "cc");  // the click's picture, then the one after CurrIndex 1
    EXPECT_EQ(f.m_processEvents, 1);
}

TEST(CycleEngineBusy, EveryCycleAndPreviousStopsTheStartupTimerEvenOnAnEmptyList) {
    EngineFixture f("", false, 0);
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_startupStops, 1);
    EngineFixture g("ab", false, 0);
    g.m_engine.CycleNow();
    g.m_engine.Previous();
    EXPECT_EQ(g.m_startupStops, 2);
    g.m_engine.SetAsWallpaper();
    g.m_engine.ShowSelectedEntry();
    EXPECT_EQ(g.m_startupStops, 2);
}

struct FailureCase {
    const char* name;
    void (*run)(CycleEngine&);
};

TEST(CycleEngineFailure, AFailingWallpaperRoutineIsDroppedAndTheCommandsComeBack) {
    const FailureCase cases[] = {
        {"cycle", [](CycleEngine& e) { e.CycleNow(); }},
        {"previous", [](CycleEngine& e) { e.Previous(); }},
        {"set as wallpaper", [](CycleEngine& e) { e.SetAsWallpaper(); }},
        {"show selected", [](CycleEngine& e) { e.ShowSelectedEntry(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineFixture f("abc", false, 0);
        f.m_engine.CycleNow();  // b, so that Previous has something to do
        f.select({2});
        f.m_duringShow = [](const std::string&) { throw std::runtime_error("desktop gone"); };
        EXPECT_NO_THROW(c.run(f.m_engine));
        EXPECT_TRUE(f.m_engine.CycleEnabled());
        EXPECT_TRUE(f.m_engine.PreviousEnabled());
    }
}

TEST(CycleEngineFailure, AFailedCycleDoesNotMoveOn) {
    EngineFixture f("abc", false, 0);
    f.m_duringShow = [](const std::string&) { throw std::runtime_error("desktop gone"); };
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_engine.CurrIndex(), 0);
    EXPECT_EQ(f.setupIndexOf(f.m_engine.CurrentEntry()), 0);
    f.m_duringShow = nullptr;
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown, "bb");
}

TEST(CycleEngineEvents, ChosenEntryRemovedWhileItIsAppliedKeepsCurrIndex) {
    EngineFixture f("abc", false, 0);
    f.m_duringShow = [&](const std::string&) { f.m_list.RemoveEntry(f.m_ids[1]); };
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_engine.CurrentEntry(), CycleEngine::kNone);
    EXPECT_EQ(f.m_engine.CurrIndex(), 0);
    EXPECT_TRUE(f.m_engine.CycleEnabled());
}

TEST(CycleEngineEvents, TheRoutineGetsAPathThatEventsCannotChange) {
    EngineFixture f("abc", false, 0);
    std::string seenAfterEvents;
    f.m_duringShow = [&](const std::string& path) {
        if (!seenAfterEvents.empty()) return;
        seenAfterEvents = "?";
        f.select({2});
        f.m_engine.SetAsWallpaper();  // a click let through sets another CurrentWallpaper
        seenAfterEvents = path;
    };
    f.m_engine.CycleNow();
    EXPECT_EQ(seenAfterEvents, PathOf('b'));
    EXPECT_EQ(f.m_engine.CurrentWallpaper(), PathOf('c'));
}

TEST(CycleEngineEvents, DeleteCurrentRefreshesTheListCommandsEveryTime) {
    EngineFixture f("abc", false, 0);
    f.m_engine.DeleteCurrentWallpaper();
    f.m_engine.SetCurrentWallpaper(PathOf('a'));
    f.m_engine.DeleteCurrentWallpaper();
    EXPECT_EQ(f.m_refreshes, 2);
    EXPECT_EQ(f.remaining(), "bc");
}

// Without a randomIndex hook the engine draws on its own: uniformly, within the list.
TEST(CycleEngineRandom, OwnGeneratorCoversTheListEvenly) {
    WallpaperList list;
    for (char c : std::string("abcdef")) list.AddEntry(PathOf(c));
    Options options;
    options.Random = true;
    std::map<char, int> shown;
    CycleEngine::Hooks hooks;
    std::string last;
    int repeats = 0;
    hooks.setWallpaper = [&](const std::string& path, std::function<void()> applied) {
        ++shown[LetterOf(path)];
        repeats += path == last;
        last = path;
        applied();
    };
    CycleEngine engine(list, options, hooks);
    for (int i = 0; i < 6000; ++i) engine.CycleNow();
    ASSERT_EQ(shown.size(), 6u);
    for (const auto& [letter, n] : shown) {
        // Every cycle shows a picture other than the current one: ~1000 each.
        EXPECT_GT(n, 800) << letter;
        EXPECT_LT(n, 1200) << letter;
    }
    EXPECT_EQ(repeats, 0);
}

// The generator's own draws with two entries: every cycle changes the picture, the same
// way for "Cycle!", "--next" and the countdown, which all come through CycleNow.
TEST(CycleEngineRandom, TwoEntriesNeverPickTheCurrentOne) {
    WallpaperList list;
    list.AddEntry(PathOf('a'));
    list.AddEntry(PathOf('b'));
    Options options;
    options.Random = true;
    std::string shown;
    CycleEngine::Hooks hooks;
    hooks.setWallpaper = [&](const std::string& path, std::function<void()> applied) {
        shown += LetterOf(path);
        applied();
    };
    CycleEngine engine(list, options, hooks);
    engine.ResetCurrentEntryFromIndex();  // a is current
    for (int i = 0; i < 200; ++i) engine.CycleNow();
    ASSERT_EQ(shown.size(), 200u) << "every cycle showed a picture";
    for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], i % 2 == 0 ? 'b' : 'a') << i;
}

// The entry made ready ahead is the one the next cycle then shows, in either order.
TEST(CycleEngineRandom, TheUpcomingEntryIsTheOneTheNextCycleShows) {
    for (bool random : {false, true}) {
        SCOPED_TRACE(random ? "random" : "list order");
        EngineFixture f("abcd", random, 0);
        f.m_draws = {2, 0, 1, 1};
        for (int i = 0; i < 2; ++i) {
            const EntryId upcoming = f.m_engine.UpcomingEntry();
            ASSERT_NE(upcoming, CycleEngine::kNone);
            EXPECT_EQ(f.m_engine.UpcomingEntry(), upcoming) << "asking again draws nothing new";
            f.m_engine.CycleNow();
            EXPECT_EQ(f.m_engine.CurrentEntry(), upcoming);
        }
        EngineFixture one("a", random, 0);
        one.m_draws = {0};
        EXPECT_EQ(one.m_engine.UpcomingEntry(), CycleEngine::kNone) << "the next cycle shows nothing";
    }
}

// ---- the engine wired to the countdown, as the main window does ---------------------------

class Wired : public ::testing::Test {
protected:
    Wired()
        : m_engine(m_list, m_options,
                   CycleEngine::Hooks{[this](const std::string& path, std::function<void()> applied) {
                                          m_shown += LetterOf(path);
                                          applied();
                                      },
                                      nullptr,
                                      [this] { m_countdown.StopStartupTimer(); }, nullptr, nullptr, nullptr,
                                      nullptr}),
          m_countdown(m_cycleTimer, m_startupTimer,
                      CycleTimer::Hooks{[this] { m_engine.CycleNow(); }, [this] { return m_options.Interval; },
                                        [this](const std::string& t) { m_title = t; }, nullptr, nullptr}) {
        m_options.Random = false;
        m_options.Interval = 600;
    }

    // Ticks until the next timed cycle; returns the number of ticks it took.
    int ticksToNextTimedCycle() {
        std::size_t before = m_timedCycles;
        for (int n = 1; n <= 100000; ++n) {
            std::string shownBefore = m_shown;
            int countdownBefore = m_countdown.Countdown();
            EXPECT_TRUE(m_cycleTimer.fire());
            if (countdownBefore <= 0) ++m_timedCycles;
            if (m_timedCycles > before) return n;
        }
        return -1;
    }

    WallpaperList m_list;
    Options m_options;
    ManualTimer m_cycleTimer;
    ManualTimer m_startupTimer;
    std::string m_shown;
    std::string m_title;
    std::size_t m_timedCycles = 0;
    CycleEngine m_engine;
    CycleTimer m_countdown;
};

TEST_F(Wired, AManualCycleDoesNotRestartTheCount) {
    for (char c : std::string("abcd")) m_list.AddEntry(PathOf(c));
    m_engine.ResetCurrentEntryFromIndex();
    m_countdown.SetCountdown(0);
    m_countdown.SetRunning(true);
    ASSERT_EQ(ticksToNextTimedCycle(), 1);
    ASSERT_EQ(m_title, "Kalidrome - 599 sec");
    for (int i = 0; i < 250; ++i) m_cycleTimer.fire();
    m_engine.CycleNow();  // "&Cycle!" half-way
    EXPECT_EQ(m_countdown.Countdown(), 349);
    EXPECT_EQ(ticksToNextTimedCycle(), 350);  // 600 ticks after the last timed cycle
    EXPECT_EQ(m_shown, "bcd");
}

TEST_F(Wired, ATimedCycleOnAnEmptyListRestartsTheCount) {
    m_countdown.SetCountdown(0);
    m_countdown.SetRunning(true);
    m_cycleTimer.fire();
    EXPECT_EQ(m_shown, "");
    EXPECT_EQ(m_title, "Kalidrome - 599 sec");
}

TEST_F(Wired, TheFirstCycleStopsThePendingStartupTimer) {
    m_list.AddEntry(PathOf('a'));
    m_list.AddEntry(PathOf('b'));
    m_countdown.SetCountdown(m_options.Interval);
    m_countdown.StartStartupTimerAfterLoad(false);
    m_engine.CycleNow();
    EXPECT_FALSE(m_startupTimer.isActive());
}

}  // namespace
