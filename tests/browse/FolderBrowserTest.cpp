// The folder browser on Qt's offscreen platform: the scan of a folder tree on its worker,
// cancelling, closing in mid-search, the path label, and the "Add &Folder" command.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>

#include <unistd.h>

#include "FolderBrowser.h"
#include "MainMenus.h"
#include "MainWindowFixture.h"
#include "QtWait.h"
#include "TempDir.h"
#include "WallpaperList.h"

namespace {

using namespace kalidrome;
using kalidrome::test::ProcessEventsUntil;
using kalidrome::test::SignalRecorder;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;
namespace fs = std::filesystem;

// A folder tree with one picture per mask and folder (so that the order inside a folder,
// which is the file system's, does not matter), a hidden folder, a link back to the top,
// a folder nobody may read, and the program's System folder (with a link to it).
class FolderBrowserTest : public ::testing::Test {
protected:
    FolderBrowserTest()
        : root(dir.file("Pictures")),
          browser(nullptr, FolderBrowser::Hooks{{},
                                                [this](std::vector<std::string> batch) {
                                                    ++addCalls;
                                                    list.AddFiles(std::move(batch), current);
                                                },
                                                root + "/System/"}) {
        fs::create_directories(root + "/Sub/Deeper");
        fs::create_directories(root + "/.hidden");
        fs::create_directories(root + "/Sub/Locked");
        fs::create_directories(root + "/System/Images");
        for (const char* name : {"a.jpg", "b.JPEG", "c.png", "notes.txt", ".hidden/e.jpg", "Sub/d.bmp", "Sub/f.jpg",
                                 "Sub/Deeper/g.jpeg", "Sub/Locked/q.jpg", "System/WallPaper.bmp",
                                 "System/Images/Right.bmp"})
            WriteFile(root + "/" + name, "x");
        fs::create_directory_symlink("..", root + "/Sub/loop");
        fs::create_directory_symlink("../System/Images", root + "/Sub/icons");
        fs::permissions(root + "/Sub/Locked", fs::perms::none);
    }
    ~FolderBrowserTest() override { fs::permissions(root + "/Sub/Locked", fs::perms::owner_all); }

    std::string at(const char* name) const { return root + "/" + name; }

    // Adds the selected folder's tree and waits until the search has ended.
    bool addAndWait() {
        SignalRecorder ended(&browser, &FolderBrowser::searchEnded);
        button("btnAdd1")->click();
        return ProcessEventsUntil([&] { return ended.count() == 1; }) && std::get<0>(ended.calls.front());
    }

    QPushButton* button(const char* name) { return browser.findChild<QPushButton*>(name); }
    QLabel* label(const char* name) { return browser.findChild<QLabel*>(name); }

    std::vector<std::string> listed() const {
        std::vector<std::string> paths;
        for (const TListItemInfo* e = list.first(); e; e = list.next(*e)) paths.push_back(e->FilePath);
        return paths;
    }

    TempDir dir;
    std::string root;
    WallpaperList list;
    std::string current;
    int addCalls = 0;
    FolderBrowser browser;
};

TEST_F(FolderBrowserTest, AddsTheTreeMaskByMaskAfterThePicturesAlreadyListed) {
    list.AddFiles({at("c.png")}, current);
    ASSERT_TRUE(browser.selectFolder(QString::fromStdString(root)));
    ASSERT_TRUE(addAndWait());

    std::vector<std::string> got = listed();
    // root reads every folder: the locked one's picture is found too, somewhere among the JPEGs.
    if (::geteuid() == 0) {
        auto locked = std::find(got.begin(), got.end(), at("Sub/Locked/q.jpg"));
        ASSERT_NE(locked, got.end());
        got.erase(locked);
    }
    // Every .jpg of the tree, then every .jpeg, .png and .bmp; c.png was listed already,
    // the hidden folder is not searched, the link back to the top adds nothing twice, and
    // nothing of the System folder comes in, not even through a link.
    EXPECT_EQ(got, (std::vector<std::string>{at("c.png"), at("a.jpg"), at("Sub/f.jpg"), at("b.JPEG"),
                                             at("Sub/Deeper/g.jpeg"), at("Sub/d.bmp")}));
    EXPECT_TRUE(button("btnAdd1")->isEnabled());
    EXPECT_TRUE(button("btnClose1")->isEnabled());

    // The same folder again adds nothing more.
    const std::size_t before = list.count();
    ASSERT_TRUE(addAndWait());
    EXPECT_EQ(list.count(), before);
    EXPECT_EQ(addCalls, 2);
}

TEST_F(FolderBrowserTest, WhileSearchingAddIsOffAndCloseCancels) {
    ASSERT_TRUE(browser.selectFolder(QString::fromStdString(root)));
    SignalRecorder ended(&browser, &FolderBrowser::searchEnded);
    button("btnAdd1")->click();
    // The result can only arrive through the event loop, so the search is still on here.
    ASSERT_TRUE(browser.searching());
    EXPECT_FALSE(button("btnAdd1")->isEnabled());
    EXPECT_TRUE(button("btnClose1")->isEnabled());
    EXPECT_EQ(button("btnClose1")->text(), "&Cancel");
    EXPECT_TRUE(label("lblFound1")->text().startsWith("Pictures found: "));

    button("btnClose1")->click();
    EXPECT_FALSE(browser.searching());
    ASSERT_EQ(ended.count(), 1);
    EXPECT_FALSE(std::get<0>(ended.calls.front()));
    // The cancelled worker's result was posted before it ended; it is dropped.
    QCoreApplication::processEvents();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(addCalls, 0);
    EXPECT_TRUE(button("btnAdd1")->isEnabled());
    EXPECT_EQ(button("btnClose1")->text(), "C&lose");

    // The next search is not confused by the old one.
    ASSERT_TRUE(addAndWait());
    EXPECT_GE(list.count(), 6u);
}

TEST_F(FolderBrowserTest, EscStopsASearchAndClosesWithoutAdding) {
    browser.show();
    ASSERT_TRUE(browser.selectFolder(QString::fromStdString(root)));
    button("btnAdd1")->click();
    ASSERT_TRUE(browser.searching());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(browser.findChild<QTreeWidget*>("shlTree1"), &esc);
    EXPECT_FALSE(browser.isVisible());
    EXPECT_FALSE(browser.searching());
    QCoreApplication::processEvents();
    EXPECT_TRUE(list.empty());
}

TEST_F(FolderBrowserTest, WithNoFolderSelectedAddAppendsNothingButStillRefreshes) {
    ASSERT_TRUE(browser.selectedFolder().isEmpty());
    ASSERT_TRUE(addAndWait());
    EXPECT_EQ(addCalls, 1);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(label("lblPath1")->text(), "---");
}

TEST_F(FolderBrowserTest, TheTreeShowsFoldersOnlyHiddenOnesIncluded) {
    ASSERT_TRUE(browser.selectFolder(QString::fromStdString(root)));
    auto* tree = browser.findChild<QTreeWidget*>("shlTree1");
    QTreeWidgetItem* item = tree->currentItem();
    ASSERT_NE(item, nullptr);
    item->setExpanded(true);
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i) names << item->child(i)->text(0);
    EXPECT_EQ(names, (QStringList{".hidden", "Sub", "System"}));
    EXPECT_EQ(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(browser.selectFolder(QString::fromStdString(at("a.jpg"))));
}

TEST_F(FolderBrowserTest, ThePathLabelShowsPlainTextShortenedToThePanel) {
    const std::string odd = root + "/<b>x&amp;y";
    fs::create_directory(odd);
    // Made before the tree first opens its folder: it does not follow later changes.
    std::string deep = root;
    for (int i = 0; i < 8; ++i) deep += "/a-rather-long-folder-name-" + std::to_string(i);
    fs::create_directories(deep);
    browser.resize(900, 341);
    browser.show();
    ASSERT_TRUE(browser.selectFolder(QString::fromStdString(odd)));
    QLabel* path = label("lblPath1");
    EXPECT_EQ(path->textFormat(), Qt::PlainText);
    EXPECT_EQ(path->text(), QString::fromStdString("\"" + odd + "\""));

    // A long path in the narrowest window: leading folders give way to "...".
    browser.resize(250, 341);
    ASSERT_TRUE(browser.selectFolder(QString::fromStdString(deep)));
    const QString shown = path->text();
    EXPECT_TRUE(shown.startsWith("\"/.../") || shown.startsWith("\".../")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("a-rather-long-folder-name-7\"")) << shown.toStdString();
    // Whole within its label, in the font the label draws with.
    EXPECT_LE(QFontMetrics(path->font()).horizontalAdvance(shown), path->width());
}

TEST_F(FolderBrowserTest, EscClosesTheIdleDialog) {
    browser.show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(browser.findChild<QPushButton*>("btnAdd1"), &esc);
    EXPECT_FALSE(browser.isVisible());
    EXPECT_EQ(addCalls, 0);
}

class AddFolderCommandTest : public kalidrome::test::MainWindowFixture {
protected:
    AddFolderCommandTest() { create(); }
};

TEST_F(AddFolderCommandTest, OpensAModalBrowserThatAddsToTheListAndCountLine) {
    fs::create_directories(dir.file("Trip/Day2"));
    WriteFile(dir.file("Trip/x.png"), "x");
    WriteFile(dir.file("Trip/Day2/y.jpg"), "x");
    window->show();
    window->menus().actAddFolder1->trigger();
    QPointer<FolderBrowser> browser = window->findChild<FolderBrowser*>();
    ASSERT_TRUE(browser);
    EXPECT_TRUE(browser->isVisible());
    EXPECT_TRUE(browser->isModal());
    EXPECT_EQ(browser->windowTitle(), "Browse for a folder");

    SignalRecorder ended(browser.data(), &FolderBrowser::searchEnded);
    ASSERT_TRUE(browser->selectFolder(QString::fromStdString(dir.file("Trip"))));
    browser->findChild<QPushButton*>("btnAdd1")->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ended.count() == 1; }));
    EXPECT_EQ(listed(), (std::vector<std::string>{dir.file("Trip/Day2/y.jpg"), dir.file("Trip/x.png")}));
    EXPECT_EQ(window->findChild<QLabel*>("lblFiles1")->text(), "2");

    // It stays open for more; Close releases it.
    EXPECT_TRUE(browser->isVisible());
    browser->findChild<QPushButton*>("btnClose1")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(browser);
}

}  // namespace
