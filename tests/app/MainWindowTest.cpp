// The main window on Qt's offscreen platform, with an in-memory desktop and registry and
// an autostart entry in a temporary folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <filesystem>

#include <unistd.h>

#include "Autostart.h"
#include "CaseName.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "FileDialogs.h"
#include "IniFile.h"
#include "ListCommands.h"
#include "ListFile.h"
#include "LocalClock.h"
#include "MainMenus.h"
#include "MessageBox.h"
#include "TempDir.h"
#include "MainWindow.h"
#include "MainWindowFixture.h"
#include "QtWait.h"
#include "ThumbnailMaker.h"
#include "TrayIcon.h"
#include "WallpaperListView.h"

namespace {

using namespace kalidrome;
using kalidrome::test::ProcessEventsUntil;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;

// The two ways a close goes: the title-bar close hides, the Close command ends.
struct CloseKind {
    const char* name;
    bool forGood;
};
constexpr CloseKind kCloses[] = {{"close that hides", false}, {"close that ends", true}};

class MainWindowTest : public kalidrome::test::MainWindowFixture {
protected:
    // A new System folder (and no window), as on a new computer.
    void startOver() {
        window.reset();
        system = dir.file("run" + std::to_string(++runs) + "/System/");
        std::filesystem::create_directories(system);
    }

    void closeWindow(const CloseKind& close) {
        if (close.forGood) window->menus().actClose1->trigger();
        else window->close();
    }

    static void writeList(const std::string& path, const std::vector<std::string>& pictures) {
        WallpaperList list;
        std::string current;
        list.AddFiles(pictures, current);
        WriteListFile(path, list, false, false);
    }

    // The bytes of a list of these pictures, cut inside the third record's first chunk
    // header: the reader keeps the first two entries and refuses the rest.
    static std::string cutList(const std::vector<std::string>& pictures) {
        WallpaperList two, three;
        std::string current;
        two.AddFiles({pictures[0], pictures[1]}, current);
        three.AddFiles(pictures, current);
        const std::size_t thirdRecord = EncodeListFile(two, false, false).size();
        return EncodeListFile(three, false, false).substr(0, thirdRecord + 4);
    }

    static std::vector<std::string> pathsIn(const WallpaperList& list) {
        std::vector<std::string> paths;
        for (const TListItemInfo* e = list.first(); e; e = list.next(*e)) paths.push_back(e->FilePath);
        return paths;
    }

    static std::vector<std::string> pathsInFile(const std::string& path) {
        WallpaperList list;
        bool saveImage = false;
        EXPECT_NO_THROW(ReadListFile(path, list, saveImage)) << path;
        return pathsIn(list);
    }

    // The files set aside from "<stem>.kdl" in the System folder.
    std::vector<std::string> asideFiles(const std::string& stem) const {
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::directory_iterator(system))
            if (e.path().filename().string().rfind(stem + ".damaged-", 0) == 0) found.push_back(e.path().string());
        return found;
    }

    int runs = 0;
};

TEST_F(MainWindowTest, FirstStartWritesTheLoadDefaultsAndPublishesTheSystemFolder) {
    MainWindow& w = create();
    IniFile ini = settings();
    EXPECT_EQ(ini.readString("Options", "DisableCycling", "?"), "0");
    EXPECT_EQ(ini.readString("Options", "ShowTray", "?"), "1");
    EXPECT_EQ(ini.readString("Options", "GreyScale", "?"), "0");
    EXPECT_EQ(ini.readString("Options", "CloseImmediately", "?"), "0");
    EXPECT_FALSE(ini.keyExists("Options", "List"));
    EXPECT_TRUE(w.optionState().options().Random);
    EXPECT_EQ(w.optionState().options().Interval, 600);
    EXPECT_EQ(w.cycleTimer().Countdown(), 1);
    EXPECT_FALSE(w.isVisible()) << "the load has written Settings.ini: only /c shows the window";
    EXPECT_EQ(registry.readString("Software\\Kalidrome", "SystemPath"), system);
    EXPECT_TRUE(registry.valueExists("Software\\Kalidrome", "Kalidrome"));
    EXPECT_TRUE(w.menus().actShowTray1->isChecked());
    EXPECT_FALSE(w.menus().actDisableCycling1->isChecked());
    EXPECT_FALSE(w.menus().actPrevious1->isEnabled());
    EXPECT_FALSE(w.menus().actContents1->isVisible());
}

TEST_F(MainWindowTest, BadIntervalFallsBackAndTheRestStillLoads) {
    const std::string a = picture("a.png");
    {
        WallpaperList list;
        std::string current;
        list.AddFiles({a}, current);
        WriteListFile(system + "Mine.kdl", list, false, false);
    }
    WriteFile(system + "Settings.ini", "[Options]\nInterval=ten\nList=" + system + "Mine.kdl\nShowTray=0\n");
    ui::SetNextAnswer(ui::Answer::Ok);  // the error box
    MainWindow& w = create();
    EXPECT_EQ(w.optionState().options().Interval, 600);
    EXPECT_EQ(w.list().count(), 1u) << "the list is loaded all the same";
    EXPECT_FALSE(w.optionState().options().ShowTray);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(MainWindowTest, ReadOnlySettingsStillLoadTheList) {
    const std::string a = picture("a.png");
    {
        WallpaperList list;
        std::string current;
        list.AddFiles({a}, current);
        WriteListFile(system + "Mine.kdl", list, false, false);
    }
    WriteFile(system + "Settings.ini", "[Options]\nList=" + system + "Mine.kdl\nDisableCycling=1\n");
    std::filesystem::permissions(system + "Settings.ini", std::filesystem::perms::owner_read);
    ui::SetNextAnswer(ui::Answer::Ok);  // "Unable to write to ..." once
    MainWindow& w = create();
    EXPECT_EQ(w.list().count(), 1u);
    EXPECT_TRUE(w.optionState().options().DisableCycling);
    EXPECT_EQ(ReadFile(system + "Settings.ini"), "[Options]\nList=" + system + "Mine.kdl\nDisableCycling=1\n");

    // Closing still saves the list itself.
    w.list().AddEntry(dir.file("b.png"));
    w.close();
    WallpaperList saved;
    bool saveImage = false;
    ReadListFile(system + "Mine.kdl", saved, saveImage);
    EXPECT_EQ(saved.count(), 2u);
}

struct OccasionCase {
    const char* name;
    ListOccasion occasion;
    int entries;
    std::vector<int> selected;
    // Expected after the refresh, with every state set to the opposite beforehand.
    const char* count;   // nullptr: unchanged ("x")
    int deleteSelected;  // -1 unchanged
    int cycleButton;
    int clearNonExisting;
};

TEST(ListCommands, StatesByOccasion) {
    const OccasionCase cases[] = {
        {"added, one selected", ListOccasion::Added, 3, {1}, "3", 1, 1, -1},
        {"added, two selected", ListOccasion::Added, 3, {0, 1}, "3", 0, 1, -1},
        {"added to empty list", ListOccasion::Added, 0, {}, "0", 0, 0, -1},
        {"removed, one left selected", ListOccasion::Removed, 2, {0}, "2", 1, -1, 1},
        {"removed, all gone", ListOccasion::Removed, 0, {}, "0", 0, -1, 0},
        {"loaded", ListOccasion::Loaded, 4, {0}, "4", -1, -1, -1},
        {"click, two selected", ListOccasion::Click, 3, {0, 2}, nullptr, 1, 1, -1},
        {"click, none selected", ListOccasion::Click, 3, {}, nullptr, 0, 1, -1},
        {"selection changed, two selected", ListOccasion::SelectionChanged, 3, {0, 2}, nullptr, 0, 1, -1},
        {"selection changed, one selected", ListOccasion::SelectionChanged, 3, {2}, nullptr, 1, 1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QMainWindow window;
        MainMenus menus(&window);
        QLabel count("x");
        QPushButton button;
        WallpaperList list;
        for (int i = 0; i < c.entries; ++i) list.AddEntry("/p/" + std::to_string(i) + ".jpg");
        for (int r : c.selected) list.at(static_cast<std::size_t>(r)).setSelected(true);
        ListCommands commands(list, menus, count, button);
        const bool before = c.deleteSelected == 0;  // start from the opposite
        for (QAction* a : {menus.actDeleteSelected1, menus.actSetWallpaper1, menus.miSetWallpaper2,
                           menus.actEditImage1})
            a->setEnabled(before);
        button.setEnabled(c.cycleButton != 1);
        menus.actClearNonExisting1->setEnabled(c.clearNonExisting != 1);
        const bool buttonBefore = button.isEnabled();
        const bool clearBefore = menus.actClearNonExisting1->isEnabled();

        commands.RefreshListCommands(c.occasion);

        EXPECT_EQ(count.text().toStdString(), c.count ? c.count : "x");
        if (c.deleteSelected >= 0) {
            for (QAction* a : {menus.actDeleteSelected1, menus.actSetWallpaper1, menus.miSetWallpaper2,
                               menus.actEditImage1})
                EXPECT_EQ(a->isEnabled(), c.deleteSelected == 1) << a->objectName().toStdString();
        } else {
            EXPECT_EQ(menus.actDeleteSelected1->isEnabled(), before);
        }
        EXPECT_EQ(button.isEnabled(), c.cycleButton < 0 ? buttonBefore : c.cycleButton == 1);
        EXPECT_EQ(menus.actClearNonExisting1->isEnabled(),
                  c.clearNonExisting < 0 ? clearBefore : c.clearNonExisting == 1);
    }
}

TEST_F(MainWindowTest, CommandsFollowTheListThroughAddSelectAndClear) {
    MainWindow& w = create();
    MainMenus& m = w.menus();
    auto* button = w.findChild<QPushButton*>("btnCycle1");
    auto* count = w.findChild<QLabel*>("lblFiles1");
    ASSERT_TRUE(button && count);
    EXPECT_FALSE(button->isEnabled() && w.list().empty());

    const std::string a = picture("a.png"), b = picture("b.png");
    addFiles({a, b});
    EXPECT_EQ(count->text(), "2");
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(w.engine().CurrentWallpaper(), a) << "the first file added becomes the current wallpaper";
    EXPECT_EQ(settings().readString("Settings", "BrowsePath", ""), dir.path());

    select({0});
    EXPECT_TRUE(m.actDeleteSelected1->isEnabled());
    EXPECT_TRUE(m.miSetWallpaper2->isEnabled());
    select({0, 1});
    EXPECT_FALSE(m.actDeleteSelected1->isEnabled()) << "a selection change alone wants exactly one";

    w.clearAllCommand();
    EXPECT_EQ(count->text(), "0");
    for (QAction* action : {m.actDeleteSelected1, m.actSetWallpaper1, m.miSetWallpaper2, m.actEditImage1,
                            m.actClearNonExisting1})
        EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
}

TEST_F(MainWindowTest, ContextMenuOpeningRules) {
    MainWindow& w = create();
    MainMenus& m = w.menus();
    addFiles({picture("a.png")});
    select({0});
    ASSERT_TRUE(m.actDeleteSelected1->isEnabled());
    // From the tray the list has no focus: Delete selected off, Clear non existing hidden.
    w.prepareContextMenu();
    EXPECT_FALSE(m.actDeleteSelected1->isEnabled());
    EXPECT_FALSE(m.miSetWallpaper2->isEnabled());
    EXPECT_FALSE(m.actClearNonExisting1->isVisible());
    EXPECT_TRUE(m.actClearAll1->isEnabled());
    EXPECT_TRUE(m.miCycle2->isEnabled());
    // The current wallpaper's file exists: Delete current wallpaper is offered.
    EXPECT_TRUE(m.actDeleteCurrentWallpaper1->isEnabled());
    std::filesystem::remove(w.engine().CurrentWallpaper());
    w.prepareContextMenu();
    EXPECT_FALSE(m.actDeleteCurrentWallpaper1->isEnabled());
}

TEST_F(MainWindowTest, ShortcutsFollowTheContextMenuFirst) {
    MainWindow& w = create();
    const std::string a = picture("a.png"), b = picture("b.png"), c = picture("c.png");
    addFiles({a, b, c});
    QWidget* view = &w.listView();

    struct Case {
        const char* name;
        std::vector<int> selected;
        std::size_t wallpaperCalls;  // after F9
    };
    // F9 is "&Set as wallpaper" (before "&Cycle!" in the context menu): it shows the one
    // selected entry and does nothing otherwise.
    const Case cases[] = {{"one selected", {1}, 1}, {"two selected", {0, 1}, 0}, {"none selected", {}, 0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        select(k.selected);
        w.listCommands().RefreshListCommands(ListOccasion::SelectionChanged);
        const std::size_t before = desktop.calls().size();
        const std::string currentBefore = w.engine().CurrentWallpaper();
        press(view, Qt::Key_F9);
        EXPECT_TRUE(ProcessEventsUntil([&] { return !w.wallpaperChanger().busy(); }));
        EXPECT_EQ(desktop.calls().size() - before, k.wallpaperCalls);
        if (k.wallpaperCalls == 0) EXPECT_EQ(w.engine().CurrentWallpaper(), currentBefore);
        else EXPECT_EQ(w.engine().CurrentWallpaper(), b);
    }

    // Del removes the selected entry when the command is enabled, the number pad's Del
    // (NumLock off) as well.
    select({0});
    w.listCommands().RefreshListCommands(ListOccasion::SelectionChanged);
    press(view, Qt::Key_Delete);
    ASSERT_EQ(w.list().count(), 2u);
    EXPECT_EQ(w.list().at(0).FilePath, b);
    ui::SetNextFileNames({QString::fromStdString(a)});
    w.addCommand();
    ASSERT_EQ(w.list().count(), 3u);
    select({2});
    w.listCommands().RefreshListCommands(ListOccasion::SelectionChanged);
    press(view, Qt::Key_Delete, Qt::KeypadModifier);
    ASSERT_EQ(w.list().count(), 2u);
    EXPECT_EQ(w.list().at(1).FilePath, c);

    // Ctrl+Del removes the current wallpaper's entry when a file is at that path.
    w.prepareContextMenu();
    ASSERT_TRUE(w.menus().actDeleteCurrentWallpaper1->isEnabled());
    press(view, Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(w.list().count(), 1u);
    EXPECT_EQ(w.list().at(0).FilePath, c);

    // Ctrl+A is Add, not the list's select-all.
    ui::SetNextFileNames({QString::fromStdString(a)});
    press(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(w.list().count(), 2u);

    // F1 is carried by the invisible "&Contents..." item and does nothing.
    press(view, Qt::Key_F1);
    EXPECT_EQ(w.list().count(), 2u);
}

TEST_F(MainWindowTest, AltF4EndsTheProgramAndDeletesTheBitmap) {
    MainWindow& w = create();
    WriteFile(system + "WallPaper.bmp", "BM");
    bool ended = false;
    QObject::connect(&w, &MainWindow::closedForGood, [&] { ended = true; });
    press(&w, Qt::Key_F4, Qt::AltModifier);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(std::filesystem::exists(system + "WallPaper.bmp"));
    EXPECT_EQ(settings().readString("Options", "CurrIndex", "?"), "0") << "closing saves";
}

// Closing for good while a change is still being made on the worker: the change is dropped,
// and WallPaper.bmp, removed by the close, is not written again when the worker is done.
TEST_F(MainWindowTest, AChangeUnderWayAtExitDoesNotBringTheBitmapBack) {
    MainWindow& w = create();
    addFiles({picture("a.png", 6000, 4000), picture("b.png", 6000, 4000)});
    w.optionState().SetRandom(false);
    WallpaperChanger& changer = w.wallpaperChanger();
    w.trayIcon().pressed(QSystemTrayIcon::Trigger, Qt::ControlModifier);  // cycles
    ASSERT_TRUE(changer.busy()) << "the change is on the worker";
    bool ended = false;
    QObject::connect(&w, &MainWindow::closedForGood, [&] { ended = true; });
    const std::size_t before = desktop.calls().size();
    press(&w, Qt::Key_F4, Qt::AltModifier);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(changer.busy());
    window.reset();  // waits for the worker
    EXPECT_FALSE(std::filesystem::exists(system + "WallPaper.bmp"));
    EXPECT_FALSE(std::filesystem::exists(system + "WallPaper.next.bmp"));
    EXPECT_EQ(desktop.calls().size(), before) << "nothing reached the desktop after the close";
}

TEST_F(MainWindowTest, CloseButtonHidesAndSavesTheList) {
    const std::string a = picture("a.png");
    WriteFile(system + "Settings.ini", "[Options]\nList=" + system + "Files.kdl\n");
    MainWindow& w = create();
    w.showMainWindow();
    addFiles({a});
    WriteFile(system + "WallPaper.bmp", "BM");
    bool ended = false;
    QObject::connect(&w, &MainWindow::closedForGood, [&] { ended = true; });
    w.close();
    EXPECT_FALSE(ended);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(std::filesystem::exists(system + "WallPaper.bmp"));
    WallpaperList saved;
    bool saveImage = true;
    ReadListFile(system + "Files.kdl", saved, saveImage);
    ASSERT_EQ(saved.count(), 1u);
    EXPECT_EQ(saved.at(0).FilePath, a);
}

TEST_F(MainWindowTest, FreshInstallKeepsItsListAcrossARestart) {
    for (const CloseKind& close : kCloses) {
        SCOPED_TRACE(close.name);
        startOver();
        const std::string a = picture("a.png"), b = picture("b.png");
        create();
        addFiles({a, b});
        closeWindow(close);
        EXPECT_EQ(settings().readString("Options", "List", ""), system + "Files.kdl");

        window.reset();
        MainWindow& again = create();
        EXPECT_EQ(pathsIn(again.list()), (std::vector<std::string>{a, b}));
    }
}

TEST_F(MainWindowTest, AnEmptyListKeyNeverSavesOverAFilesKdlOfAnotherRun) {
    // List is empty (an earlier run's save failed) and Files.kdl holds some other list.
    const std::string other = picture("other.png"), mine = picture("mine.png");
    writeList(system + "Files.kdl", {other});
    const std::string before = ReadFile(system + "Files.kdl");
    WriteFile(system + "Settings.ini", "[Options]\nList=\n");
    MainWindow& w = create();
    ASSERT_TRUE(w.list().empty());
    addFiles({mine});
    w.close();
    const std::string beside = system + "Files (2).kdl";
    EXPECT_EQ(settings().readString("Options", "List", ""), beside);
    EXPECT_EQ(pathsInFile(beside), std::vector<std::string>{mine});
    EXPECT_EQ(ReadFile(system + "Files.kdl"), before);

    // Files.kdl written by this run is ours to save again.
    ui::SetNextFileNames({QString::fromStdString(system + "Files.kdl")});
    w.saveListCommand();
    settings().writeString("Options", "List", "");
    w.close();
    EXPECT_EQ(settings().readString("Options", "List", ""), system + "Files.kdl");
    EXPECT_EQ(pathsInFile(system + "Files.kdl"), std::vector<std::string>{mine});
}

TEST_F(MainWindowTest, LoadingARefusedListFileLosesNothing) {
    struct Case {
        const char* name;
        bool cut;  // a list cut short in its third record; otherwise a text file
    };
    for (const Case& c : {Case{"text file", false}, Case{"cut list", true}}) {
        for (const CloseKind& close : kCloses) {
            SCOPED_TRACE(std::string(c.name) + ", " + close.name);
            startOver();
            const std::string a = picture("a.png"), b = picture("b.png"), d = picture("d.png");
            const std::string listA = system + "A.kdl";
            writeList(listA, {a, b, d});
            const std::string bytesA = ReadFile(listA);
            WriteFile(system + "Settings.ini", "[Options]\nList=" + listA + "\n");
            const std::string chosen = system + (c.cut ? "C.kdl" : "B.kdl");
            const std::string chosenBytes = c.cut ? cutList({b, d, a}) : std::string("just some notes, no list\n");
            WriteFile(chosen, chosenBytes);

            MainWindow& w = create();
            ASSERT_EQ(w.list().count(), 3u);
            ui::SetNextFileNames({QString::fromStdString(chosen)});
            ui::SetNextAnswer(ui::Answer::Ok);  // the error box
            testing::internal::CaptureStderr();
            w.loadListCommand();
            const std::string told = testing::internal::GetCapturedStderr();

            if (!c.cut) {
                EXPECT_NE(told.find("Unable to load tree structure, the format is wrong."), std::string::npos) << told;
                EXPECT_EQ(pathsIn(w.list()), (std::vector<std::string>{a, b, d})) << "the list stays as it was";
                EXPECT_EQ(settings().readString("Options", "List", ""), listA);
                closeWindow(close);
                EXPECT_EQ(pathsInFile(listA), (std::vector<std::string>{a, b, d}));
                EXPECT_EQ(ReadFile(chosen), chosenBytes) << "a file that is not the list in use is left alone";
                EXPECT_TRUE(asideFiles("B").empty());
            } else {
                EXPECT_NE(told.find("Stream read error"), std::string::npos) << told;
                EXPECT_EQ(pathsIn(w.list()), (std::vector<std::string>{b, d})) << "the entries read are kept";
                EXPECT_EQ(settings().readString("Options", "List", ""), chosen);
                const auto aside = asideFiles("C");
                ASSERT_EQ(aside.size(), 1u);
                EXPECT_NE(told.find(aside.front()), std::string::npos) << "the message says where the file went";
                closeWindow(close);
                EXPECT_EQ(ReadFile(listA), bytesA) << "the previous list file is not touched";
                EXPECT_EQ(pathsInFile(chosen), (std::vector<std::string>{b, d}));
                EXPECT_EQ(ReadFile(aside.front()), chosenBytes) << "the damaged file is kept whole";
            }
        }
    }
}

TEST_F(MainWindowTest, ADamagedListFileAtStartIsSetAsideNotSavedOver) {
    struct Case {
        const char* name;
        bool listKey;  // List names Files.kdl (else the key is absent and Files.kdl is the default)
        bool cut;      // a list cut short in its third record; otherwise bytes that are no list
        std::size_t kept;
    };
    const Case cases[] = {{"garbage, default List", false, false, 0},
                          {"garbage, List set", true, false, 0},
                          {"cut list, List set", true, true, 2}};
    for (const Case& c : cases) {
        for (const CloseKind& close : kCloses) {
            SCOPED_TRACE(std::string(c.name) + ", " + close.name);
            startOver();
            const std::string a = picture("a.png"), b = picture("b.png"), d = picture("d.png");
            const std::string files = system + "Files.kdl";
            const std::string damaged = c.cut ? cutList({a, b, d}) : std::string("not a list file at all\n");
            WriteFile(files, damaged);
            if (c.listKey) WriteFile(system + "Settings.ini", "[Options]\nList=" + files + "\n");

            ui::SetNextAnswer(ui::Answer::Ok);  // the error box
            testing::internal::CaptureStderr();
            const std::size_t kept = create().list().count();
            const std::string told = testing::internal::GetCapturedStderr();
            EXPECT_EQ(kept, c.kept);
            const auto aside = asideFiles("Files");
            ASSERT_EQ(aside.size(), 1u);
            EXPECT_NE(told.find(aside.front()), std::string::npos) << told;
            EXPECT_EQ(ReadFile(aside.front()), damaged);

            closeWindow(close);
            EXPECT_EQ(ReadFile(aside.front()), damaged) << "the close leaves the damaged file alone";
            const std::vector<std::string> expected =
                c.cut ? std::vector<std::string>{a, b} : std::vector<std::string>{};
            EXPECT_EQ(pathsInFile(files), expected);

            // The next start reads what was saved, without an error.
            window.reset();
            testing::internal::CaptureStderr();
            MainWindow& again = create();
            const std::string toldAgain = testing::internal::GetCapturedStderr();
            EXPECT_EQ(toldAgain.find("kalidrome: "), std::string::npos) << "no error box: " << toldAgain;
            EXPECT_EQ(pathsIn(again.list()), expected);
            EXPECT_EQ(asideFiles("Files").size(), 1u);
        }
    }
}

TEST_F(MainWindowTest, ARefusedListFileThatCannotBeSetAsideIsLeftAloneAndTheListGoesBeside) {
    if (::geteuid() == 0) GTEST_SKIP() << "a read-only folder does not stop root";
    const std::string a = picture("a.png"), b = picture("b.png"), d = picture("d.png");
    const std::string folder = system + "Lists/", files = folder + "Files.kdl";
    std::filesystem::create_directory(folder);
    const std::string damaged = cutList({a, b, d});
    WriteFile(files, damaged);
    WriteFile(system + "Settings.ini", "[Options]\nList=" + files + "\n");
    std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);

    ui::SetNextAnswer(ui::Answer::Ok);  // the error box
    testing::internal::CaptureStderr();
    MainWindow& w = create();
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(pathsIn(w.list()), (std::vector<std::string>{a, b}));
    const std::string beside = folder + "Files (2).kdl";
    EXPECT_NE(told.find(beside), std::string::npos) << told;
    EXPECT_EQ(settings().readString("Options", "List", ""), beside);

    // Saving beside it fails too (the folder is read-only): each close says so, List keeps
    // naming where the list belongs, and the list stays in memory until a save can work.
    for (int round = 0; round < 2; ++round) {
        ui::SetNextAnswer(ui::Answer::Ok);
        testing::internal::CaptureStderr();
        w.close();
        const std::string closeTold = testing::internal::GetCapturedStderr();
        EXPECT_NE(closeTold.find("The list could not be saved:\n" + beside), std::string::npos) << closeTold;
        EXPECT_NE(closeTold.find("read-only"), std::string::npos) << closeTold;
        EXPECT_EQ(ReadFile(files), damaged);
        EXPECT_EQ(settings().readString("Options", "List", ""), beside);
    }
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    w.close();
    EXPECT_EQ(pathsInFile(beside), (std::vector<std::string>{a, b}));
    EXPECT_EQ(ReadFile(files), damaged);
}

TEST(ListFileNames, FreeNameBesideSkipsEveryTakenName) {
    TempDir dir;
    struct Case {
        const char* name;
        const char* path;
        std::vector<const char*> taken;
        const char* expected;
    };
    const Case cases[] = {
        {"first free", "Files.kdl", {}, "Files (2).kdl"},
        {"taken names and a folder are skipped", "Files.kdl", {"Files (2).kdl", "Files (3).kdl/"}, "Files (4).kdl"},
        {"no extension", "list", {}, "list (2)"},
        {"a dot file has no extension", ".kdl", {}, ".kdl (2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir.file(kalidrome::test::CaseName(c.name)) + "/";
        std::filesystem::create_directory(folder);
        for (const char* t : c.taken) {
            const std::string name = t;
            if (name.back() == '/') std::filesystem::create_directory(folder + name);
            else WriteFile(folder + name, "x");
        }
        EXPECT_EQ(FreeListFileNameBeside(folder + c.path), folder + c.expected);
    }
}

TEST(ListFileNames, SettingAsideNeverReplacesAFile) {
    TempDir dir;
    const std::string path = dir.file("Files.kdl");
    std::vector<std::string> asides;
    // Within one second the stamp repeats: each later file must get a name of its own.
    for (int i = 0; i < 3; ++i) {
        WriteFile(path, "damaged " + std::to_string(i));
        asides.push_back(SetAsideDamagedListFile(path));
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_EQ(asides.back().rfind(dir.file("Files.damaged-"), 0), 0u) << asides.back();
        EXPECT_EQ(asides.back().substr(asides.back().size() - 4), ".kdl");
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadFile(asides[static_cast<std::size_t>(i)]), "damaged " + std::to_string(i));
    EXPECT_THROW(SetAsideDamagedListFile(dir.file("missing.kdl")), ListFileError);
}

// A save that fails keeps List naming the intact file, says where and why, and the next
// save tries again; a list file another program replaced is never saved over.
TEST_F(MainWindowTest, FailedSaveKeepsListAndTheNextSaveTriesAgain) {
    const std::string a = picture("a.png"), b = picture("b.png");
    const std::string locked = system + "Locked.kdl";
    writeList(locked, {a});
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read);
    WriteFile(system + "Settings.ini", "[Options]\nList=" + locked + "\n");
    MainWindow& w = create();
    addFiles({b});
    w.showMainWindow();
    ui::SetNextAnswer(ui::Answer::Ok);  // the error box; no question follows
    testing::internal::CaptureStderr();
    w.close();
    ProcessEventsUntil([&] { return false; }, 100);
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("The list could not be saved:\n" + locked), std::string::npos) << told;
    EXPECT_NE(told.find("The file or its folder is read-only."), std::string::npos) << told;
    EXPECT_EQ(told.find("Do you want to save"), std::string::npos) << told;
    EXPECT_EQ(settings().readString("Options", "List", "?"), locked);
    EXPECT_EQ(pathsInFile(locked), (std::vector<std::string>{a}));
    EXPECT_EQ(pathsIn(w.list()), (std::vector<std::string>{a, b}));

    std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    w.showMainWindow();
    w.close();
    EXPECT_EQ(pathsInFile(locked), (std::vector<std::string>{a, b}));

    // Another program puts its own list in place: it stays, the list goes beside it.
    writeList(locked + ".new", {b});
    std::filesystem::rename(locked + ".new", locked);
    ui::SetNextAnswer(ui::Answer::Ok);
    testing::internal::CaptureStderr();
    w.showMainWindow();
    w.close();
    const std::string replacedTold = testing::internal::GetCapturedStderr();
    const std::string beside = system + "Locked (2).kdl";
    EXPECT_NE(replacedTold.find("changed by another program"), std::string::npos) << replacedTold;
    EXPECT_NE(replacedTold.find(beside), std::string::npos) << replacedTold;
    EXPECT_EQ(pathsInFile(locked), (std::vector<std::string>{b}));
    EXPECT_EQ(pathsInFile(beside), (std::vector<std::string>{a, b}));
    EXPECT_EQ(settings().readString("Options", "List", "?"), beside);
}

// A list file that cannot be read at all is said at the load, as a damaged one is, and is
// left where it is: the list goes beside it from then on.
TEST_F(MainWindowTest, UnreadableListFileIsReportedAndLeftAlone) {
    const std::string pipe = system + "Files.kdl";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    WriteFile(system + "Settings.ini", "[Options]\nList=" + pipe + "\n");
    ui::SetNextAnswer(ui::Answer::Ok);
    testing::internal::CaptureStderr();
    MainWindow& w = create();
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("It is not a regular file."), std::string::npos) << told;
    const std::string beside = system + "Files (2).kdl";
    EXPECT_NE(told.find(beside), std::string::npos) << told;
    EXPECT_EQ(settings().readString("Options", "List", ""), beside);
    addFiles({picture("a.png")});
    w.close();
    struct stat st {};
    ASSERT_EQ(::lstat(pipe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(pathsInFile(beside).size(), 1u);
}

TEST_F(MainWindowTest, StartWithWindowsTwiceRemovesTheEntryAgain) {
    MainWindow& w = create();
    QAction* item = w.menus().actStartWithWindows1;
    item->trigger();
    ASSERT_TRUE(std::filesystem::exists(autostart.entryPath()));
    EXPECT_TRUE(item->isChecked());
    const std::string entry = ReadFile(autostart.entryPath());
    EXPECT_NE(entry.find("Exec=\""), std::string::npos);
    item->trigger();
    EXPECT_FALSE(std::filesystem::exists(autostart.entryPath()));
    EXPECT_FALSE(item->isChecked());

    // An entry written by another copy elsewhere counts as set: the first click removes it.
    WriteFile(autostart.entryPath(), "[Desktop Entry]\nExec=\"/opt/other/kalidrome\"\n");
    w.prepareContextMenu();
    EXPECT_TRUE(item->isChecked());
    item->trigger();
    EXPECT_FALSE(std::filesystem::exists(autostart.entryPath()));
}

TEST_F(MainWindowTest, OptionCommandsWriteAndFollowTheirSetters) {
    MainWindow& w = create();
    w.menus().actDisableCycling1->trigger();
    EXPECT_TRUE(w.optionState().options().DisableCycling);
    EXPECT_FALSE(w.cycleTimer().running());
    EXPECT_EQ(settings().readString("Options", "DisableCycling", "?"), "1");
    w.menus().actShowTray1->trigger();
    EXPECT_FALSE(w.optionState().options().ShowTray);
    EXPECT_FALSE(w.trayIcon().shown());
    EXPECT_EQ(settings().readString("Options", "ShowTray", "?"), "0");
}

TEST_F(MainWindowTest, SaveAndLoadListCommands) {
    MainWindow& w = create();
    const std::string a = picture("a.png"), b = picture("b.png");
    addFiles({a, b});
    ui::SetNextFileNames({QString::fromStdString(dir.file("two.kdl"))});
    w.saveListCommand();
    EXPECT_EQ(settings().readString("Options", "List", ""), dir.file("two.kdl"));

    // Cancelling changes nothing.
    w.clearAllCommand();
    ui::SetNextFileNames({});
    w.loadListCommand();
    EXPECT_EQ(w.list().count(), 0u);

    settings().writeString("Options", "Interval", "30");
    ui::SetNextFileNames({QString::fromStdString(dir.file("two.kdl"))});
    w.loadListCommand();
    ASSERT_EQ(w.list().count(), 2u);
    EXPECT_EQ(w.list().at(1).FilePath, b);
    EXPECT_EQ(w.optionState().options().Interval, 30);
    EXPECT_EQ(w.cycleTimer().Countdown(), 30) << "a load restarts the count at Interval";
}

// While the countdown runs, the picture due next is made ready between ticks, and the
// change at the tick only hands it over: the desktop has it before CycleNow returns, as
// one screen-sized bitmap. A change of the list or the screen throws it away.
TEST_F(MainWindowTest, TheNextPictureIsReadyBeforeItsTick) {
    MainWindow& w = create();
    addFiles({picture("a.png", 2000, 1500), picture("b.png", 2000, 1500), picture("c.png", 2000, 1500)});
    w.optionState().SetRandom(false);
    w.optionState().SetDisableCycling(false);
    w.cycleTimer().SetCountdown(100000);  // no timed cycle during the test
    WallpaperChanger& changer = w.wallpaperChanger();
    const std::string staged = system + "WallPaper.next.bmp";

    auto makeReady = [&] {
        const TListItemInfo* upcoming = w.list().find(w.engine().UpcomingEntry());
        if (!upcoming) return std::string();
        changer.prepareUpcomingNow();
        EXPECT_TRUE(ProcessEventsUntil([&] { return changer.readyAhead(upcoming->FilePath); }, 15000));
        return upcoming->FilePath;
    };
    const std::string next = makeReady();
    ASSERT_FALSE(next.empty());
    EXPECT_TRUE(std::filesystem::exists(staged));
    std::size_t before = desktop.calls().size();
    w.engine().CycleNow();
    ASSERT_EQ(desktop.calls().size(), before + 1) << "handed over at the tick, without waiting for the worker";
    EXPECT_EQ(w.engine().CurrentWallpaper(), next);
    EXPECT_TRUE(w.menus().actCycle1->isEnabled());
    const auto& call = desktop.calls().back();
    EXPECT_EQ(call.bitmapPath, system + "WallPaper.bmp");
    EXPECT_EQ(call.width, 1024) << "only the screen-sized bitmap was kept";
    EXPECT_EQ(call.stagedWidth, 0) << "this desktop draws nothing ahead";
    EXPECT_FALSE(std::filesystem::exists(staged)) << "moved into place";

    // The list changes: what was ready is dropped.
    ASSERT_FALSE(makeReady().empty());
    addFiles({picture("d.png")});
    EXPECT_FALSE(changer.readyAhead());
    EXPECT_FALSE(std::filesystem::exists(staged));

    // The screen changes: what was made for the old one is not used.
    const std::string due = makeReady();
    ASSERT_FALSE(due.empty());
    desktop.setScreen({800, 600});
    before = desktop.calls().size();
    w.engine().CycleNow();
    EXPECT_TRUE(ProcessEventsUntil([&] { return !changer.busy(); }, 15000));
    ASSERT_EQ(desktop.calls().size(), before + 1);
    EXPECT_EQ(w.engine().CurrentWallpaper(), due);
    EXPECT_EQ(desktop.calls().back().width, 2000) << "made anew for the new screen";

    // A desktop that draws ahead gets at the tick what the worker drew, and no pixels.
    desktop.setStaging(platform::FakeDesktop::Staging::Stages);
    const std::string drawn = makeReady();
    ASSERT_FALSE(drawn.empty());
    before = desktop.calls().size();
    w.engine().CycleNow();
    ASSERT_EQ(desktop.calls().size(), before + 1) << "handed over at the tick";
    EXPECT_EQ(w.engine().CurrentWallpaper(), drawn);
    EXPECT_GT(desktop.calls().back().stagedWidth, 0);
    EXPECT_FALSE(desktop.calls().back().hadPixels);
}

TEST_F(MainWindowTest, TrayClicks) {
    MainWindow& w = create();
    addFiles({picture("a.png"), picture("b.png")});
    w.optionState().SetRandom(false);
    const std::size_t before = desktop.calls().size();
    w.trayIcon().pressed(QSystemTrayIcon::Trigger, Qt::ControlModifier);
    EXPECT_FALSE(w.menus().actCycle1->isEnabled()) << "busy while the picture is made on the worker";
    EXPECT_TRUE(ProcessEventsUntil([&] { return !w.wallpaperChanger().busy(); }));
    EXPECT_TRUE(w.menus().actCycle1->isEnabled());
    EXPECT_EQ(desktop.calls().size(), before + 1) << "Ctrl-click cycles";
    EXPECT_TRUE(w.menus().actPrevious1->isEnabled());
    const std::string afterCycle = w.engine().CurrentWallpaper();
    w.trayIcon().pressed(QSystemTrayIcon::Trigger, Qt::AltModifier);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !w.wallpaperChanger().busy(); }));
    EXPECT_NE(w.engine().CurrentWallpaper(), afterCycle) << "Alt-click goes back";

    const bool visible = w.isVisible();
    w.trayIcon().pressed(QSystemTrayIcon::DoubleClick, Qt::NoModifier);
    EXPECT_NE(w.isVisible(), visible);
    EXPECT_EQ(w.menus().miShowHide1->text(), w.isVisible() ? "&Hide" : "S&how");
}

// A desktop that refuses is told once per reason; the timed cycle goes on, a change that
// works clears the memory so that the same refusal later is told again.
TEST_F(MainWindowTest, ARefusingDesktopIsToldOncePerReason) {
    MainWindow& w = create();
    addFiles({picture("a.png"), picture("b.png")});
    w.optionState().SetRandom(false);
    std::vector<QString> shown;
    QObject::connect(&w, &MainWindow::desktopFailureShown, [&](const QString& reason) { shown.push_back(reason); });

    struct Step {
        bool failing;
        const char* reason;
        int shownAfter;
    };
    const Step steps[] = {
        {true, "GNOME refused picture-uri", 1},
        {true, "GNOME refused picture-uri", 1},  // the same reason again: not repeated
        {true, "The key is locked", 2},          // a new reason is told
        {false, "", 2},                          // it works again
        {true, "The key is locked", 3},          // the old reason, after a success: told again
    };
    for (const Step& step : steps) {
        desktop.setFailing(step.failing, step.reason);
        const std::size_t before = desktop.calls().size();
        w.trayIcon().pressed(QSystemTrayIcon::Trigger, Qt::ControlModifier);
        EXPECT_TRUE(ProcessEventsUntil([&] { return !w.wallpaperChanger().busy(); }));
        EXPECT_EQ(shown.size(), std::size_t(step.shownAfter)) << step.reason;
        EXPECT_EQ(desktop.calls().size(), before + (step.failing ? 0 : 1)) << step.reason;
        EXPECT_TRUE(w.findChild<QPushButton*>("btnCycle1")->isEnabled()) << "cycling stays available";
    }
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "The key is locked");
}

TEST_F(MainWindowTest, ThumbnailsAreMadeInTheBackgroundForPaintedRows) {
    MainWindow& w = create();
    w.showMainWindow();
    const std::string big = picture("big.png", 400, 200);
    addFiles({big, dir.file("missing.png")});
    ASSERT_TRUE(ProcessEventsUntil([&] { return w.list().at(0).Thumbnail.has_value(); }));
    const auto& t = *w.list().at(0).Thumbnail;
    EXPECT_EQ(t.Width, 85);
    EXPECT_EQ(t.Height, 42);  // 200 * 85 / 400 = 42.5, halves to even
    EXPECT_EQ(w.list().at(0).RowHeight, 85);
    EXPECT_EQ(w.listView().header()->sectionSize(0), 105);
    EXPECT_FALSE(w.list().at(1).Thumbnail.has_value()) << "a missing file gets none";
}

TEST_F(MainWindowTest, ThumbnailOfARemovedEntryIsDropped) {
    WallpaperList list;
    std::atomic<bool> release{false};
    ThumbnailMaker maker(list, [&](const std::string&, std::int32_t) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return JpegImage{{0xFF, 0xD8}, 1, 1};
    });
    TListItemInfo& gone = list.AddEntry("/p/a.jpg");
    TListItemInfo& stays = list.AddEntry("/p/b.jpg");
    const EntryId goneId = gone.id(), staysId = stays.id();
    int failed = 0, stored = 0;
    QObject::connect(&maker, &ThumbnailMaker::thumbnailFailed, [&] { ++failed; });
    QObject::connect(&maker, &ThumbnailMaker::thumbnailStored, [&] { ++stored; });
    maker.RequestThumbnail(goneId);
    maker.RequestThumbnail(goneId);  // merged with the first
    maker.RequestThumbnail(staysId);
    list.RemoveEntry(goneId);
    release = true;
    ASSERT_TRUE(ProcessEventsUntil([&] { return failed + stored == 2; }));
    EXPECT_EQ(stored, 1);
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(list.find(staysId)->Thumbnail.has_value());
}

TEST_F(MainWindowTest, AHundredThousandEntriesOpenWithoutAWidgetPerRow) {
    {
        WallpaperList list;
        std::vector<std::string> paths;
        for (int i = 0; i < 100000; ++i) paths.push_back("/pictures/holiday/" + std::to_string(i) + ".jpg");
        std::string current;
        list.AddFiles(std::move(paths), current);
        WriteListFile(system + "Big.kdl", list, false, false);
    }
    WriteFile(system + "Settings.ini", "[Options]\nList=" + system + "Big.kdl\nShowImages=0\n");
    MainWindow& w = create("/c");
    QTimer::singleShot(0, [&] {
        if (auto* d = w.preferencesDialog()) d->reject();
    });
    ProcessEventsUntil([&] { return w.isVisible(); });
    EXPECT_EQ(w.list().count(), 100000u);
    EXPECT_EQ(w.findChild<QLabel*>("lblFiles1")->text(), "100000");
    EXPECT_LT(w.findChildren<QWidget*>().size(), 200);
    w.listView().scrollToBottom();
    QApplication::processEvents();
    EXPECT_EQ(w.listView().model()->rowCount(), 100000);
}

}  // namespace
