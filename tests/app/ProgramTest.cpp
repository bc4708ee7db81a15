// The real executable in a folder of its own, started as separate processes on Qt's
// offscreen platform: program entry, the hand-off and the exit bookkeeping.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

#include "IniFile.h"
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

    std::unique_ptr<Process> start(std::vector<std::string> args = {}, const std::string& log = "log") {
        std::map<std::string, std::string> env{
            {"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_RUNTIME_DIR", m_dir.path()},
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

TEST_F(ProgramTest, DeadEndpointLosesTheRequestAndStillEnds) {
    std::filesystem::create_directory(system);
    const std::string content = "[StartUp]\nValue=1\nTickCount=" +
                                std::to_string(static_cast<std::int32_t>(platform::TickCountNow())) +
                                "\nHandle=999999\n";
    WriteFile(system + "Startup.ini", content);
    auto p = start();
    ASSERT_TRUE(p->waitFinished(5000));
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_EQ(ReadFile(system + "Startup.ini"), content);
    EXPECT_EQ(trace(), "");
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
