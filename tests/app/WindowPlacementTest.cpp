// Where the user left the main window, its columns and the preview: kept in Settings.ini
// (section "Window") and put back at the next start, on a part of the screens that shows.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QScreen>

#include "MainMenus.h"
#include "MainWindowFixture.h"
#include "QtWait.h"
#include "WindowPlacement.h"

namespace kalidrome::test {
namespace {

TEST(WindowPlacementLogic, StoredPlacesReadBackOrAreRefused) {
    EXPECT_EQ(ParsePlace(FormatPlace({-1280, 40, 300, 420})), (PlaceRect{-1280, 40, 300, 420}));
    for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "1,2,0,4", "1,2,3,-4", "a,2,3,4", "1, 2,3,4", "1,2,3,4,",
                            "99999999999,2,3,4", "1,2,3,400000"})
        EXPECT_FALSE(ParsePlace(bad)) << bad;

    const std::vector<ColumnPlace> columns{{1, 200}, {0, 105}};
    EXPECT_EQ(ParseColumns(FormatColumns(columns), 2), columns);
    for (const char* bad : {"", "0:105", "0:105,0:200", "0:105,2:200", "0:105,1:0", "0:105;1:200", "0:105,1:200,"})
        EXPECT_FALSE(ParseColumns(bad, 2)) << bad;
}

// Two screens side by side, the left one smaller: 1024 x 768 at (0, 0) and 1920 x 1080 at
// (1024, 0).
TEST(WindowPlacementLogic, PlacesOffTheScreensComeBackOntoTheNearest) {
    const std::vector<PlaceRect> screens{{0, 0, 1024, 768}, {1024, 0, 1920, 1080}};
    struct Case {
        const char* name;
        PlaceRect stored;
        PlaceRect shown;
    };
    const Case cases[] = {
        {"on the first screen", {100, 100, 290, 428}, {100, 100, 290, 428}},
        {"across both screens", {900, 100, 290, 428}, {900, 100, 290, 428}},
        {"mostly off the right edge, enough showing", {2800, 300, 290, 428}, {2800, 300, 290, 428}},
        {"off every screen to the right", {5000, 300, 290, 428}, {2654, 300, 290, 428}},
        {"off every screen to the left, above", {-3000, -900, 290, 428}, {0, 0, 290, 428}},
        {"below the smaller screen", {100, 900, 290, 428}, {100, 340, 290, 428}},
        {"title bar above the screens", {300, -100, 290, 428}, {300, 0, 290, 428}},
        {"only a sliver showing", {1020, 1070, 290, 428}, {1024, 652, 290, 428}},
        {"larger than the nearest screen", {-2000, 0, 3000, 2000}, {0, 0, 1024, 768}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatPlace(ClampToScreens(c.stored, screens)), FormatPlace(c.shown));
    }
    EXPECT_EQ(ClampToScreens({5000, 5000, 10, 10}, {}), (PlaceRect{5000, 5000, 10, 10}));
}

class WindowPlacementTest : public MainWindowFixture {
protected:
    // The stored place of a window, as the program reads it.
    std::optional<PlaceRect> stored(const char* key) const {
        return ParsePlace(settings().readString(WindowPlacement::kSection, key, ""));
    }
    static QRect screen() { return QGuiApplication::primaryScreen()->availableGeometry(); }
};

TEST_F(WindowPlacementTest, MainWindowColumnsAndPreviewComeBackWhereTheyWereLeft) {
    {
        MainWindow& w = create();
        w.showMainWindow();
        w.move(screen().x() + 31, screen().y() + 17);
        w.resize(350, 400);
        QHeaderView* header = w.listView().header();
        header->moveSection(1, 0);  // Path left of Filename
        header->resizeSection(1, 150);
        header->resizeSection(0, 77);
        w.close();  // the title bar's close button: hidden in the tray
        ASSERT_FALSE(w.isVisible());
        EXPECT_EQ(stored("Main"), (PlaceRect{screen().x() + 31, screen().y() + 17, 350, 400}));

        w.showMainWindow();
        w.previewCommand();
        ASSERT_NE(w.previewWindow(), nullptr);
        w.previewWindow()->move(screen().x() + 400, screen().y() + 50);
        w.previewWindow()->resize(200, 250);
        w.previewCommand();  // closes it
        ASSERT_TRUE(ProcessEventsUntil([&] { return w.previewWindow() == nullptr; }));
        EXPECT_EQ(stored("Preview"), (PlaceRect{screen().x() + 400, screen().y() + 50, 200, 250}));
        w.menus().actClose1->trigger();
        QApplication::processEvents();
    }
    MainWindow& w = create();
    EXPECT_EQ(w.pos(), QPoint(screen().x() + 31, screen().y() + 17));
    EXPECT_EQ(w.size(), QSize(350, 400));
    w.showMainWindow();
    QApplication::processEvents();
    const QHeaderView* header = w.listView().header();
    EXPECT_EQ(header->logicalIndex(0), 1);
    EXPECT_EQ(header->sectionSize(1), 150);
    EXPECT_EQ(header->sectionSize(0), 77) << "the user's width stays, also once rows are laid out";
    w.previewCommand();
    ASSERT_NE(w.previewWindow(), nullptr);
    EXPECT_EQ(w.previewWindow()->pos(), QPoint(screen().x() + 400, screen().y() + 50));
    EXPECT_EQ(w.previewWindow()->size(), QSize(200, 250));
    w.previewCommand();
}

TEST_F(WindowPlacementTest, APlaceOffEveryScreenComesBackOnScreen) {
    WriteFile(system + "Settings.ini", "[Window]\nMain=-30000,9000,320,400\nMainColumns=0:105,1:200,7:30\n");
    MainWindow& w = create();
    const QRect shown(w.pos(), w.size());
    EXPECT_EQ(w.size(), QSize(320, 400));
    EXPECT_TRUE(screen().contains(shown)) << shown.x() << "," << shown.y() << " on " << screen().width() << "x"
                                          << screen().height();
    EXPECT_EQ(w.listView().header()->logicalIndex(0), 0) << "columns of a damaged key stay as they were";
}

}  // namespace
}  // namespace kalidrome::test
