// Plasma's scripts for a picture per screen, run in Qt's JavaScript engine against a stand-in
// for the shell's scripting API (desktops(), screenGeometry(), screenCount, print()), as the
// shell would run them: which desktop takes which picture, and what the read-back reports.
#include "PlasmaDesktop.h"
#include "RecordingRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJSEngine>
#include <QJSValue>
#include <memory>

namespace kalidrome::test {
namespace {

using platform::Command;
using platform::CommandResult;
using platform::DesktopError;
using platform::PlasmaDesktop;
using platform::Placement;

// Three screens: 0 the primary in the middle, 1 on the right (portrait), 2 on the left, so
// that Plasma's numbers are not the monitor order. Five
// desktops: one per screen, a second activity's desktop on screen 1, one on no screen. A
// desktop may refuse its picture (a locked containment).
const char* kShell = R"(
var screenCount = 3;
var geometries = [{x: 1920, y: 0, width: 1920, height: 1080}, {x: 3840, y: 0, width: 1080, height: 1920},
                  {x: 0, y: 0, width: 1920, height: 1080}];
function screenGeometry(s) { return geometries[s]; }
var printed = "";
function print(text) { printed += text; }
function Desk(screen, locked) {
    this.screen = screen; this.locked = locked; this.config = {}; this.wallpaperPlugin = "org.kde.color";
    this.currentConfigGroup = [];
}
Desk.prototype.writeConfig = function(k, v) {
    if (!this.locked) this.config[this.currentConfigGroup.join("/") + "/" + k] = String(v);
};
Desk.prototype.readConfig = function(k) { return this.config[this.currentConfigGroup.join("/") + "/" + k]; };
var all = [];
function desktops() { return all; }
)";

CommandResult Reply(const std::string& text) {
    return RecordingRunner::Success("method return time=1702.5 sender=:1.5 -> destination=:1.9 serial=7 "
                                    "reply_serial=2\n   string \"" + text + "\"\n");
}

class FakePlasma {
public:
    explicit FakePlasma(const char* desktops) {
        // The engine wants an application object; one for the whole test program.
        static int argc = 1;
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
        (void)app;
        m_engine = std::make_unique<QJSEngine>();
        m_engine->evaluate(QString::fromUtf8(kShell));
        m_engine->evaluate(QStringLiteral("all = [%1];").arg(QString::fromUtf8(desktops)));
    }
    CommandResult operator()(const Command& command) {
        const std::string& last = command.argv.back();
        m_engine->evaluate(QStringLiteral("printed = \"\";"));
        const QJSValue result = m_engine->evaluate(QString::fromStdString(last.substr(7)));
        if (result.isError()) return RecordingRunner::Failure(1, "Error org.kde: " + result.toString().toStdString());
        return Reply(m_engine->evaluate(QStringLiteral("printed")).toString().toStdString());
    }
    // What desktop i holds: "plugin fill image".
    std::string held(int i) {
        return m_engine
            ->evaluate(QStringLiteral("var d = all[%1]; var g = 'Wallpaper/org.kde.image/General/'; "
                                     "d.wallpaperPlugin + ' ' + d.config[g + 'FillMode'] + ' ' + d.config[g + 'Image']")
                          .arg(i))
            .toString()
            .toStdString();
    }

private:
    std::unique_ptr<QJSEngine> m_engine;
};

std::vector<platform::MonitorWallpaper> ThreeMonitors(const TempDir& dir) {
    for (const char* f : {"WallPaper.bmp", "WallPaper-2.bmp", "WallPaper-3.bmp"}) WriteFile(dir.file(f), "BM");
    // In monitor order: the primary, then left to right.
    return {{{"DP-1", 1920, 0, 1920, 1080, true}, dir.file("WallPaper.bmp"), Placement::Stretched, {}},
            {{"DP-2", 0, 0, 1920, 1080, false}, dir.file("WallPaper-2.bmp"), Placement::Centred, {}},
            {{"DP-3", 3840, 0, 1080, 1920, false}, dir.file("WallPaper-3.bmp"), Placement::Stretched, {}}};
}

TEST(PlasmaScreensTest, EachScreensDesktopsTakeItsPicture) {
    TempDir dir;
    FakePlasma shell("new Desk(0), new Desk(1), new Desk(2), new Desk(1), new Desk(-1)");
    RecordingRunner runner(std::ref(shell));
    PlasmaDesktop desktop(runner);
    for (int change = 0; change < 2; ++change) {
        SCOPED_TRACE(change);
        ASSERT_NO_THROW(desktop.setMonitorWallpapers(ThreeMonitors(dir)));
        const std::string turn = change == 0 ? "-a" : "-b";
        const std::string primary = PlasmaDesktop::FileUrl(dir.file("WallPaper" + turn + ".bmp"));
        const std::string left = PlasmaDesktop::FileUrl(dir.file("WallPaper-2" + turn + ".bmp"));
        const std::string right = PlasmaDesktop::FileUrl(dir.file("WallPaper-3" + turn + ".bmp"));
        EXPECT_EQ(shell.held(0), "org.kde.image 0 " + primary);
        EXPECT_EQ(shell.held(1), "org.kde.image 0 " + right);
        EXPECT_EQ(shell.held(2), "org.kde.image 6 " + left);
        EXPECT_EQ(shell.held(3), "org.kde.image 0 " + right) << "another activity on the same screen";
        EXPECT_EQ(shell.held(4), "org.kde.image 0 " + primary) << "a desktop on no screen";
    }
}

TEST(PlasmaScreensTest, ADesktopThatKeepsItsPictureIsReported) {
    TempDir dir;
    FakePlasma shell("new Desk(0), new Desk(1, true), new Desk(2)");
    RecordingRunner runner(std::ref(shell));
    PlasmaDesktop desktop(runner);
    try {
        desktop.setMonitorWallpapers(ThreeMonitors(dir));
        ADD_FAILURE() << "no DesktopError";
    } catch (const DesktopError& e) {
        EXPECT_NE(std::string(e.what()).find("a desktop holds org.kde.image"), std::string::npos) << e.what();
    }
}

// Paths that would break out of a string literal stay inside it, in the per-screen scripts too.
TEST(PlasmaScreensTest, NoPathCanBreakOutOfTheScripts) {
    TempDir dir;
    FakePlasma shell("new Desk(0), new Desk(2)");
    RecordingRunner runner(std::ref(shell));
    PlasmaDesktop desktop(runner);
    const std::string hostile = dir.file("a\"];print('x');\\u0022.bmp");
    WriteFile(hostile, "BM");
    std::vector<platform::MonitorWallpaper> wallpapers = ThreeMonitors(dir);
    wallpapers[1].bitmapPath = hostile;
    ASSERT_NO_THROW(desktop.setMonitorWallpapers(wallpapers));
    EXPECT_EQ(shell.held(1), "org.kde.image 6 " + PlasmaDesktop::FileUrl(hostile));
}

}  // namespace
}  // namespace kalidrome::test
