#pragma once

// A main window on Qt's offscreen platform with an in-memory desktop and registry, its
// System folder and autostart entry in a temporary folder, and a local clock that only
// moves when the test moves it. create() makes (or remakes) the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "Autostart.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "FileDialogs.h"
#include "IniFile.h"
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
    explicit MainWindowFixture(LocalDateTime start = LocalDateTime{2026, 12, 10, 12, 0, 0})
        : system(dir.file("System/")), autostart(dir.file("config/autostart/kalidrome.desktop")), localClock(start) {
        std::filesystem::create_directory(system);
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    }

    MainWindow& create(const std::string& firstArgument = "") {
        window.reset();
        window = std::make_unique<MainWindow>(
            StartContext{system, firstArgument, &ticks, &desktop, &registry, &autostart, &localClock});
        return *window;
    }

    // A picture file of one colour in the temporary folder.
    std::string picture(const std::string& name, int w = 40, int h = 30, QColor colour = QColor(200, 40, 40)) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(colour);
        const std::string path = dir.file(name);
        EXPECT_TRUE(image.save(QString::fromStdString(path)));
        return path;
    }

    // Adds files through the Add command, its dialog answered in advance.
    void addFiles(const std::vector<std::string>& paths) {
        QStringList names;
        for (const auto& p : paths) names << QString::fromStdString(p);
        ui::SetNextFileNames(names);
        window->addCommand();
    }

    void select(const std::vector<int>& rows) {
        auto& view = window->listView();
        view.clearSelection();
        for (int r : rows)
            view.selectionModel()->select(view.model()->index(r, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    static void press(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(target, &event);
    }

    std::vector<std::string> listed() const {
        std::vector<std::string> paths;
        for (const TListItemInfo* e = window->list().first(); e; e = window->list().next(*e)) paths.push_back(e->FilePath);
        return paths;
    }

    IniFile settings() const { return IniFile(system + "Settings.ini"); }

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
