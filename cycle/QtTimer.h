#pragma once

#include <QTimer>

#include "Timer.h"

namespace kalidrome {

// The program's Timer: a repeating QTimer with a fixed period on the thread that made it.
class QtTimer : public Timer {
public:
    explicit QtTimer(int periodMs);

    void start() override { m_timer.start(); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

    int periodMs() const { return m_timer.interval(); }

private:
    QTimer m_timer;
};

}  // namespace kalidrome
