#include "CycleTimer.h"

#include <limits>

namespace kalidrome {

namespace {
constexpr std::string_view kSection = "MainForm";
}  // namespace

CycleTimer::CycleTimer(Timer& cycleTimer, Timer& startupTimer, Hooks hooks)
    : m_cycleTimer(cycleTimer), m_startupTimer(startupTimer), m_hooks(std::move(hooks)) {
    m_cycleTimer.setOnTimeout([this] { Tick(); });
    m_startupTimer.setOnTimeout([this] { StartupTimerFired(); });
}

void CycleTimer::SetRunning(bool running) {
    m_running = running;
    if (running) {
        m_cycleTimer.start();
    } else {
        m_cycleTimer.stop();
    }
}

std::string CycleTimer::translate(std::string_view text) const {
    if (m_hooks.translate) return m_hooks.translate(text, kSection);
    return std::string(text);
}

void CycleTimer::Tick() {
    // Stopped for the tick's duration, so the next tick comes a full period after this
    // one ends, however long the cycle takes.
    m_cycleTimer.stop();
    if (m_countdown <= 0) {
        if (m_hooks.setTitle) m_hooks.setTitle(translate("Kalidrome - Cycling..."));
        try {
            if (m_hooks.cycleNow) m_hooks.cycleNow();
        } catch (...) {
            // The cycle drops its own failures; one that escapes must not stop the count.
        }
        m_countdown = m_hooks.interval ? m_hooks.interval() : 0;
    }
    // An Interval of -2147483648 from a hand-edited file must not wrap round to a count
    // of 68 years: the count stays at the lowest value and every tick cycles.
    if (m_countdown > std::numeric_limits<std::int32_t>::min()) --m_countdown;
    if (m_hooks.setTitle)
        m_hooks.setTitle("Kalidrome - " + std::to_string(m_countdown) + " " + translate("sec"));
    if (m_hooks.showCountdown) m_hooks.showCountdown(m_countdown);
    // Auto cycling switched off while the cycle let events through stays off.
    if (m_running) m_cycleTimer.start();
}

void CycleTimer::StartStartupTimerAfterLoad(bool disableCycling) {
    if (m_countdown > 60 || !disableCycling) m_startupTimer.start();
}

void CycleTimer::StartupTimerFired() {
    m_startupTimer.stop();
    m_countdown = m_hooks.interval ? m_hooks.interval() : 0;
}

}  // namespace kalidrome
