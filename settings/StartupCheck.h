#pragma once

#include <cstdint>
#include <string>

#include "IniFile.h"
#include "TickCount.h"

namespace kalidrome {

// A running instance counts as alive while its heartbeat is at most this old.
inline constexpr std::uint32_t kHeartbeatWindowMs = 10000;

// What Startup.ini says about an instance. Whether it lives is asked of its hand-off
// socket first (a socket that accepts a connection belongs to a live instance, even one
// that is busy or stopped: the request waits in the queue); the heartbeat only decides
// when no socket answers either way.
struct StartDecision {
    bool recorded = false;        // Value 1: an instance started and has not ended cleanly
    bool heartbeatFresh = false;  // and its TickCount is at most kHeartbeatWindowMs away
    std::int64_t handle = 0;      // its process id
    std::string endpoint;         // its Socket ("" when it could not listen)
    bool endpointRecorded = false;  // false for a record of an older version, without Socket
    int message = 0;              // 3024 or 3025, for a plain start
};

// Reads Startup.ini the way program entry does. firstArgument is the first command-line
// argument ("" when there is none); only exactly "/c" asks for the screen-saver page.
StartDecision CheckForRunningInstance(const IniFile& startup, std::uint32_t now,
                                      const std::string& firstArgument);

// Marks Startup.ini for a started program: Value 1, Handle, Socket (the hand-off socket,
// "" when there is none), ClosedCorrectly 0, and a first sign of life, TickCount now.
// Throws IniWriteError when the file cannot be written.
void RecordStart(IniFile& startup, std::int64_t handle, const std::string& endpoint, std::uint32_t now);

// Marks a clean end (Value 0, ClosedCorrectly 1), but only while the record still names
// this instance: a later start that took over (this one seemed gone) keeps its record.
// Returns whether the record was this instance's.
bool RecordCleanExit(IniFile& startup, std::int64_t handle);

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
