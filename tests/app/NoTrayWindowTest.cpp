// No tray icon to bring the window back (a session without a tray, or "Show Tray" off): the
// close button minimises the window instead of hiding it, so that it can always be found
// again; without a tray the window also shows at start. With a tray icon nothing changes.
// The Close command ends the program either way.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QStatusBar>
#include <cstdlib>

#include "Autostart.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "MainMenus.h"
#include "MainWindow.h"
#include "Notifier.h"
#include "QtWait.h"
#include "TempDir.h"

namespace {

using namespace kalidrome;

class FixedTicks : public platform::TickSource {
public:
    std::uint32_t now() const override { return 1000; }
};

TEST(NoTrayWindow, ShowsAtStartAndTheCloseButtonMinimises) {
    struct Case {
        const char* name;
        bool trayAvailable;
        bool showTray;
        bool visibleAtStart;
        bool visibleAfterClose;
        bool minimisedAfterClose;
    };
    const Case cases[] = {
        {"with a tray", true, true, false, false, false},
        {"without a tray", false, true, true, true, true},
        {"with a tray, Show Tray off", true, false, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        // Not a first start, which would show the window in any case.
        test::WriteFile(dir.file("Settings.ini"), std::string("[Options]\nShowTray=") + (c.showTray ? "1" : "0") + "\n");
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        FixedTicks clock;
        platform::FakeDesktop desktop;
        platform::FakeRegistry registry;
        platform::XdgAutostart autostart(dir.file("autostart/kalidrome.desktop"));
        StartContext context{dir.path() + "/", "", &clock, &desktop, &registry, &autostart};
        context.trayAvailable = c.trayAvailable;
        MainWindow window(context);
        bool ended = false;
        QObject::connect(&window, &MainWindow::closedForGood, [&] { ended = true; });
        EXPECT_EQ(window.isVisible(), c.visibleAtStart);

        window.showMainWindow();
        window.close();  // the title bar's close button
        QApplication::processEvents();
        EXPECT_FALSE(ended);
        EXPECT_EQ(window.isVisible(), c.visibleAfterClose);
        EXPECT_EQ(window.isMinimized(), c.minimisedAfterClose);

        // A later start (or "kalidrome --show") brings it back as it was.
        window.showMainWindow();
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.isMinimized());

        window.menus().actClose1->trigger();
        QApplication::processEvents();
        EXPECT_TRUE(ended);
    }
}

// Turning "Show Tray" off says, once, how to get the window back; a start with it off, or
// turning it off where there is no tray anyway, says nothing.
TEST(NoTrayWindow, TurningShowTrayOffTellsHowToShowTheWindow) {
    ::setenv("KALIDROME_NONINTERACTIVE", "1", 1);
    const std::string notice(MainWindow::kNoTrayIconNotice);
    struct Case {
        const char* name;
        bool trayAvailable;
        bool showTrayAtStart;
        int toldWhenTurnedOff;
    };
    const Case cases[] = {
        {"tray, on at start", true, true, 1},
        {"tray, off at start", true, false, 1},
        {"no tray", false, true, 0},
    };
    auto count = [&](const std::string& err) {
        int told = 0;
        for (std::size_t at = err.find(notice); at != std::string::npos; at = err.find(notice, at + 1)) ++told;
        return told;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        test::WriteFile(dir.file("Settings.ini"), std::string("[Options]\nShowTray=") + (c.showTrayAtStart ? "1" : "0") + "\n");
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        FixedTicks clock;
        platform::FakeDesktop desktop;
        platform::FakeRegistry registry;
        platform::XdgAutostart autostart(dir.file("autostart/kalidrome.desktop"));
        StartContext context{dir.path() + "/", "", &clock, &desktop, &registry, &autostart};
        context.trayAvailable = c.trayAvailable;
        testing::internal::CaptureStderr();
        MainWindow window(context);
        QApplication::processEvents();
        QAction* showTray = window.menus().actShowTray1;
        if (!showTray->isChecked()) showTray->trigger();  // on
        QApplication::processEvents();
        EXPECT_EQ(count(testing::internal::GetCapturedStderr()), 0) << "nothing to tell at start";

        testing::internal::CaptureStderr();
        showTray->trigger();  // off
        QApplication::processEvents();
        showTray->trigger();  // on again: nothing to tell
        QApplication::processEvents();
        EXPECT_EQ(count(testing::internal::GetCapturedStderr()), c.toldWhenTurnedOff);
        window.setExitRequested(true);
        window.close();
    }
    ::unsetenv("KALIDROME_NONINTERACTIVE");
}

// Without a tray and without a notification service on the session bus, a refused change
// shows on the window's status line.
TEST(NoTrayWindow, WithNoNotificationServiceARefusalShowsOnTheStatusLine) {
    test::TempDir dir;
    // A bus nobody serves: the first use of the session bus in this process is here.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
    test::WriteFile(dir.file("Settings.ini"), "[Options]\nShowTray=1\nDisableCycling=1\n");
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    FixedTicks clock;
    platform::FakeDesktop desktop;
    platform::FakeRegistry registry;
    platform::XdgAutostart autostart(dir.file("autostart/kalidrome.desktop"));
    StartContext context{dir.path() + "/", "", &clock, &desktop, &registry, &autostart};
    context.trayAvailable = false;
    MainWindow window(context);
    std::vector<Notifier::Route> routes;
    QObject::connect(&window.notifier(), &Notifier::told,
                     [&](Notifier::Route route, const QString&, const QString&) { routes.push_back(route); });
    ASSERT_EQ(window.notifier().route(), Notifier::Route::DesktopNotification);
    window.notifier().wallpaperChanged("The key is locked");
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return !routes.empty(); }));
    EXPECT_EQ(routes, std::vector<Notifier::Route>{Notifier::Route::StatusLine});
    const auto* line = window.statusBar()->findChild<QLabel*>("statusLine");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), "The wallpaper could not be changed: The key is locked");

    // A message longer than the window is wide shows whole, on as many lines as it needs.
    window.resize(300, window.height());
    QApplication::processEvents();
    const int heightBefore = window.height();
    routes.clear();
    window.notifier().tellWelcome();
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return !routes.empty(); }));
    QApplication::processEvents();
    EXPECT_EQ(line->text().toStdString(),
              std::string(Notifier::kWelcomeTitle) + ": " + std::string(Notifier::kWelcomeTextNoTray));
    const QFontMetrics metrics(line->font());
    ASSERT_GT(metrics.horizontalAdvance(line->text()), line->width()) << "the message fits on one line; no test";
    const QRect needed = metrics.boundingRect(QRect(0, 0, line->contentsRect().width(), 100000),
                                              Qt::TextWordWrap, line->text());
    EXPECT_GE(line->contentsRect().height(), needed.height())
        << "the status line cuts its message: " << line->contentsRect().height() << " < " << needed.height();
    EXPECT_LE(line->geometry().bottom(), window.statusBar()->height());
    // It takes the room it needs from the list, not by stretching the window.
    EXPECT_EQ(window.height(), heightBefore);
    window.menus().actClose1->trigger();
}

}  // namespace
