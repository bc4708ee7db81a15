// The running instance serves hand-off requests from its event loop, also while one of
// its modal dialogs runs a loop of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include "Autostart.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "InstanceChannel.h"
#include "ProcessInfo.h"
#include "TempDir.h"
#include "MainWindow.h"
#include "PreferencesDialog.h"

namespace {

using namespace kalidrome;

class SteppedTicks : public platform::TickSource {
public:
    std::uint32_t now() const override { return 1000; }
};

// Runs the event loop until condition holds or a second passes.
template <typename F>
bool ProcessEventsUntil(F condition) {
    for (int i = 0; i < 100 && !condition(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QTimer::singleShot(0, [] {});
    }
    return condition();
}

TEST(HandOff, RequestsAreServedWhileAModalDialogRuns) {
    test::TempDir dir;
    test::WriteFile(dir.file("Settings.ini"), "[Options]\nShowTray=1\n");  // not a first start
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    SteppedTicks clock;
    platform::FakeDesktop desktop;
    platform::FakeRegistry registry;
    platform::XdgAutostart autostart(dir.file("autostart/kalidrome.desktop"));
    MainWindow window(StartContext{dir.path() + "/", "", &clock, &desktop, &registry, &autostart});
    ASSERT_FALSE(window.isVisible());
    const std::string endpoint = platform::InstanceEndpoint(dir.path() + "/", platform::CurrentHandle());

    bool shownInsideDialog = false;
    bool secondDialogOnPage1 = false;
    PreferencesDialog* firstDialog = nullptr;
    QTimer::singleShot(0, [&] {
        // Inside the preferences dialog's own loop.
        firstDialog = window.preferencesDialog();
        ASSERT_NE(firstDialog, nullptr);
        EXPECT_TRUE(platform::SendInstanceRequest(endpoint, platform::kRequestShow));
        shownInsideDialog = ProcessEventsUntil([&] { return window.isVisible(); });
        // 3025 closes the open dialog and opens a new one on the screen-saver page, whose
        // own loop then runs; a poll inside that loop looks at it and closes it.
        auto* poll = new QTimer(&window);
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            PreferencesDialog* second = window.preferencesDialog();
            if (!second || second == firstDialog || !second->isVisible()) return;
            secondDialogOnPage1 = second->currentPage() == 1;
            poll->stop();
            second->reject();
        });
        poll->start(10);
        EXPECT_TRUE(platform::SendInstanceRequest(endpoint, platform::kRequestShowScreensaver));
    });
    QTimer failsafe;
    QObject::connect(&failsafe, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
    });
    failsafe.start(5000);
    window.openPreferences(0);
    ProcessEventsUntil([&] { return secondDialogOnPage1; });
    EXPECT_TRUE(shownInsideDialog);
    EXPECT_TRUE(secondDialogOnPage1);
    window.goAway();
}

}  // namespace
