// A session without a tray: the main window shows at start and its close button
// minimises it instead of hiding it, so that it can always be found again; with a tray
// nothing changes. The Close command ends the program either way.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QStatusBar>

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
        bool visibleAtStart;
        bool visibleAfterClose;
        bool minimisedAfterClose;
    };
    const Case cases[] = {
        {"with a tray", true, false, false, false},
        {"without a tray", false, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        // Not a first start, which would show the window in any case.
        test::WriteFile(dir.file("Settings.ini"), "[Options]\nShowTray=1\n");
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
    EXPECT_EQ(window.statusBar()->currentMessage(), "The wallpaper could not be changed: The key is locked");
    window.menus().actClose1->trigger();
}

}  // namespace
