#pragma once

#include <functional>
#include <utility>

namespace kalidrome {

// A timer of the user-interface thread, as the cycle rules see it: started, stopped,
// asked whether it runs, and calling its handler when a period has passed. Its period
// is fixed by the implementation. The program uses QtTimer (QtTimer.h); tests use
// ManualTimer and fire it themselves, so no test waits for real time.
class Timer {
public:
    virtual ~Timer() = default;

    // Starts a full period from now (restarts a running timer).
    virtual void start() = 0;
    // Stops the timer; a pending period does not end in a timeout.
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    // The handler that runs when a period ends. Set once by the timer's owner.
    void setOnTimeout(std::function<void()> handler) { m_onTimeout = std::move(handler); }

protected:
    void timeout() {
        if (m_onTimeout) m_onTimeout();
    }

private:
    std::function<void()> m_onTimeout;
};

// A timer that runs only when the test says so.
class ManualTimer : public Timer {
public:
    void start() override {
        m_active = true;
        ++m_starts;
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    // Ends the current period: runs the handler if the timer is active. A repeating
    // timer stays active unless its handler stops it. Returns whether it fired.
    bool fire() {
        if (!m_active) return false;
        timeout();
        return true;
    }

    // How often start() was called.
    int starts() const { return m_starts; }

private:
    bool m_active = false;
    int m_starts = 0;
};

}  // namespace kalidrome
