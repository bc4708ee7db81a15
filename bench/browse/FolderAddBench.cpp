// Adding a folder tree of 100 000 pictures (100 folders of 1 000 empty files) to a shown
// list view on Qt's offscreen platform:
//
//   through FolderBrowser    wall time from Add to the end, and the longest gap between two
//                            ticks of a 5 ms timer on the user-interface thread
//   reference                FindImagesMulti and AddFiles called straight on that thread:
//                            the whole of it is one stall
//
// Prints each figure and the ratio of the longest stall to the reference.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>
#include <string>

#include "FolderBrowser.h"
#include "WallpaperList.h"
#include "WallpaperListView.h"

namespace fs = std::filesystem;
using namespace kalidrome;

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 1000;

std::string MakeTree() {
    std::string root = (fs::temp_directory_path() / ("kalidrome-bench-browse-" + std::to_string(::getpid()))).string();
    for (int f = 0; f < kFolders; ++f) {
        const std::string folder = root + "/f" + std::to_string(f);
        fs::create_directories(folder);
        for (int i = 0; i < kFilesPerFolder; ++i) std::ofstream(folder + "/p" + std::to_string(i) + (i % 4 ? ".jpg" : ".png"));
    }
    return root;
}

struct Run {
    double wallMs;
    double longestStallMs;
    double addMs;  // the add into the list and the view's update, on the user-interface thread
    std::size_t added;
};

Run ThroughTheDialog(const std::string& root) {
    WallpaperList list;
    WallpaperListView view(list);
    list.setChangeListener([&view] { view.listChanged(); });
    view.resize(400, 600);
    view.show();
    std::string current;
    double addMs = 0;
    FolderBrowser browser(nullptr, FolderBrowser::Hooks{{}, [&](std::vector<std::string> batch) {
                                                             QElapsedTimer t;
                                                             t.start();
                                                             list.AddFiles(std::move(batch), current);
                                                             addMs = t.nsecsElapsed() / 1e6;
                                                         },
                                                         {}});
    browser.show();
    browser.selectFolder(QString::fromStdString(root));
    QCoreApplication::processEvents();

    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    bool ended = false;
    QObject::connect(&browser, &FolderBrowser::searchEnded, [&] { ended = true; });

    QElapsedTimer wall;
    wall.start();
    sinceTick.start();
    ticker.start();
    browser.findChild<QPushButton*>("btnAdd1")->click();
    while (!ended) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The view's relayout after the add runs in the next events.
    QCoreApplication::processEvents();
    const double wallMs = wall.nsecsElapsed() / 1e6;
    longest = std::max(longest, sinceTick.nsecsElapsed());
    list.setChangeListener({});
    return {wallMs, longest / 1e6, addMs, list.count()};
}

double OnTheUiThread(const std::string& root) {
    WallpaperList list;
    std::string current;
    QElapsedTimer t;
    t.start();
    list.AddFiles(FindImagesMulti(root, FolderBrowser::PictureMasks(), true), current);
    return t.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::string root = MakeTree();
    std::printf("tree: %d folders x %d files = %d pictures\n", kFolders, kFilesPerFolder, kFolders * kFilesPerFolder);
    for (int round = 0; round < 3; ++round) {
        const double reference = OnTheUiThread(root);
        const Run run = ThroughTheDialog(root);
        std::printf("round %d: reference (scan+add on the UI thread) %.1f ms | dialog: %.1f ms wall, %zu added, "
                    "longest UI stall %.1f ms (of it the add into list and view %.1f ms), stall/reference %.3f\n",
                    round, reference, run.wallMs, run.added, run.longestStallMs, run.addMs, run.longestStallMs / reference);
    }
    fs::remove_all(root);
    return 0;
}
