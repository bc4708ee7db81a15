#include "StartupCheck.h"

#include "InstanceChannel.h"
#include "Settings.h"

namespace kalidrome {

using namespace settings;

StartDecision CheckForRunningInstance(const IniFile& startup, std::uint32_t now,
                                      const std::string& firstArgument) {
    StartDecision d;
    d.message = firstArgument == "/c" ? platform::kRequestShowScreensaver : platform::kRequestShow;
    if (startup.readInteger(kStartUpSection, kValue, 0) != 1) return d;
    d.recorded = true;
    auto stored = static_cast<std::uint32_t>(startup.readInteger(kStartUpSection, kTickCount, 0));
    d.heartbeatFresh = platform::TickDistance(stored, now) <= kHeartbeatWindowMs;
    d.handle = startup.readInteger(kStartupSection, kHandle, 0);
    // No path holds a line break: the default tells a missing key from an empty one.
    const std::string socket = startup.readString(kStartupSection, kSocket, "\n");
    d.endpointRecorded = socket != "\n";
    if (d.endpointRecorded) d.endpoint = socket;
    return d;
}

void RecordStart(IniFile& startup, std::int64_t handle, const std::string& endpoint, std::uint32_t now) {
    startup.writeInteger(kStartUpSection, kValue, 1);
    startup.writeInteger(kStartupSection, kHandle, static_cast<std::int32_t>(handle));
    startup.writeString(kStartupSection, kSocket, endpoint);
    startup.writeBool(kStartupSection, kClosedCorrectly, false);
    startup.writeInteger(kStartupSection, kTickCount, static_cast<std::int32_t>(now));
}

bool RecordCleanExit(IniFile& startup, std::int64_t handle) {
    if (startup.readInteger(kStartupSection, kHandle, 0) != static_cast<std::int32_t>(handle)) return false;
    startup.writeInteger(kStartupSection, kValue, 0);
    startup.writeBool(kStartupSection, kClosedCorrectly, true);
    return true;
}

Heartbeat::Heartbeat(IniFile& startup, const IniFile& settings, const platform::TickSource& clock)
    : m_startup(startup), m_settings(settings), m_clock(clock) {}

void Heartbeat::stamp() {
    // Stored as a signed 32-bit integer; readers take the same 32 bits back.
    m_startup.writeInteger(kStartupSection, kTickCount, static_cast<std::int32_t>(m_clock.now()));
    m_startup.flush();
}

void Heartbeat::tick() {
    if (m_ticks >= 5) {
        if (!m_settings.readBool(kDisableStartupCheck.section, kDisableStartupCheck.key,
                                 kDisableStartupCheck.atLoad)) {
            try {
                stamp();
            } catch (const IniWriteError&) {
                // A heartbeat that cannot be written only makes later starts take over.
            }
        }
        m_ticks = 0;
    }
    ++m_ticks;
}

}  // namespace kalidrome
