// The real executable in a folder of its own, started as separate processes on Qt's
// offscreen platform: program entry, the hand-off and the exit bookkeeping.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <cstdio>
#include <jpeglib.h>
#include <vector>

#include "IniFile.h"
#include "InstanceChannel.h"
#include "ListFile.h"
#include "Process.h"
#include "TempDir.h"
#include "TickCount.h"
#include "XvfbServer.h"

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

// A JPEG of any size, written row by row (a 108-megapixel picture needs no 324 MB here).
void WriteLargeJpeg(const std::string& path, int width, int height) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, out);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 60, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<JSAMPLE>(x * 255 / width);
            row[3 * x + 1] = static_cast<JSAMPLE>(c.next_scanline * 255 / c.image_height);
            row[3 * x + 2] = 128;
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(out);
}

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
    // extra: variables added to (or replacing) the test's own.
    std::unique_ptr<Process> start(std::vector<std::string> args = {}, const std::string& log = "log",
                                   std::optional<std::string> runtimeFolder = std::nullopt,
                                   const std::map<std::string, std::string>& extra = {}) {
        std::map<std::string, std::string> env{
            {"QT_QPA_PLATFORM", "offscreen"},
            {"XDG_RUNTIME_DIR", runtimeFolder.value_or(m_dir.path())},
            {"XDG_CONFIG_HOME", m_dir.file("config")},
            {"KALIDROME_TRACE", m_dir.file("trace")},
            {"KALIDROME_NONINTERACTIVE", "1"},
        };
        for (const auto& [name, value] : extra) env[name] = value;
        // Run through a wrapper (setpriv, to be another user) when one is set.
        std::string program = exe();
        if (!wrapper.empty()) {
            args.insert(args.begin(), exe());
            args.insert(args.begin(), wrapper.begin() + 1, wrapper.end());
            program = wrapper.front();
        }
        auto p = std::make_unique<Process>(program, args, env, m_dir.file(log));
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
    // A program (and its arguments) that starts ours, when not empty.
    std::vector<std::string> wrapper;
    const TempDir& dir() const { return m_dir; }

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
        // The first instance's heartbeat may stamp TickCount meanwhile; nothing else may change.
        auto withoutHeartbeat = [&] {
            std::string text = ReadFile(system + "Startup.ini");
            const std::size_t at = text.find("TickCount=");
            if (at != std::string::npos) text.erase(at, text.find('\n', at) - at);
            return text;
        };
        const std::string before = withoutHeartbeat();
        auto second = start(c.args, "second.log");
        ASSERT_TRUE(second->waitFinished(5000));
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_TRUE(WaitFor([&] { return traced(c.expected); }, 5000)) << trace();
        EXPECT_EQ(withoutHeartbeat(), before) << "a hand-off writes nothing";
        EXPECT_TRUE(first->running());
    }
    EXPECT_FALSE(traced("running")) << "no second instance ran";
}

// A start that hands its request over ends without loading the toolkit or the window part
// of the program: the dynamic loader's own account (LD_DEBUG) names no Qt library.
TEST_F(ProgramTest, HandOffLoadsNoToolkit) {
    auto first = startRunning();
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "request 3024"}, {{"--show"}, "request 3024"}, {{"--next"}, "request 3026"}};
    for (const auto& [args, served] : cases) {
        SCOPED_TRACE(args.empty() ? "plain start" : args.front());
        std::remove(file("trace").c_str());
        auto later = start(args, "later.log", std::nullopt, {{"LD_DEBUG", "files"}});
        ASSERT_TRUE(later->waitFinished(5000));
        EXPECT_EQ(later->exitCode(), 0) << ReadFile(file("later.log"));
        const std::string loaded = ReadFile(file("later.log"));
        ASSERT_NE(loaded.find("file=libstdc++"), std::string::npos) << "LD_DEBUG said nothing: " << loaded;
        EXPECT_EQ(loaded.find("libQt6"), std::string::npos) << loaded;
        EXPECT_EQ(loaded.find("kalidrome-ui.so"), std::string::npos) << loaded;
        EXPECT_TRUE(WaitFor([&] { return traced(served); }, 5000)) << trace();
    }
    EXPECT_TRUE(first->running());
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

// Two starts at the same moment after a crash (a session that starts the program twice,
// a double click on the launcher): one runs, the other finds it and hands over.
TEST_F(ProgramTest, TwoStartsAtOnceAfterACrashLeaveOneInstance) {
    for (const bool crashedFirst : {true, false}) {
        SCOPED_TRACE(crashedFirst ? "after a crash" : "the very first start");
        std::remove(file("trace").c_str());
        if (crashedFirst) {
            auto first = startRunning();
            first->signal(SIGKILL);
            ASSERT_TRUE(first->waitFinished(5000));
            ASSERT_TRUE(recordedAlive()) << "the starts must come within the heartbeat window";
            std::remove(file("trace").c_str());
        } else {
            std::filesystem::remove_all(system);
        }
        auto a = start({}, "a.log");
        auto b = start({}, "b.log");
        // One of them ends after handing over; the other runs on.
        ASSERT_TRUE(WaitFor([&] { return !a->running() || !b->running(); }, 15000)) << trace();
        Process& ended = a->running() ? *b : *a;
        Process& runs = a->running() ? *a : *b;
        EXPECT_EQ(ended.exitCode(), 0);
        EXPECT_TRUE(WaitFor([&] { return traced("running") && traced("request 3024"); }, 10000)) << trace();
        EXPECT_TRUE(runs.running());
        const std::string events = trace();
        EXPECT_EQ(events.find("running\n"), events.rfind("running\n")) << "one instance ran:\n" << events;
        EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), runs.pid());
        runs.signal(SIGTERM);
        ASSERT_TRUE(runs.waitFinished(5000));
    }
}

// Later starts find the instance by the socket Startup.ini names, whatever their own
// XDG_RUNTIME_DIR says (cron, su, another session's shell).
TEST_F(ProgramTest, RequestsFindTheInstanceWhateverTheirEnvironment) {
    std::filesystem::create_directory(file("elsewhere"));
    auto first = startRunning();
    const std::string endpoint = startupIni().readString("Startup", "Socket", "");
    EXPECT_EQ(endpoint, file(std::filesystem::path(platform::InstanceEndpoint(system, first->pid())).filename()))
        << "the socket in the instance's runtime folder is recorded";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string runtime;  // "" unset
        const char* served;
    };
    const Case cases[] = {
        {"--next without XDG_RUNTIME_DIR", {"--next"}, "", "request 3026"},
        {"--show with another runtime folder", {"--show"}, file("elsewhere"), "request 3024"},
        {"a plain start with another runtime folder", {}, file("elsewhere"), "request 3024"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(file("trace").c_str());
        auto later = start(c.args, "later.log", c.runtime);
        ASSERT_TRUE(later->waitFinished(5000));
        EXPECT_EQ(later->exitCode(), 0) << ReadFile(file("later.log"));
        EXPECT_TRUE(WaitFor([&] { return traced(c.served); }, 5000)) << trace();
        EXPECT_FALSE(traced("running"));
    }
    EXPECT_TRUE(first->running());
}

// The recorded instance runs, but its socket is gone (a /tmp cleaner took it): it is
// alive, so no start may become a second one; each says why, names the path, and fails.
TEST_F(ProgramTest, LiveInstanceOutOfReachIsNotReplaced) {
    auto first = startRunning();
    const std::string endpoint = startupIni().readString("Startup", "Socket", "");
    ASSERT_FALSE(endpoint.empty());
    std::filesystem::remove(endpoint);
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"--next"}}) {
        SCOPED_TRACE(args.empty() ? "plain start" : args.front());
        std::remove(file("trace").c_str());
        const std::string before = ReadFile(system + "Startup.ini");
        auto second = start(args, "second.log");
        ASSERT_TRUE(second->waitFinished(5000));
        EXPECT_EQ(second->exitCode(), 1) << "a start that could not show the instance does not end with 0";
        const std::string said = ReadFile(file("second.log"));
        EXPECT_NE(said.find("did not take the request at " + endpoint + ": No such file"), std::string::npos) << said;
        EXPECT_FALSE(traced("running"));
        EXPECT_TRUE(first->running());
        EXPECT_EQ(ReadFile(system + "Startup.ini"), before);
    }
}

// A stopped instance (kill -STOP, or a machine so loaded that its heartbeat is long
// overdue) still has its socket, and the kernel queues what comes: a later start hands
// over, and the request is served once the instance goes on.
TEST_F(ProgramTest, StoppedInstanceBeyondTheHeartbeatWindowTakesTheRequest) {
    auto first = startRunning();
    first->signal(SIGSTOP);
    // Stopped longer than the heartbeat window: stand in for the wait by ageing the stamp.
    const std::uint32_t aged = platform::TickCountNow() - 13000;
    startupIni().writeInteger("Startup", "TickCount", static_cast<std::int32_t>(aged));
    ASSERT_FALSE(recordedAlive());
    std::remove(file("trace").c_str());
    auto second = start({}, "second.log");
    ASSERT_TRUE(second->waitFinished(5000));
    EXPECT_EQ(second->exitCode(), 0) << ReadFile(file("second.log"));
    auto next = start({"--next"}, "next.log", std::string());
    ASSERT_TRUE(next->waitFinished(5000));
    EXPECT_EQ(next->exitCode(), 0) << ReadFile(file("next.log"));
    EXPECT_FALSE(traced("request 3024")) << "nothing is served while stopped";
    EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), first->pid()) << "no second instance recorded";

    first->signal(SIGCONT);
    EXPECT_TRUE(WaitFor([&] { return traced("request 3024") && traced("request 3026"); }, 5000)) << trace();
    EXPECT_FALSE(traced("running")) << "no second instance ran";
    EXPECT_TRUE(first->running());
}

// An instance whose exit comes after another took over (it seemed gone) leaves the
// newer record alone, so that later starts still find the instance that runs.
TEST_F(ProgramTest, ALateExitKeepsTheRecordOfTheInstanceThatRuns) {
    auto first = startRunning();
    // Another instance took over meanwhile (by hand here: this one's socket vanished and
    // its heartbeat aged out, say): the record names it.
    startupIni().writeInteger("Startup", "Handle", static_cast<std::int32_t>(::getpid()));
    startupIni().writeString("Startup", "Socket", file("other.sock"));
    first->signal(SIGTERM);
    ASSERT_TRUE(first->waitFinished(5000));
    EXPECT_TRUE(traced("exit record kept: it names another instance")) << trace();
    EXPECT_EQ(startupIni().readInteger("Startup", "Value", 0), 1);
    EXPECT_EQ(startupIni().readInteger("Startup", "ClosedCorrectly", -1), 0);
    EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), ::getpid());
    EXPECT_EQ(startupIni().readString("Startup", "Socket", ""), file("other.sock"));
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

// /tmp/kalidrome-<uid> made beforehand by another user (anyone may make it in the sticky
// /tmp): the instance listens in a folder of its own instead and records it, and later
// starts, whatever their environment, find it there. Being another user takes root.
TEST_F(ProgramTest, AForeignTmpFolderGivesAFolderOfItsOwn) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root (to run the program as another user) and setpriv";
    constexpr uid_t kUser = 65534;  // nobody
    const std::string foreign = "/tmp/kalidrome-" + std::to_string(kUser);
    struct stat st {};
    const bool madeHere = ::mkdir(foreign.c_str(), 0700) == 0;
    if (!madeHere && ::lstat(foreign.c_str(), &st) == 0 && st.st_uid == kUser)
        GTEST_SKIP() << foreign << " is in use by that user";
    ASSERT_TRUE(madeHere || ::lstat(foreign.c_str(), &st) == 0);
    ASSERT_EQ(::chown(foreign.c_str(), 0, 0), 0);  // root's, so not the program's
    // The test's folder belongs to the program's user.
    ASSERT_EQ(::chown(dir().path().c_str(), kUser, kUser), 0);
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir().path()))
        ASSERT_EQ(::lchown(e.path().c_str(), kUser, kUser), 0);
    wrapper = {"/usr/bin/setpriv", "--reuid=" + std::to_string(kUser), "--regid=" + std::to_string(kUser),
               "--clear-groups"};

    auto first = start({}, "log", std::string());  // no XDG_RUNTIME_DIR
    EXPECT_TRUE(WaitFor([&] { return traced("running"); }, 10000)) << trace() << ReadFile(file("log"));
    const std::string endpoint = startupIni().readString("Startup", "Socket", "");
    const std::string ownFolder = endpoint.substr(0, endpoint.rfind('/'));
    EXPECT_EQ(ownFolder.rfind(foreign + "-", 0), 0u) << endpoint << "\n" << ReadFile(file("log"));
    ASSERT_EQ(::lstat(ownFolder.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kUser);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    for (const char* option : {"--next", "--show"}) {
        SCOPED_TRACE(option);
        std::remove(file("trace").c_str());
        auto later = start({option}, "later.log", std::string());
        ASSERT_TRUE(later->waitFinished(5000));
        EXPECT_EQ(later->exitCode(), 0) << ReadFile(file("later.log"));
    }
    EXPECT_TRUE(WaitFor([&] { return traced("request 3024"); }, 5000)) << trace();
    std::remove(file("trace").c_str());
    auto plain = start({}, "plain.log", std::string());
    ASSERT_TRUE(plain->waitFinished(5000));
    EXPECT_EQ(plain->exitCode(), 0) << ReadFile(file("plain.log"));
    EXPECT_TRUE(WaitFor([&] { return traced("request 3024"); }, 5000)) << trace();
    EXPECT_FALSE(traced("running"));

    first->signal(SIGTERM);
    ASSERT_TRUE(first->waitFinished(5000));
    EXPECT_NE(::access(ownFolder.c_str(), F_OK), 0) << "the folder of its own goes with the instance";
    if (madeHere) ::rmdir(foreign.c_str());
}

// A change of a very large picture runs beside the user interface: a request that comes
// meanwhile is served before the change is over (read from the order of the trace, not
// from a clock; the time it took is printed).
TEST_F(ProgramTest, ShowIsServedWhileALargePictureIsApplied) {
    test::XvfbServer xvfb(1024, 768);
    if (!xvfb.ok()) GTEST_SKIP() << xvfb.reason();
    std::filesystem::create_directory(system);
    WriteLargeJpeg(file("small.jpg"), 64, 48);
    WriteLargeJpeg(file("large.jpg"), 12000, 9000);  // 108 megapixels
    const std::string listPath = system + "Files.kdl";
    {
        WallpaperList list;
        std::string current;
        list.AddFiles({file("small.jpg"), file("large.jpg")}, current);
        WriteListFile(listPath, list, false, false);
    }
    WriteFile(system + "Settings.ini",
              "[Options]\nDisableCycling=1\nRandom=0\nShowImages=0\nCurrIndex=0\nList=" + listPath + "\n");
    const std::map<std::string, std::string> x11{{"DISPLAY", xvfb.display()}, {"KALIDROME_DESKTOP", "x11-root"}};
    auto first = start({}, "log", std::nullopt, x11);
    ASSERT_TRUE(WaitFor([&] { return traced("running"); }, 10000)) << trace();

    auto next = start({"--next"}, "next.log");
    ASSERT_TRUE(next->waitFinished(5000));
    ASSERT_TRUE(WaitFor([&] { return traced("wallpaper begun " + file("large.jpg")); }, 5000)) << trace();
    const auto sent = std::chrono::steady_clock::now();
    auto show = start({"--show"}, "show.log");
    ASSERT_TRUE(show->waitFinished(5000));
    EXPECT_EQ(show->exitCode(), 0);
    ASSERT_TRUE(WaitFor([&] { return traced("request 3024"); }, 60000)) << trace();
    const auto served = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return traced("wallpaper " + file("large.jpg")); }, 120000)) << trace();
    const auto changed = std::chrono::steady_clock::now();
    std::printf("--show served %lld ms after it was sent; the change ended %lld ms after that\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(served - sent).count()),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(changed - served).count()));
    const std::string events = trace();
    const auto begun = events.find("wallpaper begun " + file("large.jpg") + "\n");
    const auto request = events.find("request 3024\n");
    const auto done = events.find("wallpaper " + file("large.jpg") + "\n");
    EXPECT_LT(begun, request);
    EXPECT_LT(request, done) << "the request waited for the change:\n" << events;
    EXPECT_TRUE(first->running());
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

// Without the heartbeat a later start still finds the instance by its socket: the
// heartbeat only decides when no socket answers.
TEST_F(ProgramTest, DisableStartupCheckStillHandsOverThroughTheSocket) {
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
    expectHandOverTo(*first);
    EXPECT_EQ(startupIni().readInteger("Startup", "Handle", 0), first->pid());
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

// Odd things where the program keeps its INI files: each start answers at once (no pipe or
// device waited on, no endless read), says what it could not read, and leaves it as it was.
// Settings.ini and registry.ini fall back to the defaults and the program runs; without a
// Startup.ini it can write, the program ends with the error, as for a System folder it
// cannot write.
TEST_F(ProgramTest, OddIniFilesNeitherHangNorGetReplaced) {
    struct Odd {
        const char* name;
        std::function<void(const std::string&)> make;
        bool readable;  // the program reads it and keeps its bytes
    };
    const std::vector<Odd> odds = {
        {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, false},
        {"link to /dev/zero", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); }, false},
        {"folder", [](const std::string& p) { std::filesystem::create_directory(p); }, false},
        {"mode 000", [](const std::string& p) {
             WriteFile(p, "[Options]\nShowTray=0\n");
             ::chmod(p.c_str(), 0);
         }, false},
        {"100 MB", [](const std::string& p) {
             WriteFile(p, "[Options]\nShowTray=0\n");
             ASSERT_EQ(::truncate(p.c_str(), 100 << 20), 0);
         }, false},
        {"NUL bytes", [](const std::string& p) { WriteFile(p, std::string("[Odd]\nKey=x\0y\n\0\n", 16)); }, true},
        {"invalid UTF-8", [](const std::string& p) { WriteFile(p, "[Odd]\nKey=\xC3\x28\xFF\n\xFE\n"); }, true},
    };
    const bool asRoot = ::geteuid() == 0;
    struct Where {
        std::string path;
        bool programRuns;
    };
    const std::vector<Where> places = {{system + "Settings.ini", true},
                                       {system + "Startup.ini", false},
                                       {file("config") + "/kalidrome/registry.ini", true}};
    auto snapshot = [](const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return std::string("nothing");
        std::string s = std::to_string(st.st_ino) + "/" + std::to_string(st.st_mode) + "/" + std::to_string(st.st_size);
        if (S_ISREG(st.st_mode) && st.st_size < (1 << 20)) {
            ::chmod(path.c_str(), 0600);
            s += "/" + ReadFile(path);
            ::chmod(path.c_str(), st.st_mode & 07777);
        }
        return s;
    };
    for (const Where& where : places) {
        for (const Odd& odd : odds) {
            SCOPED_TRACE(where.path + ": " + odd.name);
            std::filesystem::remove_all(system);
            std::filesystem::remove_all(file("config"));
            std::filesystem::create_directories(system);
            std::filesystem::create_directories(file("config") + "/kalidrome");
            std::remove(file("trace").c_str());
            std::remove(file("log").c_str());
            odd.make(where.path);
            // Root reads any mode: it runs without the capabilities that override modes.
            wrapper = std::string(odd.name) == "mode 000" && asRoot
                          ? std::vector<std::string>{"/usr/bin/setpriv", "--bounding-set",
                                                     "-dac_override,-dac_read_search", "--"}
                          : std::vector<std::string>{};
            if (!wrapper.empty() && !std::filesystem::exists(wrapper.front())) {
                std::printf("skipped %s %s: no setpriv to run without root's file-mode override\n",
                            where.path.c_str(), odd.name);
                continue;
            }
            const std::string before = odd.readable ? ReadFile(where.path) : snapshot(where.path);
            auto p = start();
            if (where.programRuns || odd.readable) {
                // Generous: the bound is for a hang, not a measure of speed.
                EXPECT_TRUE(WaitFor([&] { return traced("running"); }, 10000)) << ReadFile(file("log"));
                p->signal(SIGTERM);
                EXPECT_TRUE(p->waitFinished(10000));
            } else {
                ASSERT_TRUE(p->waitFinished(10000)) << "the start hung";
                EXPECT_NE(p->exitCode(), 0);
            }
            const std::string told = ReadFile(file("log"));
            if (odd.readable) {
                // Every byte the program found is still there, in order.
                const std::string after = ReadFile(where.path);
                EXPECT_NE(after.find(before.substr(0, before.size() - 1)), std::string::npos) << after;
            } else {
                EXPECT_EQ(snapshot(where.path), before);
                if (where.path.find("registry.ini") == std::string::npos) {
                    // Said once, with the reason.
                    const std::string said = "Unable to write to " + where.path + ": it ";
                    const std::size_t first = told.find(said);
                    EXPECT_NE(first, std::string::npos) << told;
                    EXPECT_EQ(told.find(said, first + 1), std::string::npos) << "said more than once:\n" << told;
                }
            }
        }
    }
    wrapper.clear();
}

// The System folder on a full disk: the list cannot be saved at the end. List keeps naming
// the intact file, and the user is told where and why.
TEST_F(ProgramTest, SaveOnAFullDiskKeepsListAndSaysSo) {
    const std::string disk = file("disk");
    std::filesystem::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{disk};
    const std::string listPath = disk + "/Files.kdl";
    {
        WallpaperList list;
        for (int i = 0; i < 3000; ++i) list.AddEntry("/nonexistent/pictures/picture number " + std::to_string(i) + ".jpg");
        WriteListFile(listPath, list, false, false);
    }
    const std::string intact = ReadFile(listPath);
    ASSERT_GT(intact.size(), 100000u);
    // Whatever space is left goes to a filler.
    {
        FILE* filler = std::fopen((disk + "/filler").c_str(), "w");
        ASSERT_NE(filler, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }
    std::filesystem::create_directories(system);
    WriteFile(system + "Settings.ini", "[Options]\nShowImages=0\nDisableCycling=1\nList=" + listPath + "\n");

    auto p = startRunning();
    p->signal(SIGTERM);
    ASSERT_TRUE(p->waitFinished(10000));
    const std::string told = ReadFile(file("log"));
    EXPECT_NE(told.find("The list could not be saved:\n" + listPath), std::string::npos) << told;
    EXPECT_NE(told.find("There is no space left on the disk."), std::string::npos) << told;
    EXPECT_EQ(IniFile(system + "Settings.ini").readString("Options", "List", "?"), listPath);
    EXPECT_EQ(ReadFile(listPath), intact);
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

// The command line: each request is served by the running instance, and the start that
// sent it ends at once with status 0.
TEST_F(ProgramTest, CommandLineRequestsAreServedByTheRunningInstance) {
    std::filesystem::create_directory(system);
    const std::string listPath = system + "Files.kdl";
    {
        WallpaperList list;
        std::string current;
        list.AddFiles({file("first.bmp"), file("second.bmp")}, current);
        WriteListFile(listPath, list, false, false);
    }
    WriteFile(file("first.bmp"), "not really a picture");
    WriteFile(file("second.bmp"), "not really a picture");
    WriteFile(system + "Settings.ini", "[Options]\nDisableCycling=1\nRandom=0\nShowImages=0\nList=" + listPath + "\n");
    auto first = startRunning();

    struct Case {
        const char* option;
        std::vector<std::string> expected;  // trace lines of the running instance
    };
    // The list starts at its first entry: next goes on (and round), previous goes back.
    // (Offscreen there is no tray, so the window shows at start already.)
    const Case cases[] = {
        {"--show", {"request 3024"}},
        {"--next", {"request 3026", "wallpaper unchanged " + file("second.bmp")}},
        {"--next", {"request 3026", "wallpaper unchanged " + file("first.bmp")}},
        {"--previous", {"request 3027", "wallpaper unchanged " + file("second.bmp")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        std::remove(file("trace").c_str());
        auto request = start({c.option}, "request.log");
        ASSERT_TRUE(request->waitFinished(5000));
        EXPECT_EQ(request->exitCode(), 0) << ReadFile(file("request.log"));
        EXPECT_TRUE(WaitFor(
            [&] { return std::all_of(c.expected.begin(), c.expected.end(), [&](auto& l) { return traced(l); }); },
            5000))
            << trace();
        EXPECT_FALSE(traced("running")) << "no second instance ran";
        EXPECT_TRUE(first->running());
    }
}

// With no instance to serve it, a request says so and fails; it never starts one itself.
TEST_F(ProgramTest, CommandLineRequestWithoutARunningInstanceFails) {
    std::filesystem::create_directory(system);
    struct Case {
        const char* name;
        std::string startup;  // Startup.ini before the request ("" for none)
    };
    const std::string now = std::to_string(static_cast<std::int32_t>(platform::TickCountNow()));
    const Case cases[] = {
        {"never started", ""},
        {"ended cleanly", "[StartUp]\nValue=0\nTickCount=" + now + "\nHandle=1\n"},
        {"heartbeat too old", "[StartUp]\nValue=1\nTickCount=" +
                                  std::to_string(static_cast<std::int32_t>(platform::TickCountNow() - 20000)) +
                                  "\nHandle=1\n"},
        // A fresh record of a process that is not this program (the test itself).
        {"recorded instance is gone", "[StartUp]\nValue=1\nTickCount=" + now + "\nHandle=" +
                                          std::to_string(::getpid()) + "\n"},
    };
    for (const Case& c : cases) {
        for (const char* option : {"--show", "--next", "--previous"}) {
            SCOPED_TRACE(std::string(c.name) + " " + option);
            std::remove((system + "Startup.ini").c_str());
            if (!c.startup.empty()) WriteFile(system + "Startup.ini", c.startup);
            std::remove(file("trace").c_str());
            auto request = start({option}, "request.log");
            ASSERT_TRUE(request->waitFinished(5000));
            EXPECT_EQ(request->exitCode(), 1);
            EXPECT_NE(ReadFile(file("request.log")).find("Kalidrome is not running"), std::string::npos)
                << ReadFile(file("request.log"));
            EXPECT_FALSE(traced("running")) << "a request never starts the program";
            const bool kept = std::filesystem::exists(system + "Startup.ini");
            EXPECT_EQ(kept ? ReadFile(system + "Startup.ini") : std::string(), c.startup) << "a request writes nothing";
        }
    }
}

// Without a display the program says so and ends with status 2, whatever platform
// QT_QPA_PLATFORM asks Qt for: Qt's own end there is an abort.
TEST_F(ProgramTest, WithoutADisplayTheProgramSaysSoAndEnds) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> env;
    };
    const Case cases[] = {
        {"nothing set", {{"QT_QPA_PLATFORM", ""}}},
        {"xcb asked", {{"QT_QPA_PLATFORM", "xcb"}}},
        {"wayland asked", {{"QT_QPA_PLATFORM", "wayland"}}},
        {"a list", {{"QT_QPA_PLATFORM", "wayland;xcb"}}},
        {"a platform not installed", {{"QT_QPA_PLATFORM", "nosuchplatform"}}},
        {"an X display nobody serves", {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":4093"}}},
        {"a Wayland socket that is not there", {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "no-such-wayland"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::map<std::string, std::string> env{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
        for (const auto& [name, value] : c.env) env[name] = value;
        auto p = start({}, "nodisplay.log", std::nullopt, env);
        ASSERT_TRUE(p->waitFinished(10000));
        EXPECT_EQ(p->exitCode(), 2) << ReadFile(file("nodisplay.log"));
        EXPECT_NE(ReadFile(file("nodisplay.log")).find("kalidrome: no desktop session found ("), std::string::npos)
            << ReadFile(file("nodisplay.log"));
        EXPECT_FALSE(startupIni().readInteger("Startup", "Value", 0) == 1) << "no instance was recorded";
    }
}

TEST_F(ProgramTest, HelpAndUnknownOptions) {
    struct Case {
        const char* option;
        int exitCode;
        const char* log;      // where the usage goes
        const char* expected;  // a line it holds
    };
    const Case cases[] = {
        {"--help", 0, "stdout", "  --next       change the wallpaper now"},
        {"-h", 0, "stdout", "  --previous   go back to the previous wallpaper"},
        {"--nxet", 2, "stderr", "kalidrome: unknown option --nxet"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        auto p = start({c.option}, "help.log");
        ASSERT_TRUE(p->waitFinished(5000));
        EXPECT_EQ(p->exitCode(), c.exitCode);
        const std::string out = ReadFile(file("help.log"));
        EXPECT_NE(out.find(c.expected), std::string::npos) << out;
        EXPECT_NE(out.find("System folder: " + system), std::string::npos) << out;
        EXPECT_FALSE(std::filesystem::exists(system + "Startup.ini")) << "help starts nothing";
    }
}

// On a real X server: without a tray the window shows at start, so the program can be
// found; with a tray host (trayer) it starts hidden in the tray as before.
TEST_F(ProgramTest, WithoutATrayTheWindowShowsAtStart) {
    for (const char* tool : {"/usr/bin/trayer", "/usr/bin/xdotool"})
        if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh --test)";
    struct Case {
        const char* name;
        bool trayHost;
        bool shown;
    };
    const Case cases[] = {{"no tray host", false, true}, {"trayer", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::XvfbServer xvfb;
        ASSERT_TRUE(xvfb.ok()) << xvfb.reason();
        const std::map<std::string, std::string> x11{
            {"DISPLAY", xvfb.display()},
            {"QT_QPA_PLATFORM", "xcb"},
            // No StatusNotifierItem host from the test's own session either.
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + file("no-bus")},
        };
        std::unique_ptr<Process> trayer;
        if (c.trayHost) {
            trayer = std::make_unique<Process>("/usr/bin/trayer", std::vector<std::string>{"--SetDockType", "true"},
                                               x11, file("trayer.log"));
            ASSERT_TRUE(WaitFor(
                [&] {
                    Process search("/usr/bin/xdotool", {"search", "--classname", "trayer"}, x11, file("xdotool.log"));
                    return search.waitFinished(5000) && search.exitCode() == 0;
                },
                10000))
                << "trayer did not come up: " << ReadFile(file("trayer.log"));
        }
        std::remove(file("trace").c_str());
        auto p = start({}, "log", std::nullopt, x11);
        ASSERT_TRUE(WaitFor([&] { return traced("running"); }, 15000)) << trace() << ReadFile(file("log"));
        EXPECT_EQ(traced("shown"), c.shown) << trace();
        p->signal(SIGTERM);
        ASSERT_TRUE(p->waitFinished(5000));
        EXPECT_EQ(p->exitCode(), 0);
    }
}

// Where the session has a StatusNotifierItem host, the tray icon registers there over
// D-Bus. The host is swaybar (package sway) in a headless sway, on a private session bus;
// the program runs on a private X server. As root, the session runs as nobody, since sway
// refuses root.
TEST(TrayHostProgram, TrayIconRegistersWithAStatusNotifierHost) {
    for (const char* tool : {"/usr/bin/sway", "/usr/bin/swaybar", "/usr/bin/dbus-daemon", "/usr/bin/dbus-send"})
        if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh --test)";
    const bool root = ::geteuid() == 0;
    if (root && ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "running as root, and setpriv is missing";
    test::XvfbServer xvfb;
    ASSERT_TRUE(xvfb.ok()) << xvfb.reason();

    TempDir dir;
    namespace fs = std::filesystem;
    const std::string run = dir.file("run");
    const std::string program = dir.file("program");
    for (const std::string& folder : {run, program}) {
        fs::create_directory(folder);
        if (root) {
            ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        }
    }
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(run, fs::perms::owner_all);
    fs::copy_file(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/kalidrome", program + "/kalidrome");
    fs::permissions(program + "/kalidrome", fs::perms(0755));
    WriteFile(dir.file("sway.config"), "output HEADLESS-1 mode 320x240\nbar {\n  status_command true\n  tray_output *\n}\n");
    fs::permissions(dir.file("sway.config"), fs::perms(0644));

    // Runs a program as the session's user.
    auto session = [&](const std::string& path, std::vector<std::string> args, std::map<std::string, std::string> env,
                       const std::string& log) {
        const std::string bus = "unix:path=" + run + "/bus";
        env.insert({{"DBUS_SESSION_BUS_ADDRESS", bus}, {"XDG_RUNTIME_DIR", run}, {"HOME", run}});
        std::string exe = path;
        if (root) {
            args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", path});
            exe = "/usr/bin/setpriv";
        }
        return std::make_unique<Process>(exe, args, env, dir.file(log));
    };
    auto busReply = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--session", "--print-reply"});
        auto p = session("/usr/bin/dbus-send", args, {}, "dbus-send.log");
        return p->waitFinished(5000) && p->exitCode() == 0 ? ReadFile(dir.file("dbus-send.log")) : std::string();
    };

    // A bus that starts no services of its own (a notification daemon the tray's messages
    // would wake up, say), so that nothing outlives the test.
    WriteFile(dir.file("bus.conf"),
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:path=" + run + "/bus</listen><auth>EXTERNAL</auth>"
              "<policy context=\"default\"><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
              "<allow own=\"*\"/></policy>"
              "</busconfig>\n");
    fs::permissions(dir.file("bus.conf"), fs::perms(0644));
    auto bus = session("/usr/bin/dbus-daemon",
                       {"--config-file=" + dir.file("bus.conf"), "--nofork"}, {}, "dbus.log");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(run + "/bus"); }, 10000)) << ReadFile(dir.file("dbus.log"));
    auto sway = session("/usr/bin/sway", {"-c", dir.file("sway.config")},
                        {{"WLR_BACKENDS", "headless"}, {"WLR_RENDERER", "pixman"}, {"WLR_LIBINPUT_NO_DEVICES", "1"}},
                        "sway.log");
    ASSERT_TRUE(WaitFor(
        [&] {
            return busReply({"--dest=org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                             "string:org.kde.StatusNotifierWatcher"})
                       .find("boolean true") != std::string::npos;
        },
        15000))
        << "swaybar did not offer a StatusNotifierWatcher: " << ReadFile(dir.file("sway.log"));

    auto kalidrome = session(program + "/kalidrome", {},
                             {{"DISPLAY", xvfb.display()},
                              {"QT_QPA_PLATFORM", "xcb"},
                              {"KALIDROME_TRACE", program + "/trace"},
                              {"KALIDROME_NONINTERACTIVE", "1"}},
                             "kalidrome.log");
    auto trace = [&] { return ReadFile(program + "/trace"); };
    ASSERT_TRUE(WaitFor([&] { return trace().find("running\n") != std::string::npos; }, 15000))
        << trace() << ReadFile(dir.file("kalidrome.log"));
    std::string items;
    EXPECT_TRUE(WaitFor(
        [&] {
            items = busReply({"--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                              "org.freedesktop.DBus.Properties.Get", "string:org.kde.StatusNotifierWatcher",
                              "string:RegisteredStatusNotifierItems"});
            return items.find("/StatusNotifierItem") != std::string::npos;
        },
        10000))
        << items << ReadFile(dir.file("sway.log"));
    EXPECT_EQ(trace().find("shown\n"), std::string::npos) << "with a tray the program starts hidden";
    kalidrome->signal(SIGTERM);
    EXPECT_TRUE(kalidrome->waitFinished(5000));
}

}  // namespace
