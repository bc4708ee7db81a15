// A picture for each monitor: which entry goes on which monitor (MonitorPictureChooser), and
// the cycle engine's changes, "&Previous" and CurrIndex with a picture per monitor.
#include <gtest/gtest.h>

#include <cctype>
#include <deque>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "CaseName.h"
#include "CycleEngine.h"
#include "MonitorPictures.h"
#include "Options.h"
#include "WallpaperList.h"

using namespace kalidrome;

namespace {

// Entries are named by one character: a lower-case letter is a landscape picture, a
// capital a portrait one, a digit a square one; entry "b" has the path "/p/b.jpg".
// Monitors are written "L" (landscape), "P" (portrait), "S" (square).
std::string PathOf(char c) { return std::string("/p/") + c + ".jpg"; }
char CharOf(const std::string& path) { return path.size() == 8 ? path[3] : '?'; }

Shape PictureShape(const TListItemInfo& entry) {
    const char c = CharOf(entry.FilePath);
    if (std::isdigit(static_cast<unsigned char>(c))) return Shape::Any;
    return std::isupper(static_cast<unsigned char>(c)) ? Shape::Portrait : Shape::Landscape;
}

std::vector<Shape> Monitors(const std::string& spec) {
    std::vector<Shape> out;
    for (char c : spec) out.push_back(c == 'L' ? Shape::Landscape : c == 'P' ? Shape::Portrait : Shape::Any);
    return out;
}

std::string Letters(const WallpaperList& list, const std::vector<EntryId>& ids) {
    std::string s;
    for (EntryId id : ids) s += list.find(id) ? CharOf(list.find(id)->FilePath) : '?';
    return s;
}

TEST(MonitorShape, TallerThanWideIsPortrait) {
    EXPECT_EQ(ShapeOf(1080, 1920), Shape::Portrait);
    EXPECT_EQ(ShapeOf(1920, 1080), Shape::Landscape);
    EXPECT_EQ(ShapeOf(1000, 1000), Shape::Any);
    EXPECT_EQ(ShapeOf(0, 10), Shape::Any);  // not known
    EXPECT_TRUE(ShapeFits(Shape::Portrait, Shape::Any));
    EXPECT_TRUE(ShapeFits(Shape::Any, Shape::Landscape));
    EXPECT_FALSE(ShapeFits(Shape::Portrait, Shape::Landscape));
}

struct ChooserCase {
    const char* name;
    const char* entries;
    const char* monitors;
    bool random;
    bool match;
    std::vector<std::size_t> draws;      // the random draws, in order (none among one candidate)
    std::vector<const char*> sets;       // the sets of successive changes
};

class Chooser : public ::testing::TestWithParam<ChooserCase> {};

TEST_P(Chooser, ChoosesEachChangesSet) {
    const ChooserCase& c = GetParam();
    WallpaperList list;
    for (const char* p = c.entries; *p; ++p) list.AddEntry(PathOf(*p));
    std::deque<std::size_t> draws(c.draws.begin(), c.draws.end());
    auto draw = [&](std::size_t count) {
        EXPECT_FALSE(draws.empty()) << "unexpected draw";
        if (draws.empty()) return std::size_t{0};
        const std::size_t r = draws.front();
        draws.pop_front();
        EXPECT_LT(r, count);
        return r;
    };
    MonitorPictureChooser chooser;
    std::vector<EntryId> shown;
    for (const char* expected : c.sets) {
        shown = chooser.choose(list, Monitors(c.monitors), c.random, c.match, CycleEngine::kNone, shown, PictureShape,
                               draw);
        EXPECT_EQ(Letters(list, shown), expected);
    }
    EXPECT_TRUE(draws.empty()) << "draws left over";
}

const ChooserCase kChooserCases[] = {
    {"list order: each shape moves on through its own pictures", "aBcdE", "LP", false, true, {},
     {"aB", "cE", "dB", "aE"}},
    {"list order: two landscape monitors take the next two", "abcde", "LL", false, true, {}, {"ab", "cd", "ea", "bc"}},
    {"list order without matching: the list's order whatever the shape", "aBcD", "LP", false, false, {},
     {"aB", "cD", "aB"}},
    {"list order: no portrait picture, the portrait monitor takes the next of any shape", "abc", "LP", false, true,
     {}, {"ab", "bc", "ca"}},
    {"a square picture fits either monitor", "1B", "LP", false, true, {}, {"1B", "1B"}},
    {"a square monitor takes any picture", "aB", "SS", false, true, {}, {"aB", "aB"}},
    {"one picture goes on every monitor", "a", "LPL", false, true, {}, {"aaa", "aaa"}},
    {"too few pictures: the third monitor repeats one", "ab", "LLL", false, true, {}, {"aba", "bab"}},
    {"random: fitting pictures, none on two monitors, each monitor moves on", "abCD", "LP", true, true,
     {1, 0}, {"bC", "aD"}},
    {"random: the one portrait picture stays, the second portrait monitor takes another shape", "aBc", "PP", true,
     true, {1}, {"Bc", "Ba"}},
    {"random: one picture on every monitor, nothing drawn", "a", "LP", true, true, {}, {"aa", "aa"}},
    {"random without matching draws among all free pictures", "aB", "PL", true, false, {0},
     {"aB", "Ba"}},
};
INSTANTIATE_TEST_SUITE_P(Sets, Chooser, ::testing::ValuesIn(kChooserCases),
                         [](const auto& param) { return test::CaseName(param.param.name); });

// Over many random changes: no picture on two monitors, every monitor of its own shape, and
// every monitor shows another picture at every change (the list has enough of each shape).
TEST(ChooserRandom, ManyChangesKeepTheRules) {
    WallpaperList list;
    for (char c : std::string("abcDEf")) list.AddEntry(PathOf(c));
    std::mt19937 generator(7);
    auto draw = [&](std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(generator); };
    const std::vector<Shape> monitors = Monitors("LPL");
    MonitorPictureChooser chooser;
    std::vector<EntryId> shown;
    std::set<std::string> seen;
    for (int change = 0; change < 300; ++change) {
        const std::vector<EntryId> set = chooser.choose(list, monitors, true, true, CycleEngine::kNone, shown,
                                                        PictureShape, draw);
        const std::string letters = Letters(list, set);
        SCOPED_TRACE(letters);
        ASSERT_EQ(letters.size(), 3u);
        EXPECT_EQ(std::set<char>(letters.begin(), letters.end()).size(), 3u);
        EXPECT_TRUE(std::islower(letters[0]) && std::isupper(letters[1]) && std::islower(letters[2]));
        if (!shown.empty()) {
            const std::string before = Letters(list, shown);
            for (std::size_t m = 0; m < 3; ++m) EXPECT_NE(letters[m], before[m]) << "monitor " << m;
        }
        seen.insert(letters);
        shown = set;
    }
    EXPECT_GT(seen.size(), 10u);  // a draw, not a fixed rotation
}

// The engine with a picture per monitor.
class PerMonitorEngine {
public:
    PerMonitorEngine(const std::string& entries, const std::string& monitors, bool random)
        : m_monitors(Monitors(monitors)), m_engine(m_list, m_options, hooks()) {
        m_engine.SetMonitorHooks(monitorHooks());
        for (char c : entries) m_list.AddEntry(PathOf(c));
        m_options.Random = random;
        m_options.PicturePerMonitor = true;
        m_engine.SetPreviousEntry(CycleEngine::kNone);
        m_engine.ResetCurrentEntryFromIndex();
    }

    CycleEngine::Hooks hooks() {
        CycleEngine::Hooks h;
        h.setWallpaper = [this](const std::string& path, std::function<void()> applied) {
            m_shown.push_back(std::string("one:") + CharOf(path));
            if (applied) applied();
        };
        h.randomIndex = [](std::size_t) { return std::size_t{0}; };
        return h;
    }

    CycleEngine::MonitorHooks monitorHooks() {
        CycleEngine::MonitorHooks h;
        h.monitorShapes = [this] { return m_monitors; };
        h.pictureShape = PictureShape;
        h.setWallpapers = [this](const std::vector<std::string>& paths, std::function<void()> applied) {
            std::string s;
            for (const std::string& p : paths) s += CharOf(p);
            m_shown.push_back(s);
            if (applied) applied();
        };
        return h;
    }

    std::string current() const {
        const TListItemInfo* e = m_list.find(m_engine.CurrentEntry());
        return e ? std::string(1, CharOf(e->FilePath)) : "-";
    }

    WallpaperList m_list;
    Options m_options;
    std::vector<Shape> m_monitors;
    std::vector<std::string> m_shown;
    CycleEngine m_engine;
};

// CurrIndex and CurrentEntry follow the primary monitor; "&Previous" brings back the whole
// set before, and twice brings back the set after; the next change goes on in list order.
TEST(PerMonitorEngineTest, CyclesPreviousAndCurrIndexFollowThePrimary) {
    PerMonitorEngine f("aBcdE", "LP", false);
    f.m_engine.CycleNow();  // after "a" at CurrIndex 0
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown, (std::vector<std::string>{"cB", "dE"}));
    EXPECT_EQ(f.current(), "d");
    EXPECT_EQ(f.m_options.CurrIndex, 3);
    EXPECT_EQ(f.m_engine.CurrentWallpaper(), PathOf('d'));

    f.m_engine.Previous();
    EXPECT_EQ(f.m_shown.back(), "cB");
    EXPECT_EQ(f.current(), "c");
    EXPECT_EQ(f.m_engine.CurrentWallpaper(), PathOf('c'));
    EXPECT_EQ(f.m_options.CurrIndex, 3);  // as for one picture: Previous keeps CurrIndex
    f.m_engine.Previous();
    EXPECT_EQ(f.m_shown.back(), "dE");

    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown.back(), "aB");
    EXPECT_EQ(f.m_options.CurrIndex, 0);
    EXPECT_EQ(f.m_engine.CurrentSet().size(), 2u);
    EXPECT_EQ(f.m_engine.PreviousEntry(), f.m_list.at(3).id());
}

// A list of one picture puts it on every monitor once; the next change has nothing new.
TEST(PerMonitorEngineTest, OnePictureGoesOnEveryMonitorOnce) {
    for (bool random : {false, true}) {
        SCOPED_TRACE(random ? "random" : "list order");
        PerMonitorEngine f("a", "LPL", random);
        f.m_engine.CycleNow();
        f.m_engine.CycleNow();
        EXPECT_EQ(f.m_shown, std::vector<std::string>{"aaa"});
        EXPECT_TRUE(f.m_engine.CycleEnabled());
    }
}

// Set as wallpaper puts the selected picture on the primary monitor; the others keep theirs.
TEST(PerMonitorEngineTest, SetAsWallpaperChangesThePrimaryOnly) {
    PerMonitorEngine f("aBcdE", "LP", false);
    f.m_engine.CycleNow();
    f.m_list.at(3).setSelected(true);
    f.m_engine.SetAsWallpaper();
    EXPECT_EQ(f.m_shown.back(), "dB");
    EXPECT_EQ(f.current(), "c");  // not made current
    f.m_engine.ShowSelectedEntry();
    EXPECT_EQ(f.m_shown.back(), "dB");
    EXPECT_EQ(f.current(), "d");
    f.m_engine.Previous();
    EXPECT_EQ(f.m_shown.back(), "cB");
}

// The monitors are asked at every change: one plugged in takes part in the next change, one
// turned takes pictures of its new shape; "&Previous" brings back the set as it was.
TEST(PerMonitorEngineTest, TheNextChangeUsesTheNewLayout) {
    PerMonitorEngine f("aBcdEf", "LP", false);
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown.back(), "cB");
    f.m_monitors = Monitors("LPL");  // a third monitor plugged in
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown.back(), "dEf");
    f.m_monitors = Monitors("LL");  // the portrait one turned, the third unplugged
    f.m_engine.CycleNow();
    EXPECT_EQ(f.m_shown.back(), "ac");
    f.m_engine.Previous();
    EXPECT_EQ(f.m_shown.back(), "dEf");
}

// With the option off, or when the monitors cannot be learnt, one picture goes everywhere.
TEST(PerMonitorEngineTest, OnePictureWhenTheOptionIsOffOrNoMonitorIsKnown) {
    PerMonitorEngine off("aBc", "LP", false);
    off.m_options.PicturePerMonitor = false;
    off.m_engine.CycleNow();
    PerMonitorEngine unknown("aBc", "", false);
    unknown.m_engine.CycleNow();
    for (PerMonitorEngine* f : {&off, &unknown}) {
        EXPECT_EQ(f->m_shown, std::vector<std::string>{"one:B"});
        EXPECT_TRUE(f->m_engine.CurrentSet().empty());
    }
}

}  // namespace
