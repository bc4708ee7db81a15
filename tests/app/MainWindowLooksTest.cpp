// What a new user sees of the main window, its list and its file dialogs, on Qt's
// offscreen platform: columns that move, a selection as wide as the view, a disabled
// button that looks it, the tray's double-click after minimising, the first start's
// message, and file dialogs that list folders without reading files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

#include "Autostart.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "FileDialogs.h"
#include "ListFile.h"
#include "LocalClock.h"
#include "MainWindow.h"
#include "MainWindowFixture.h"
#include "QtWait.h"
#include "TempDir.h"
#include "TrayIcon.h"
#include "WallpaperListView.h"

namespace kalidrome::test {
namespace {

// --- input and pixels ----------------------------------------------------------------

void Mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// A press at from, a move in small steps to to, a release there.
void Drag(QWidget* target, QPoint from, QPoint to) {
    Mouse(target, QEvent::MouseButtonPress, from, Qt::LeftButton);
    for (int step = 1; step <= 10; ++step)
        Mouse(target, QEvent::MouseMove, from + (to - from) * step / 10, Qt::LeftButton);
    Mouse(target, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

void Click(QWidget* target, QPoint at) {
    Mouse(target, QEvent::MouseButtonPress, at, Qt::LeftButton);
    Mouse(target, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

bool Near(QRgb pixel, const QColor& colour, int tolerance) {
    return std::abs(qRed(pixel) - colour.red()) <= tolerance && std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

bool AnyPixel(const QImage& image, const QRect& area, const std::function<bool(QRgb)>& test) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test(image.pixel(x, y))) return true;
    return false;
}

// --- the list view -------------------------------------------------------------------

class ListViewLooksTest : public ::testing::Test {
protected:
    ListViewLooksTest() : view(std::make_unique<WallpaperListView>(list)) {
        list.setChangeListener([this] { view->listChanged(); });
        QObject::connect(view.get(), &WallpaperListView::firstPainted, [this] { painted = true; });
    }
    ~ListViewLooksTest() override { list.setChangeListener({}); }

    void add(const std::string& path) { list.AddEntry(path).FileName = std::filesystem::path(path).filename().string(); }

    void show(int width, int height = 200) {
        view->setShowImages(false);
        view->resize(width, height);
        view->show();
        ASSERT_TRUE(ProcessEventsUntil([&] { return painted; }));
        ASSERT_TRUE(ProcessEventsUntil([&] { return view->header()->sectionSize(0) == 200; }));
        view->selectionModel()->clearCurrentIndex();
    }

    QRect cell(int row, int column) const { return view->visualRect(view->tableModel().index(row, column)); }

    WallpaperList list;
    std::unique_ptr<WallpaperListView> view;
    bool painted = false;
};

// Either header can be dragged past the other; the cells follow their column, not the place.
TEST_F(ListViewLooksTest, EitherColumnMovesByDraggingItsHeader) {
    add("/pictures/a.jpg");
    show(640);
    const struct {
        const char* name;
        int dragged;
    } cases[] = {{"Filename dragged right", 0}, {"Path dragged left", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QHeaderView* header = view->header();
        header->reset();
        header->moveSection(header->visualIndex(0), 0);
        ASSERT_EQ(header->visualIndex(0), 0);
        const int middle0 = header->sectionViewportPosition(0) + header->sectionSize(0) / 2;
        const int middle1 = header->sectionViewportPosition(1) + header->sectionSize(1) / 2;
        const int from = c.dragged == 0 ? middle0 : middle1;
        const int to = c.dragged == 0 ? header->sectionViewportPosition(1) + header->sectionSize(1) - 5 : 5;
        Drag(header->viewport(), {from, header->height() / 2}, {to, header->height() / 2});
        EXPECT_EQ(header->visualIndex(0), 1) << "the columns did not swap";
        EXPECT_EQ(header->visualIndex(1), 0);
        EXPECT_EQ(cell(0, 1).left(), 0) << "the path is drawn first once its column is first";
    }
}

// In a view much wider than its columns, the selected row's highlight and every grid line go
// on to the right edge, and the selected row's path is drawn in the selection's text colour.
TEST_F(ListViewLooksTest, SelectionAndGridLinesSpanTheWholeWidth) {
    for (const char* p : {"/pictures/a.jpg", "/pictures/b.jpg", "/pictures/c.jpg"}) add(p);
    show(1200);
    view->selectionModel()->select(view->tableModel().index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_TRUE(ProcessEventsUntil([&] { return list.at(1).selected(); }));
    const QImage image = view->viewport()->grab().toImage();
    const QRect path0 = cell(0, 1), path1 = cell(1, 1);
    const int farRight = image.width() - 3;
    ASSERT_LT(path1.right() + 100, farRight) << "the view is not wider than its columns";
    const int insidePath = path1.right() - 5;  // right of the short path text
    const int middle0 = path0.center().y(), middle1 = path1.center().y();

    EXPECT_EQ(image.pixel(farRight, middle1), image.pixel(insidePath, middle1)) << "the selection stops at the last column";
    EXPECT_NE(image.pixel(farRight, middle1), image.pixel(farRight, middle0)) << "the selection does not show at the edge";
    EXPECT_EQ(image.pixel(farRight, middle0), image.pixel(insidePath, middle0));
    EXPECT_EQ(image.pixel(farRight, path0.bottom()), image.pixel(insidePath, path0.bottom()))
        << "the grid line stops at the last column";
    EXPECT_NE(image.pixel(farRight, path0.bottom()), image.pixel(farRight, middle0)) << "no grid line at the edge";

    const QColor selectedText = view->palette().color(QPalette::Active, QPalette::HighlightedText);
    const QColor pathColour = WallpaperItemDelegate::PathColour(view->palette().color(QPalette::Base));
    ASSERT_FALSE(Near(pathColour.rgb(), selectedText, 40)) << "this style's selected text is the path's grey already";
    const QRect pathText1 = path1.adjusted(8, 1, -1, -2), pathText0 = path0.adjusted(8, 1, -1, -2);
    EXPECT_TRUE(AnyPixel(image, pathText1, [&](QRgb p) { return Near(p, selectedText, 40); }))
        << "the selected row's path is not in the selection's text colour";
    EXPECT_FALSE(AnyPixel(image, pathText0, [&](QRgb p) { return qRed(p) < pathColour.red() - 8; }))
        << "an unselected path is in the path's grey";
}

// A click on a path wider than the view's room selects the row without scrolling sideways;
// emptying the list brings the view back to its first column.
TEST_F(ListViewLooksTest, ClickingAPathKeepsTheColumnsInPlace) {
    add("/pictures/" + std::string(200, 'x') + ".jpg");
    show(300);
    QScrollBar* sideways = view->horizontalScrollBar();
    ASSERT_GT(sideways->maximum(), 0) << "the columns fit; nothing to scroll";
    ASSERT_EQ(sideways->value(), 0);
    const QRect path = cell(0, 1);
    Click(view->viewport(), {std::min(path.left() + 40, view->viewport()->width() - 5), path.center().y()});
    ASSERT_TRUE(list.at(0).selected()) << "the click did not reach the row";
    EXPECT_EQ(sideways->value(), 0) << "the click scrolled the thumbnails off the screen";

    sideways->setValue(sideways->maximum());
    list.Clear();
    EXPECT_EQ(sideways->value(), 0) << "an emptied list keeps the old scroll offset";
}

// --- the main window -----------------------------------------------------------------

class MainWindowLooksTest : public MainWindowFixture {
protected:
    MainWindow& create() {
        welcomes.clear();
        MainWindowFixture::create();
        QObject::connect(&window->trayIcon(), &TrayIcon::messageShown,
                         [this](const QString& title, const QString& text) { welcomes.push_back(title + "|" + text); });
        return *window;
    }

    std::vector<QString> welcomes;
};

// The disabled "&Cycle!" button is drawn in the style's disabled colours, not in navy.
TEST_F(MainWindowLooksTest, TheDisabledCycleButtonLooksDisabled) {
    create();
    auto* button = window->findChild<QPushButton*>("btnCycle1");
    ASSERT_NE(button, nullptr);
    auto navyPixel = [](QRgb p) { return qBlue(p) > 90 && qRed(p) < 50 && qGreen(p) < 50; };
    auto drawnNavy = [&] {
        const QImage image = button->grab().toImage();
        return AnyPixel(image, image.rect(), navyPixel);
    };
    ASSERT_FALSE(button->isEnabled()) << "an empty list leaves the button enabled";
    EXPECT_NE(button->palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(0, 0, 128));
    EXPECT_FALSE(drawnNavy()) << "the disabled caption is navy";

    addFiles({picture("a.png")});
    ASSERT_TRUE(button->isEnabled());
    EXPECT_TRUE(drawnNavy()) << "the enabled caption is not navy";
}

// The first start of all tells once, from the tray, where the program is; later starts do not.
TEST_F(MainWindowLooksTest, TheVeryFirstStartShowsOneTrayMessage) {
    create();
    // Shown once the tray host has placed the icon, or after a few seconds without a place.
    ProcessEventsUntil([&] { return !welcomes.empty(); });
    ASSERT_EQ(welcomes.size(), 1u);
    EXPECT_TRUE(welcomes[0].contains("Double-click")) << welcomes[0].toStdString();
    EXPECT_TRUE(welcomes[0].contains("right-click")) << welcomes[0].toStdString();
    EXPECT_FALSE(window->isVisible()) << "the first start still starts to the tray";

    create();
    ProcessEventsUntil([&] { return !welcomes.empty(); }, 500);
    EXPECT_TRUE(welcomes.empty()) << "a later start showed the message again";
}

// A minimised window comes back with one double-click on the tray icon; the next hides it.
TEST_F(MainWindowLooksTest, OneTrayDoubleClickBringsAMinimisedWindowBack) {
    create();
    window->showMainWindow();
    window->showMinimized();
    ASSERT_TRUE(window->isMinimized());
    window->trayIcon().pressed(QSystemTrayIcon::DoubleClick, Qt::NoModifier);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized()) << "the double-click hid the minimised window";
    window->trayIcon().pressed(QSystemTrayIcon::DoubleClick, Qt::NoModifier);
    EXPECT_FALSE(window->isVisible());
}

// A list loaded from a file starts at the first column, wherever the old one was scrolled.
TEST_F(MainWindowLooksTest, LoadingAListScrollsBackToTheFirstColumn) {
    create();
    addFiles({picture("a.png"), picture("b.png")});
    const std::string saved = dir.file("two.kdl");
    WriteListFile(saved, window->list(), false, false);
    window->showMainWindow();
    QScrollBar* sideways = window->listView().horizontalScrollBar();
    ASSERT_TRUE(ProcessEventsUntil([&] { return sideways->maximum() > 0; })) << "the columns fit; nothing to scroll";
    sideways->setValue(sideways->maximum());
    ui::SetNextFileNames({QString::fromStdString(saved)});
    window->loadListCommand();
    EXPECT_EQ(window->list().count(), 2u);
    EXPECT_EQ(sideways->value(), 0);
}

// --- file dialogs --------------------------------------------------------------------

class FileDialogTest : public ::testing::Test {
protected:
    void touch(const std::string& name, const std::string& content = "x") { std::ofstream(dir.file(name)) << content; }

    // The names the dialog's list shows in folder, once they stop changing to the wanted ones.
    static std::set<QString> shown(QFileDialog& dialog, const QString& folder) {
        auto* model = dialog.findChild<QFileSystemModel*>();
        std::set<QString> names;
        if (!model) return names;
        const QModelIndex root = model->index(folder);
        for (int r = 0; r < model->rowCount(root); ++r) names.insert(model->index(r, 0, root).data().toString());
        return names;
    }

    TempDir dir;
};

// Each filter's label shows once, as written; its patterns match any letter case.
TEST_F(FileDialogTest, PictureFiltersShowTheirLabelOnceAndMatchAnyCase) {
    for (const char* name : {"a.jpg", "b.Jpg", "c.JPEG", "d.png", "e.txt", "f.BMP"}) touch(name);
    const QString folder = QString::fromStdString(dir.path());
    QFileDialog dialog;
    ui::PrepareFileDialog(dialog, folder, ui::PictureFilters());
    dialog.show();
    auto* combo = dialog.findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(combo, nullptr) << "not Qt's own dialog";
    QStringList labels;
    for (int i = 0; i < combo->count(); ++i) labels << combo->itemText(i);
    EXPECT_EQ(labels, ui::PictureFilters());
    EXPECT_EQ(labels.value(0), "All (*.jpg;*.jpeg;*.bmp;*.png)");

    const struct {
        int filter;
        std::set<QString> names;
    } cases[] = {{0, {"a.jpg", "b.Jpg", "c.JPEG", "d.png", "f.BMP"}},
                 {1, {"a.jpg", "b.Jpg"}},
                 {2, {"c.JPEG"}},
                 {3, {"f.BMP"}},
                 {4, {"d.png"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(labels.value(c.filter).toStdString());
        dialog.selectNameFilter(dialog.nameFilters().value(c.filter));
        EXPECT_TRUE(ProcessEventsUntil([&] { return shown(dialog, folder) == c.names; }))
            << "shown: " << QStringList(shown(dialog, folder).begin(), shown(dialog, folder).end()).join(' ').toStdString();
    }
}

// Listing a folder reads no file: a file whose name says nothing of its type keeps its
// access time, and a FIFO with no writer and a device are listed without opening them.
TEST_F(FileDialogTest, ListingAFolderReadsNoFile) {
    // Access times must show reads on this file system for the test to mean anything.
    auto accessTime = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_atim.tv_sec : -1;
    };
    auto ageAccessTime = [](const std::string& path) {
        const timespec times[2] = {{1, 0}, {0, UTIME_NOW}};  // read long ago, written now
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    TempDir probeDir;
    const std::string probe = probeDir.file("probe");
    std::ofstream(probe) << "%PDF-1.4";
    ageAccessTime(probe);
    { std::ifstream(probe).get(); }
    if (accessTime(probe) == 1) GTEST_SKIP() << "this file system does not record reads (noatime)";

    touch("no-extension", "%PDF-1.4\n");
    touch("picture.jpg", "not really");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("device"));
    ageAccessTime(dir.file("no-extension"));
    ageAccessTime(dir.file("picture.jpg"));

    const QString folder = QString::fromStdString(dir.path());
    QFileDialog dialog;
    ui::PrepareFileDialog(dialog, folder, {QStringLiteral("Everything (*)")});
    dialog.setViewMode(QFileDialog::Detail);
    dialog.setFilter(dialog.filter() | QDir::System);  // list the FIFO and the device too
    dialog.show();
    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    // Wait until the listing has fetched every entry's type (the "Type" column).
    const std::set<QString> all = {"no-extension", "picture.jpg", "fifo", "device"};
    auto typed = [&] {
        if (shown(dialog, folder) != all) return false;
        const QModelIndex root = model->index(folder);
        for (int r = 0; r < model->rowCount(root); ++r)
            if (model->index(r, 2, root).data().toString().isEmpty()) return false;
        return true;
    };
    ASSERT_TRUE(ProcessEventsUntil(typed, 10000)) << "the listing did not finish: " << [&] {
        std::string listed;
        const QModelIndex root = model->index(folder);
        for (int r = 0; r < model->rowCount(root); ++r)
            listed += (model->index(r, 0, root).data().toString() + "=" + model->index(r, 2, root).data().toString() + " ").toStdString();
        return listed;
    }();
    EXPECT_EQ(accessTime(dir.file("no-extension")), 1) << "the listing read a file to guess its type";
    EXPECT_EQ(accessTime(dir.file("picture.jpg")), 1) << "the listing read a file to guess its type";
}

// Ends the test binary with a message when a step takes longer than its bound (a dialog that
// waits for ever for a blocked listing thread would otherwise hang the run).
class Watchdog {
public:
    Watchdog(int seconds, const char* what)
        : m_thread([this, seconds, what] {
              std::unique_lock lock(m_mutex);
              if (!m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; })) {
                  std::fprintf(stderr, "hung: %s\n", what);
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// /proc lists (kmsg among it, which blocks a reader as long as the kernel is quiet) and the
// dialog closes at once.
TEST_F(FileDialogTest, ProcListsAndTheDialogCloses) {
    if (::access("/proc/kmsg", R_OK) != 0) GTEST_SKIP() << "/proc/kmsg is not readable here";
    Watchdog watchdog(30, "the file dialog on /proc");
    auto dialog = std::make_unique<QFileDialog>();
    ui::PrepareFileDialog(*dialog, QStringLiteral("/proc"), {QStringLiteral("Everything (*)")});
    dialog->setViewMode(QFileDialog::Detail);
    dialog->show();
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    auto kmsgTyped = [&] {
        const QModelIndex kmsg = model->index(QStringLiteral("/proc/kmsg"));
        return kmsg.isValid() && !model->index(kmsg.row(), 2, kmsg.parent()).data().toString().isEmpty();
    };
    EXPECT_TRUE(ProcessEventsUntil(kmsgTyped, 10000)) << "kmsg was not listed with its type";
    dialog.reset();  // waits for the listing thread
}

}  // namespace
}  // namespace kalidrome::test
