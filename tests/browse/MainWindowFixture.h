#pragma once

// A main window on Qt's offscreen platform with an in-memory desktop and registry, its
// System folder and autostart entry in a temporary folder.
#include <gtest/gtest.h>

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <filesystem>
#include <memory>
#include <tuple>
#include <type_traits>
#include <vector>

#include "Autostart.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "LocalClock.h"
#include "MainWindow.h"
#include "TempDir.h"
#include "WallpaperListView.h"

namespace kalidrome::test {

// Records every emission of one signal with its arguments (the project does not link Qt Test).
template <typename Object, typename... Args>
class SignalRecorder : public QObject {
public:
    SignalRecorder(Object* sender, void (Object::*signal)(Args...)) {
        connect(sender, signal, this, [this](Args... args) { calls.emplace_back(args...); });
    }
    std::size_t count() const { return calls.size(); }
    std::vector<std::tuple<std::decay_t<Args>...>> calls;
};

class FixedTicks : public platform::TickSource {
public:
    std::uint32_t now() const override { return 1000; }
};

class MainWindowFixture : public ::testing::Test {
protected:
    MainWindowFixture()
        : system(dir.file("System/")),
          autostart(dir.file("config/autostart/kalidrome.desktop")),
          localClock(LocalDateTime{2026, 12, 10, 12, 0, 0}) {
        std::filesystem::create_directory(system);
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        window = std::make_unique<MainWindow>(StartContext{system, "", &ticks, &desktop, &registry, &autostart, &localClock});
    }

    void select(const std::vector<int>& rows) {
        auto& view = window->listView();
        view.clearSelection();
        for (int r : rows)
            view.selectionModel()->select(view.model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    static void press(QWidget* target, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
    }

    std::vector<std::string> listed() const {
        std::vector<std::string> paths;
        for (const TListItemInfo* e = window->list().first(); e; e = window->list().next(*e)) paths.push_back(e->FilePath);
        return paths;
    }

    TempDir dir;
    std::string system;
    FixedTicks ticks;
    platform::FakeDesktop desktop;
    platform::FakeRegistry registry;
    platform::XdgAutostart autostart;
    SteppedClock localClock;
    std::unique_ptr<MainWindow> window;
};

}  // namespace kalidrome::test
