#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Timer.h"

namespace kalidrome {

// The interval countdown: a one-second tick that counts Countdown down, shows it in the
// main window's title (and in the preferences dialog while it is open) and runs the cycle
// when the count has run out; and the one-shot start-up timer that restarts the count
// five seconds after the options were loaded unless a cycle came first.
//
// Wiring (the main window):
//   - cycleTimer: a repeating Timer of kCycleTimerMs; startupTimer: one of kStartupTimerMs.
//     The constructor sets both timers' handlers to Tick and StartupTimerFired.
//   - SetDisableCycling(v) calls SetRunning(!v); the one-shot run calls SetRunning(false).
//   - LoadSettingsAndList assigns Interval (the option) and then SetCountdown(Interval),
//     then calls StartStartupTimerAfterLoad(DisableCycling). Creation sets Countdown 1.
//     The preferences dialog's OK sets Countdown to the new Interval.
//   - The cycle engine's stopStartupTimer hook and the tray's Show/Hide call
//     StopStartupTimer.
// Manual cycles and the calendar rules do not touch the count.
class CycleTimer {
public:
    static constexpr int kCycleTimerMs = 1000;
    static constexpr int kStartupTimerMs = 5000;

    struct Hooks {
        // The cycle engine's CycleNow.
        std::function<void()> cycleNow;
        // The option Interval in seconds, read when the count restarts.
        std::function<std::int32_t()> interval;
        // Sets the main window's title.
        std::function<void(const std::string&)> setTitle;
        // Shows Countdown in the preferences dialog's label if the dialog is open;
        // may be empty.
        std::function<void(std::int32_t)> showCountdown;
        // The translate operation (text, section); empty means English.
        std::function<std::string(std::string_view, std::string_view)> translate;
    };

    CycleTimer(Timer& cycleTimer, Timer& startupTimer, Hooks hooks);
    CycleTimer(const CycleTimer&) = delete;
    CycleTimer& operator=(const CycleTimer&) = delete;

    // Seconds left until the next timed cycle; may be 0 or below.
    std::int32_t Countdown() const { return m_countdown; }
    void SetCountdown(std::int32_t seconds) { m_countdown = seconds; }

    // Starts or stops the tick: it runs exactly while auto cycling is on.
    void SetRunning(bool running);
    bool running() const { return m_running; }

    // The tick: stop; cycle when the count is 0 or below and restart it at Interval;
    // count down; title "Kalidrome - <Countdown> <sec>"; the dialog's label; start again
    // (unless auto cycling was switched off meanwhile).
    void Tick();

    // After the options were loaded: starts the start-up timer when Countdown is above 60
    // or auto cycling is on.
    void StartStartupTimerAfterLoad(bool disableCycling);
    void StopStartupTimer() { m_startupTimer.stop(); }
    // The start-up timer's handler: stop it and restart the count at Interval.
    void StartupTimerFired();

private:
    std::string translate(std::string_view text) const;

    Timer& m_cycleTimer;
    Timer& m_startupTimer;
    Hooks m_hooks;
    std::int32_t m_countdown = 0;
    bool m_running = false;
};

}  // namespace kalidrome
