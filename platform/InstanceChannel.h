#pragma once

#include <cstdint>
#include <string>

namespace kalidrome::platform {

// Hand-off requests a later start sends to the running instance.
inline constexpr int kRequestShow = 3024;             // show the main window
inline constexpr int kRequestShowScreensaver = 3025;  // show it and open the preferences' screen-saver page
inline constexpr int kRequestNext = 3026;             // change the wallpaper now ("kalidrome --next")
inline constexpr int kRequestPrevious = 3027;         // go back to the previous one ("kalidrome --previous")

// The folder that holds the hand-off sockets: $XDG_RUNTIME_DIR when it names a folder of
// this user (the session's private runtime folder; one inherited through su belongs to
// someone else). Without it (a sudo or su shell, a cron job, a
// bare X session) it is "/tmp/kalidrome-<effective uid>", made on first use with mode 0700.
// /tmp is there at every boot and sticky, so once that folder is ours (checked with lstat:
// a folder, not a link, owned by us, closed to group and others) nobody else can replace
// it, plant a socket in it or connect to ours. $XDG_CACHE_HOME or $HOME would not do: a
// sudo shell sees another home, and homes on network file systems often cannot hold
// sockets. Returns "" when the /tmp folder exists but is not safely ours; the hand-off is
// then off for this user until it is removed.
std::string InstanceFolder();

// The local socket on which the instance with this System folder and Handle listens:
// "<InstanceFolder()>/kalidrome-<hash of the System folder>-<handle>.sock". A runtime
// folder too long for a socket path gives way to the /tmp folder. "" when no safe folder
// is there.
std::string InstanceEndpoint(const std::string& systemPath, std::int64_t handle);

// Where an instance listens when InstanceEndpoint gives nothing or cannot be listened on
// (a /tmp/kalidrome-<uid> that belongs to someone else, a runtime folder that refuses
// sockets): a folder of its own, made now by mkdtemp ("/tmp/kalidrome-<uid>-XXXXXX", mode
// 0700), which madeFolder receives so that the instance removes it at exit. Later starts
// learn the path from Startup.ini. "" (and the errno in failure) when no folder can be made.
std::string PrivateEndpoint(const std::string& systemPath, std::int64_t handle, std::string* madeFolder,
                            int* failure = nullptr);

// One request on the wire: "KALIDROME/1 <number>\n".
std::string EncodeInstanceRequest(int message);
// Returns the number, or 0 when the line is not a request of this protocol (or names a
// request this program does not know).
int DecodeInstanceRequest(const std::string& line);

// Connects, sends the request and returns without waiting for the instance to act.
// Returns false when the request could not be delivered; failure then receives the errno
// of the step that failed (ECONNREFUSED: nobody listens on the socket; ENOENT: there is
// no socket; EACCES for an empty endpoint).
bool SendInstanceRequest(const std::string& endpoint, int message, int* failure = nullptr);

// True when a request that could not be delivered (failure as SendInstanceRequest gave
// it) proves that the instance recorded under handle is gone, so that this start may
// take its place: the socket refused the connection (its listener has ended), or there
// is no socket and no process of this same executable runs under that process id (the
// id may have been given to some other program since). Anything else (a full queue, a
// socket we may not use, a live instance whose socket sits in another folder because it
// was started with another environment) leaves the instance alive as far as we know.
bool InstanceIsGone(int failure, std::int64_t handle);

// Removes the socket file a gone instance left behind; anything but a socket stays.
void RemoveDeadEndpoint(const std::string& endpoint);

}  // namespace kalidrome::platform
