#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "QtTimer.h"

using kalidrome::QtTimer;

namespace {

// The program's timer calls its handler from the event loop, repeatedly, until stopped.
TEST(QtTimer, RepeatsUntilStopped) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QtTimer timer(0);
    int fired = 0;
    timer.setOnTimeout([&] {
        if (++fired == 3) timer.stop();
    });
    EXPECT_FALSE(timer.isActive());
    timer.start();
    EXPECT_TRUE(timer.isActive());
    QElapsedTimer guard;
    guard.start();
    while (timer.isActive() && guard.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(timer.isActive());
    QCoreApplication::processEvents();
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(QtTimer(1000).periodMs(), 1000);
}

}  // namespace
