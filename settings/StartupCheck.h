#pragma once

#include <cstdint>
#include <string>

#include "IniFile.h"
#include "TickCount.h"

namespace kalidrome {

// A running instance counts as alive while its heartbeat is at most this old.
inline constexpr std::uint32_t kHeartbeatWindowMs = 10000;

struct StartDecision {
    bool handOff = false;      // another instance is alive: hand the request over and end
    std::int64_t handle = 0;   // where that instance listens
    int message = 0;           // 3024 or 3025
};

// Reads Startup.ini the way program entry does. firstArgument is the first command-line
// argument ("" when there is none); only exactly "/c" asks for the screen-saver page.
StartDecision CheckForRunningInstance(const IniFile& startup, std::uint32_t now,
                                      const std::string& firstArgument);

// Marks Startup.ini for a started program: Value 1, Handle, ClosedCorrectly 0, and a first
// sign of life, TickCount now, so that a start that comes before the main window's first
// heartbeat already finds this one alive. Throws IniWriteError when the file cannot be
// written.
void RecordStart(IniFile& startup, std::int64_t handle, std::uint32_t now);

// Marks a clean end: Value 0, ClosedCorrectly 1.
void RecordCleanExit(IniFile& startup);

// The running instance's sign of life. tick() runs once a second; the first tick and
// every fifth after it write TickCount, unless DisableStartupCheck is set.
class Heartbeat {
public:
    Heartbeat(IniFile& startup, const IniFile& settings, const platform::TickSource& clock);

    // Writes TickCount now and flushes it to disk (done once at creation).
    void stamp();
    void tick();
    int ticks() const { return m_ticks; }

private:
    IniFile& m_startup;
    const IniFile& m_settings;
    const platform::TickSource& m_clock;
    int m_ticks = 5;
};

}  // namespace kalidrome
