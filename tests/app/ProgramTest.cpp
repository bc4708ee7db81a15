// The real executable in a folder of its own, started as separate processes on Qt's
// offscreen platform: program entry, the hand-off and the exit bookkeeping.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "IniFile.h"
#include "InstanceChannel.h"
#include "ListFile.h"
#include "Process.h"
#include "TempDir.h"
#include "TickCount.h"

namespace {

using namespace kalidrome;
using kalidrome::test::Process;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WaitFor;
using kalidrome::test::WriteFile;

// Entries enough that loading them keeps the first instance in its creation well past
// the moment a second start comes.
constexpr int kLargeList = 200000;

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("KALIDROME_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        std::filesystem::copy_file(std::string(bin) + "/kalidrome", exe());
        system = m_dir.file("System/");
    }

    std::string exe() const { return m_dir.file("kalidrome"); }
    std::string trace() const { return ReadFile(m_dir.file("trace")); }
    bool traced(const std::string& line) const { return trace().find(line + "\n") != std::string::npos; }
    IniFile startupIni() const { return IniFile(system + "Startup.ini"); }
    std::string file(const std::string& name) const { return m_dir.file(name); }

    // runtimeFolder: what XDG_RUNTIME_DIR is set to ("" counts as unset).
    std::unique_ptr<Process> start(std::vector<std::string> args = {}, const std::string& log = "log",
                                   std::optional<std::string> runtimeFolder = std::nullopt) {
        std::map<std::string, std::string> env{
            {"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_RUNTIME_DIR", runtimeFolder.value_or(m_dir.path())},
            {"XDG_CONFIG_HOME", m_dir.file("config")},
            {"KALIDROME_TRACE", m_dir.file("trace")},
            {"KALIDROME_NONINTERACTIVE", "1"},
        };
        auto p = std::make_unique<Process>(exe(), args, env, m_dir.file(log));
        EXPECT_TRUE(p->started());
        return p;
    }

    // Starts the first instance and waits until it runs its event loop.
    std::unique_ptr<Process> startRunning(std::vector<std::string> args = {}) {
        auto p = start(std::move(args));
        EXPECT_TRUE(WaitFor([&] { return traced("running"); }, 10000)) << trace();
        return p;
    }

    // The hand-off sockets of this System folder in folder (the test's runtime folder
    // unless named), by the process ids in their names.
    std::vector<std::string> socketsIn(const std::string& folder = "") const {
        const std::string prefix = std::filesystem::path(platform::InstanceEndpoint(system, 0)).filename().string();
        const std::string stem = prefix.substr(0, prefix.size() - std::string("0.sock").size());
        std::vector<std::string> ids;
        for (const auto& e : std::filesystem::directory_iterator(folder.empty() ? m_dir.path() : folder)) {
            const std::string name = e.path().filename().string();
            if (name.rfind(stem, 0) == 0 && e.is_socket())
                ids.push_back(name.substr(stem.size(), name.size() - stem.size() - 5));
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    // Startup.ini names a live instance: Value 1 and a heartbeat within the window.
    bool recordedAlive() const {
        IniFile ini = startupIni();
        if (ini.readInteger("StartUp", "Value", 0) != 1 || !ini.keyExists("StartUp", "TickCount")) return false;
        auto tick = static_cast<std::uint32_t>(ini.readInteger("StartUp", "TickCount", 0));
        return platform::TickDistance(tick, platform::TickCountNow()) <= 10000;
    }

    // A later start hands its request over to the running instance and ends.
    void expectHandOverTo(Process& running) {
        std::remove(file("trace").c_str());
        auto later = start({}, "later.log");
        ASSERT_TRUE(later->waitFinished(5000));
        EXPECT_EQ(later->exitCode(), 0);
        EXPECT_TRUE(WaitFor([&] { return traced("request 3024"); }, 5000)) << trace() << ReadFile(file("later.log"));
        EXPECT_FALSE(traced("running")) << "no further instance ran";
        EXPECT_TRUE(running.running());
    }

    std::string system;

private:
    TempDir m_dir;
};

TEST_F(ProgramTest, SecondStartHandsOverAndEnds) {
    auto first = startRunning();
    EXPECT_EQ(startupIni().readInteger("Startup", "Value", 0), 1);
    EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), first->pid());
    EXPECT_EQ(startupIni().readInteger("Startup", "ClosedCorrectly", -1), 0);

    struct Case {
        std::vector<std::string> args;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "request 3024"},
        {{"/C"}, "request 3024"},
        {{"/c"}, "preferences 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        std::remove(file("trace").c_str());
        const std::string before = ReadFile(system + "Startup.ini");
        auto second = start(c.args, "second.log");
        ASSERT_TRUE(second->waitFinished(5000));
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_TRUE(WaitFor([&] { return traced(c.expected); }, 5000)) << trace();
        EXPECT_EQ(ReadFile(system + "Startup.ini"), before) << "a hand-off writes nothing";
        EXPECT_TRUE(first->running());
    }
    EXPECT_FALSE(traced("running")) << "no second instance ran";
}

TEST_F(ProgramTest, FirstStartWithSlashCShowsWindowAndScreensaverPage) {
    auto first = startRunning({"/c"});
    EXPECT_TRUE(WaitFor([&] { return traced("shown") && traced("preferences 1"); }, 5000)) << trace();
}

TEST_F(ProgramTest, StaleHeartbeatGivesANormalStartThatTakesOver) {
    std::filesystem::create_directory(system);
    std::uint32_t stale = platform::TickCountNow() - 20000;
    WriteFile(system + "Startup.ini", "[StartUp]\nValue=1\nTickCount=" +
                                          std::to_string(static_cast<std::int32_t>(stale)) +
                                          "\nHandle=1\nClosedCorrectly=0\n");
    auto p = startRunning();
    IniFile ini = startupIni();
    EXPECT_EQ(ini.readInteger("Startup", "Value", 0), 1);
    EXPECT_EQ(ini.readInteger("Startup", "Handle", 0), p->pid());
    auto tick = static_cast<std::uint32_t>(ini.readInteger("Startup", "TickCount", 0));
    EXPECT_LE(platform::TickDistance(tick, platform::TickCountNow()), 5000u);
}

// An instance that died without its exit bookkeeping (kill -9, a crash) leaves a fresh
// heartbeat behind. When its end is certain, the next start, still within the heartbeat
// window, runs as the only instance, clears the dead socket and serves later starts.
TEST_F(ProgramTest, CertainlyDeadInstanceIsReplacedAtOnce) {
    std::filesystem::create_directory(system);
    struct Case {
        const char* name;
        bool kill;          // start an instance and kill it; otherwise record the test's own id
        bool removeSocket;  // the dead instance's socket is gone too
    };
    const Case cases[] = {
        {"killed: its socket refuses the connection", true, false},
        {"killed: no socket left", true, true},
        {"the recorded id now names another program, no socket", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(file("trace").c_str());
        if (c.kill) {
            auto first = startRunning();
            first->signal(SIGKILL);
            ASSERT_TRUE(first->waitFinished(5000));
            ASSERT_EQ(socketsIn(), std::vector<std::string>{std::to_string(first->pid())});
            if (c.removeSocket)
                std::filesystem::remove(
                    file(std::filesystem::path(platform::InstanceEndpoint(system, first->pid())).filename()));
        } else {
            WriteFile(system + "Startup.ini", "[StartUp]\nValue=1\nTickCount=" +
                                                  std::to_string(static_cast<std::int32_t>(platform::TickCountNow())) +
                                                  "\nHandle=" + std::to_string(::getpid()) + "\n");
        }
        ASSERT_TRUE(recordedAlive()) << "the start must come within the heartbeat window";

        std::remove(file("trace").c_str());
        auto next = startRunning();
        EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), next->pid());
        EXPECT_EQ(socketsIn(), std::vector<std::string>{std::to_string(next->pid())}) << "the dead socket is gone";
        expectHandOverTo(*next);

        next->signal(SIGTERM);
        ASSERT_TRUE(next->waitFinished(5000));
        EXPECT_EQ(socketsIn(), std::vector<std::string>{}) << "a clean end takes its socket along";
    }
}

// The recorded instance runs, but its socket is not where this start looks (it was started
// with another XDG_RUNTIME_DIR): it is alive, so this start must not become a second one.
TEST_F(ProgramTest, LiveInstanceOutOfReachIsNotReplaced) {
    auto first = startRunning();
    std::filesystem::create_directory(file("elsewhere"));
    std::remove(file("trace").c_str());
    const std::string before = ReadFile(system + "Startup.ini");
    auto second = start({}, "second.log", file("elsewhere"));
    ASSERT_TRUE(second->waitFinished(5000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_NE(ReadFile(file("second.log")).find("did not take the request"), std::string::npos)
        << ReadFile(file("second.log"));
    EXPECT_FALSE(traced("running"));
    EXPECT_TRUE(first->running());
    EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), first->pid());
}

// Without XDG_RUNTIME_DIR (a sudo shell) the sockets live in a private folder under /tmp.
TEST_F(ProgramTest, WithoutARuntimeFolderASecondStartHandsOver) {
    const std::string tmpFolder = "/tmp/kalidrome-" + std::to_string(::geteuid());
    for (const char* runtime : {"", "/nonexistent/runtime"}) {
        SCOPED_TRACE(std::string("XDG_RUNTIME_DIR=") + runtime);
        std::remove(file("trace").c_str());
        auto first = start({}, "log", std::string(runtime));
        ASSERT_TRUE(WaitFor([&] { return traced("running"); }, 10000)) << trace();
        EXPECT_EQ(socketsIn(tmpFolder), std::vector<std::string>{std::to_string(first->pid())});
        struct stat st {};
        ASSERT_EQ(::lstat(tmpFolder.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_EQ(st.st_uid, ::geteuid());

        std::remove(file("trace").c_str());
        auto second = start({}, "second.log", std::string(runtime));
        ASSERT_TRUE(second->waitFinished(5000));
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_TRUE(WaitFor([&] { return traced("request 3024"); }, 5000)) << trace();
        EXPECT_FALSE(traced("running"));

        first->signal(SIGTERM);
        ASSERT_TRUE(first->waitFinished(5000));
        EXPECT_EQ(socketsIn(tmpFolder), std::vector<std::string>{});
    }
}

// A start that comes while the first one is still loading a large list finds it recorded
// in Startup.ini, and its socket already listening: the request waits in the socket's
// queue and is served once the first instance runs its event loop.
TEST_F(ProgramTest, StartDuringTheFirstStartsLoadIsServed) {
    std::filesystem::create_directory(system);
    const std::string listPath = system + "Big.kdl";
    {
        WallpaperList list;
        for (int i = 0; i < kLargeList; ++i)
            list.AddEntry("/nonexistent/pictures/picture number " + std::to_string(i) + ".jpg");
        WriteListFile(listPath, list, false, false);
    }
    WriteFile(system + "Settings.ini",
              "[Options]\nShowImages=0\nDisableCycling=1\nShowTray=1\nList=" + listPath + "\n");

    auto first = start();
    // Recorded and stamped: the first instance is now in its creation, loading the list.
    ASSERT_TRUE(WaitFor([&] { return recordedAlive(); }, 10000)) << trace();
    auto second = start({}, "second.log");
    ASSERT_TRUE(second->waitFinished(5000));
    EXPECT_EQ(second->exitCode(), 0);
    ASSERT_FALSE(traced("running")) << "the list loaded before the second start came; the test needs a larger one";

    EXPECT_TRUE(WaitFor([&] { return traced("request 3024") && traced("shown"); }, 30000)) << trace();
    EXPECT_TRUE(traced("running"));
    EXPECT_TRUE(first->running());
    EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), first->pid());
}

TEST_F(ProgramTest, DisableStartupCheckLetsALaterStartTakeOver) {
    std::filesystem::create_directory(system);
    WriteFile(system + "Settings.ini", "[Settings]\nDisableStartupCheck=1\n");
    auto first = startRunning();
    const std::string stamped = startupIni().readString("Startup", "TickCount", "");
    // The heartbeat's first tick comes a second after creation; without the key it would
    // have written by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(startupIni().readString("Startup", "TickCount", ""), stamped);

    // Ten seconds later the stamp is stale: stand in for the wait by ageing it.
    std::uint32_t aged = static_cast<std::uint32_t>(std::stol(stamped)) - 11000;
    startupIni().writeInteger("Startup", "TickCount", static_cast<std::int32_t>(aged));
    std::remove(file("trace").c_str());
    auto second = startRunning();
    EXPECT_TRUE(second->running());
    EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), second->pid());
    EXPECT_EQ(startupIni().readInteger("Startup", "Value", 0), 1);
    EXPECT_NE(static_cast<std::uint32_t>(startupIni().readInteger("Startup", "TickCount", 0)), aged);
}

TEST_F(ProgramTest, HeartbeatKeepsTheStampFresh) {
    auto first = startRunning();
    const std::string stamped = startupIni().readString("Startup", "TickCount", "");
    EXPECT_TRUE(WaitFor([&] { return startupIni().readString("Startup", "TickCount", "") != stamped; }, 3000));
}

TEST_F(ProgramTest, TerminationRecordsACleanEnd) {
    auto p = startRunning();
    p->signal(SIGTERM);
    ASSERT_TRUE(p->waitFinished(5000));
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_EQ(startupIni().readInteger("Startup", "Value", -1), 0);
    EXPECT_EQ(startupIni().readInteger("Startup", "ClosedCorrectly", -1), 1);
    // The next start is a normal one at once.
    std::remove(file("trace").c_str());
    auto next = startRunning();
    EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), next->pid());
}

TEST_F(ProgramTest, UnwritableSystemFolderEndsWithTheError) {
    WriteFile(file("System"), "not a folder");
    auto p = start();
    ASSERT_TRUE(p->waitFinished(10000));
    EXPECT_NE(p->exitCode(), 0);
    EXPECT_NE(ReadFile(file("log")).find("Unable to write to " + system + "Startup.ini"), std::string::npos)
        << ReadFile(file("log"));
}

TEST_F(ProgramTest, OneShotMarkerAndOption) {
    std::filesystem::create_directory(system);
    struct Case {
        const char* name;
        bool marker;
        bool option;
        bool oneShot;
        bool markerAfter;
        bool optionAfter;
    };
    const Case cases[] = {
        {"marker and option: one-shot run", true, true, true, true, true},
        {"marker without option: marker removed", true, false, false, false, false},
        {"option without marker: option cleared", false, true, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(file("trace").c_str());
        std::remove((system + "DontStartup.kdf").c_str());
        WriteFile(system + "Settings.ini", std::string("[Options]\nCloseImmediately=") + (c.option ? "1" : "0") + "\n");
        WriteFile(system + "Startup.ini", "[StartUp]\nValue=0\n");
        if (c.marker) WriteFile(system + "DontStartup.kdf", "");
        auto p = start();
        if (c.oneShot) {
            ASSERT_TRUE(p->waitFinished(10000));
            EXPECT_EQ(p->exitCode(), 0);
            EXPECT_TRUE(traced("one-shot")) << trace();
            EXPECT_FALSE(traced("shown"));
        } else {
            ASSERT_TRUE(WaitFor([&] { return traced("running"); }, 10000)) << trace();
            p->signal(SIGTERM);
            ASSERT_TRUE(p->waitFinished(5000));
        }
        EXPECT_EQ(std::filesystem::exists(system + "DontStartup.kdf"), c.markerAfter);
        EXPECT_EQ(IniFile(system + "Settings.ini").readBool("Options", "CloseImmediately", false), c.optionAfter);
        EXPECT_EQ(startupIni().readInteger("Startup", "ClosedCorrectly", -1), 1);
    }
}

}  // namespace
