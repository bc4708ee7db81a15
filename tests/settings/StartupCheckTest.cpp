#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "IniFile.h"
#include "InstanceChannel.h"
#include "StartupCheck.h"
#include "EnvOverride.h"
#include "TempDir.h"
#include "TickCount.h"

namespace {

using namespace kalidrome;
using kalidrome::test::EnvOverride;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;

TEST(TickCount, DistanceWrapsAround) {
    struct Case {
        std::uint32_t a, b, distance;
    };
    const Case cases[] = {
        {1000, 1000, 0},
        {11000, 1000, 10000},
        {1000, 11001, 10001},
        {0xFFFFF000u, 0x00000800u, 0x1800},  // stored just before the wrap, now just after
        {0x00000800u, 0xFFFFF000u, 0x1800},
        {0xFFFFFFFFu, 0u, 1},
        {0x80000000u, 0u, 0x80000000u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + " vs " + std::to_string(c.b));
        EXPECT_EQ(platform::TickDistance(c.a, c.b), c.distance);
    }
}

TEST(TickCount, IsMonotonic) {
    std::uint32_t a = platform::TickCountNow();
    std::uint32_t b = platform::TickCountNow();
    EXPECT_LE(platform::TickDistance(a, b), 1000u);
    EXPECT_EQ(static_cast<std::uint32_t>(b - a) < 0x80000000u, true);
}

struct DecisionCase {
    const char* name;
    const char* startupIni;
    std::uint32_t now;
    const char* argument;
    bool recorded;
    bool fresh;
    int message;
};

TEST(StartupCheck, DecidesFromValueAndHeartbeat) {
    // recorded: an instance to ask through its socket; fresh: the heartbeat still says it lives
    const DecisionCase cases[] = {
        {"no file", nullptr, 5000, "", false, false, 3024},
        {"clean end", "[StartUp]\nValue=0\nTickCount=5000\nHandle=7\n", 5000, "", false, false, 3024},
        {"fresh heartbeat", "[StartUp]\nValue=1\nTickCount=5000\nHandle=7\n", 15000, "", true, true, 3024},
        {"slash c", "[Startup]\nValue=1\nTickCount=5000\nHandle=7\n", 6000, "/c", true, true, 3025},
        {"upper-case /C is no /c", "[Startup]\nValue=1\nTickCount=5000\nHandle=7\n", 6000, "/C", true, true, 3024},
        {"other argument", "[Startup]\nValue=1\nTickCount=5000\nHandle=7\n", 6000, "/c2", true, true, 3024},
        {"heartbeat 10001 ms old: still asked", "[Startup]\nValue=1\nTickCount=5000\nHandle=7\n", 15001, "", true, false, 3024},
        {"heartbeat ahead of now", "[Startup]\nValue=1\nTickCount=15000\nHandle=7\n", 5000, "", true, true, 3024},
        {"across the wrap (stored negative)", "[Startup]\nValue=1\nTickCount=-100\nHandle=7\n", 200, "", true, true, 3024},
        {"Value 2 is not alive", "[Startup]\nValue=2\nTickCount=5000\nHandle=7\n", 5000, "", false, false, 3024},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(dir.file("Startup.ini").c_str());
        if (c.startupIni) WriteFile(dir.file("Startup.ini"), c.startupIni);
        IniFile ini(dir.file("Startup.ini"));
        StartDecision d = CheckForRunningInstance(ini, c.now, c.argument);
        EXPECT_EQ(d.recorded, c.recorded);
        EXPECT_EQ(d.heartbeatFresh, c.fresh);
        EXPECT_EQ(d.message, c.message);
        EXPECT_FALSE(d.endpointRecorded) << "no Socket key: an older record";
        if (d.recorded) {
            EXPECT_EQ(d.handle, 7);
        }
    }
}

TEST(StartupCheck, RecordsStartAndCleanExit) {
    TempDir dir;
    IniFile ini(dir.file("Startup.ini"));
    RecordStart(ini, 4321, "/run/user/1/k.sock", 0xFFFFFFF0u);
    EXPECT_EQ(ReadFile(dir.file("Startup.ini")),
              "[StartUp]\nValue=1\nHandle=4321\nSocket=/run/user/1/k.sock\nClosedCorrectly=0\nTickCount=-16\n");
    // Alive from its record on, before any heartbeat, and found at its socket.
    const StartDecision d = CheckForRunningInstance(ini, 0xFFFFFFF0u + 5000, "");
    EXPECT_TRUE(d.recorded && d.heartbeatFresh);
    EXPECT_TRUE(d.endpointRecorded);
    EXPECT_EQ(d.endpoint, "/run/user/1/k.sock");
    EXPECT_TRUE(RecordCleanExit(ini, 4321));
    EXPECT_EQ(ReadFile(dir.file("Startup.ini")),
              "[StartUp]\nValue=0\nHandle=4321\nSocket=/run/user/1/k.sock\nClosedCorrectly=1\nTickCount=-16\n");

    // An instance that could not listen records an empty Socket, not none.
    RecordStart(ini, 4321, "", 5);
    EXPECT_TRUE(CheckForRunningInstance(ini, 5, "").endpointRecorded);
    EXPECT_EQ(CheckForRunningInstance(ini, 5, "").endpoint, "");
}

// An instance whose exit comes after another start took its place (it seemed gone, say,
// stopped with no socket) leaves the newer record as it is.
TEST(StartupCheck, ALateExitKeepsTheRecordOfAnotherInstance) {
    TempDir dir;
    IniFile ini(dir.file("Startup.ini"));
    RecordStart(ini, 100, "/tmp/a.sock", 5000);
    RecordStart(ini, 200, "/tmp/b.sock", 6000);  // the later start took over
    const std::string before = ReadFile(dir.file("Startup.ini"));
    EXPECT_FALSE(RecordCleanExit(ini, 100));
    EXPECT_EQ(ReadFile(dir.file("Startup.ini")), before);
    const StartDecision d = CheckForRunningInstance(ini, 6000, "");
    EXPECT_TRUE(d.recorded);
    EXPECT_EQ(d.handle, 200);
    EXPECT_EQ(d.endpoint, "/tmp/b.sock");
}

class SteppedTicks : public platform::TickSource {
public:
    std::uint32_t now() const override { return value; }
    std::uint32_t value = 0;
};

TEST(Heartbeat, WritesOnTheFirstTickAndEveryFifth) {
    TempDir dir;
    IniFile startup(dir.file("Startup.ini"));
    IniFile settings(dir.file("Settings.ini"));
    SteppedTicks clock;
    Heartbeat heartbeat(startup, settings, clock);
    std::vector<int> writtenAt;
    for (int tick = 1; tick <= 12; ++tick) {
        clock.value = static_cast<std::uint32_t>(tick * 1000);
        heartbeat.tick();
        if (startup.readInteger("Startup", "TickCount", -1) == tick * 1000) writtenAt.push_back(tick);
    }
    EXPECT_EQ(writtenAt, (std::vector<int>{1, 6, 11}));
}

TEST(Heartbeat, DisableStartupCheckStopsIt) {
    TempDir dir;
    IniFile startup(dir.file("Startup.ini"));
    IniFile settings(dir.file("Settings.ini"));
    WriteFile(dir.file("Settings.ini"), "[Settings]\nDisableStartupCheck=1\n");
    SteppedTicks clock;
    clock.value = 0xFFFFFF00u;
    Heartbeat heartbeat(startup, settings, clock);
    heartbeat.stamp();  // creation stamps it regardless
    EXPECT_EQ(static_cast<std::uint32_t>(startup.readInteger("Startup", "TickCount", 0)), 0xFFFFFF00u);
    for (int tick = 0; tick < 12; ++tick) {
        clock.value += 1000;
        heartbeat.tick();
    }
    EXPECT_EQ(static_cast<std::uint32_t>(startup.readInteger("Startup", "TickCount", 0)), 0xFFFFFF00u);
    // Switching the key off again brings the heartbeat back within five ticks.
    settings.writeBool("Settings", "DisableStartupCheck", false);
    for (int tick = 0; tick < 5; ++tick) {
        clock.value += 1000;
        heartbeat.tick();
    }
    EXPECT_EQ(static_cast<std::uint32_t>(startup.readInteger("Startup", "TickCount", 0)), clock.value - 1000);
}

TEST(InstanceChannel, RequestsRoundTripAndForeignLinesAreIgnored) {
    for (int request : {3024, 3025, 3026, 3027})
        EXPECT_EQ(platform::DecodeInstanceRequest(platform::EncodeInstanceRequest(request)), request);
    for (const char* foreign :
         {"", "3024\n", "KALIDROME/1 3023\n", "KALIDROME/1 3028\n", "KALIDROME/2 3024\n", "KALIDROME/1 30245\n"})
        EXPECT_EQ(platform::DecodeInstanceRequest(foreign), 0) << foreign;
    EXPECT_FALSE(platform::SendInstanceRequest("/nonexistent/kalidrome.sock", 3024));
}

TEST(InstanceChannel, EndpointDependsOnSystemFolderAndHandle) {
    auto a = platform::InstanceEndpoint("/opt/a/System/", 10);
    EXPECT_NE(a, platform::InstanceEndpoint("/opt/b/System/", 10));
    EXPECT_NE(a, platform::InstanceEndpoint("/opt/a/System/", 11));
    EXPECT_EQ(a, platform::InstanceEndpoint("/opt/a/System/", 10));
    EXPECT_LT(a.size(), 108u);
}

TEST(InstanceChannel, WithoutARuntimeFolderSocketsGoToAPrivateTmpFolder) {
    const std::string tmpFolder = "/tmp/kalidrome-" + std::to_string(::geteuid());
    TempDir dir;
    const std::string tooLong = dir.path() + "/" + std::string(100, 'r');
    ASSERT_EQ(::mkdir(tooLong.c_str(), 0700), 0);
    // A runtime folder inherited through su: someone else's. Root makes one for "nobody";
    // anyone else finds "/" owned by root.
    std::string foreign = "/";
    if (::geteuid() == 0) {
        foreign = dir.file("someone-else");
        ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    }
    struct Case {
        const char* name;
        const char* runtime;
        std::string folder;
    };
    const Case cases[] = {
        {"set", dir.path().c_str(), dir.path()},
        {"unset", nullptr, tmpFolder},
        {"empty", "", tmpFolder},
        {"relative", ".", tmpFolder},
        {"not a folder", "/nonexistent/run", tmpFolder},
        {"too long for a socket path", tooLong.c_str(), tmpFolder},
        {"another user's", foreign.c_str(), tmpFolder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EnvOverride runtime("XDG_RUNTIME_DIR", c.runtime);
        const std::string endpoint = platform::InstanceEndpoint("/opt/a/System/", 10);
        EXPECT_EQ(endpoint.substr(0, endpoint.rfind('/')), c.folder);
        EXPECT_LT(endpoint.size(), sizeof(sockaddr_un::sun_path));
    }
    struct stat st {};
    ASSERT_EQ(::lstat(tmpFolder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 077, 0u) << "closed to group and others";
}

// Where the usual folder cannot be used, an instance makes a folder of its own.
TEST(InstanceChannel, APrivateEndpointLiesInAFreshFolderOfOurOwn) {
    std::string made;
    const std::string endpoint = platform::PrivateEndpoint("/opt/a/System/", 10, &made);
    ASSERT_FALSE(endpoint.empty());
    EXPECT_EQ(endpoint.substr(0, endpoint.rfind('/')), made);
    EXPECT_EQ(made.rfind("/tmp/kalidrome-" + std::to_string(::geteuid()) + "-", 0), 0u) << made;
    EXPECT_LT(endpoint.size(), sizeof(sockaddr_un::sun_path));
    struct stat st {};
    ASSERT_EQ(::lstat(made.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    std::string second;
    platform::PrivateEndpoint("/opt/a/System/", 10, &second);
    EXPECT_NE(second, made) << "every run gets a folder of its own";
    ::rmdir(made.c_str());
    ::rmdir(second.c_str());
}

// A socket file that nobody listens on any more, as a killed instance leaves it.
std::string DeadSocket(const TempDir& dir) {
    const std::string path = dir.file("dead.sock");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    return path;
}

TEST(InstanceChannel, FailedSendsSayWhy) {
    TempDir dir;
    const std::string dead = DeadSocket(dir);
    struct Case {
        const char* name;
        std::string endpoint;
        int failure;
    };
    const Case cases[] = {
        {"no socket", dir.file("none.sock"), ENOENT},
        {"a socket nobody listens on", dead, ECONNREFUSED},
        {"no safe folder", "", EACCES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int failure = 0;
        EXPECT_FALSE(platform::SendInstanceRequest(c.endpoint, platform::kRequestShow, &failure));
        EXPECT_EQ(failure, c.failure) << std::strerror(failure);
    }
    platform::RemoveDeadEndpoint(dead);
    EXPECT_NE(::access(dead.c_str(), F_OK), 0);
    // Only sockets are removed.
    WriteFile(dir.file("plain.sock"), "x");
    platform::RemoveDeadEndpoint(dir.file("plain.sock"));
    EXPECT_EQ(ReadFile(dir.file("plain.sock")), "x");
}

TEST(InstanceChannel, OnlyCertainDeathCountsAsGone) {
    // A process of this same executable (a fork of the test) stands in for a live instance.
    pid_t twin = ::fork();
    ASSERT_GE(twin, 0);
    if (twin == 0) {
        ::pause();
        ::_exit(0);
    }
    pid_t reaped = ::fork();
    ASSERT_GE(reaped, 0);
    if (reaped == 0) ::_exit(0);
    ::waitpid(reaped, nullptr, 0);

    struct Case {
        const char* name;
        int failure;
        std::int64_t handle;
        bool gone;
    };
    const Case cases[] = {
        {"refused", ECONNREFUSED, twin, true},
        {"no socket, no process", ENOENT, reaped, true},
        {"no socket, the id names another program", ENOENT, ::getppid(), true},
        {"no socket, the id is this very process", ENOENT, ::getpid(), true},
        {"no socket, an id that is no process", ENOENT, 0, true},
        {"no socket, a negative id", ENOENT, -1, true},
        {"no socket, but the same program runs under the id", ENOENT, twin, false},
        {"queue full", EAGAIN, reaped, false},
        {"socket not ours to use", EACCES, reaped, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::InstanceIsGone(c.failure, c.handle), c.gone);
    }
    ::kill(twin, SIGKILL);
    ::waitpid(twin, nullptr, 0);
}

}  // namespace
