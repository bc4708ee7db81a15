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
#include "InstanceServer.h"
#include "QtWait.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>
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

// Connections that send nothing cannot use up the instance's descriptors: at most 64 are
// kept, each for 5 seconds at most; beyond that the oldest makes room, so a request that
// comes then is still served.
TEST(HandOff, IdleConnectionsAreCappedAndDropped) {
    test::TempDir dir;
    platform::InstanceServer server;
    const std::string endpoint = dir.file("k.sock");
    ASSERT_TRUE(server.listen(QString::fromStdString(endpoint)));
    int served = 0;
    QObject::connect(&server, &platform::InstanceServer::requestReceived, [&](int) { ++served; });
    server.serve();

    std::vector<int> idle;
    for (int i = 0; i < platform::InstanceServer::kMaxOpenConnections + 6; ++i) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, endpoint.c_str(), sizeof addr.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << std::strerror(errno);
        idle.push_back(fd);
        QApplication::processEvents();
    }
    auto closedCount = [&] {
        int closed = 0;
        for (int fd : idle) {
            char c;
            const ssize_t n = ::recv(fd, &c, 1, MSG_DONTWAIT | MSG_PEEK);
            closed += n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        }
        return closed;
    };
    EXPECT_TRUE(test::ProcessEventsUntil([&] { return closedCount() == 6; }, 3000)) << closedCount();
    EXPECT_TRUE(platform::SendInstanceRequest(endpoint, platform::kRequestNext));
    EXPECT_TRUE(test::ProcessEventsUntil([&] { return served == 1; }, 3000)) << "served beyond the limit";
    EXPECT_EQ(closedCount(), 7) << "one more idle one made room; the rest stay until their time is up";
    EXPECT_TRUE(test::ProcessEventsUntil([&] { return closedCount() == static_cast<int>(idle.size()); },
                                         platform::InstanceServer::kIdleTimeoutMs + 5000))
        << closedCount();
    for (int fd : idle) ::close(fd);
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
