#pragma once

#include <cstdint>
#include <string>

namespace kalidrome::platform {

// Hand-off requests a later start sends to the running instance.
inline constexpr int kRequestShow = 3024;             // show the main window
inline constexpr int kRequestShowScreensaver = 3025;  // show it and open the preferences' screen-saver page

// The local socket on which the instance with this System folder and Handle listens:
// "$XDG_RUNTIME_DIR/kalidrome-<hash of the System folder>-<handle>.sock" (or /tmp).
std::string InstanceEndpoint(const std::string& systemPath, std::int64_t handle);

// One request on the wire: "KALIDROME/1 <number>\n".
std::string EncodeInstanceRequest(int message);
// Returns the number, or 0 when the line is not a request of this protocol.
int DecodeInstanceRequest(const std::string& line);

// Connects, sends the request and returns without waiting for the instance to act.
// Returns false when nobody listens there (the request is then lost).
bool SendInstanceRequest(const std::string& endpoint, int message);

}  // namespace kalidrome::platform
