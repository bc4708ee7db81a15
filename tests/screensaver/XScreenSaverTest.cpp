// The whole way: the installer puts the companion into XScreenSaver's settings, and
// XScreenSaver itself, on a private X server with a home of its own, still runs the mode the
// user chose, and runs the companion when asked: the screen shows a picture of the list.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "CompanionFixture.h"
#include "EnvOverride.h"
#include "Process.h"
#include "ScreensaverInstaller.h"
#include "XvfbServer.h"

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kXScreenSaver = "/usr/bin/xscreensaver";
constexpr const char* kXScreenSaverCommand = "/usr/bin/xscreensaver-command";
// XScreenSaver runs no display mode as root; as root the test runs it as this user.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

void ChownTree(const fs::path& top, uid_t uid, gid_t gid) {
    ::lchown(top.c_str(), uid, gid);
    for (const auto& e : fs::recursive_directory_iterator(top)) ::lchown(e.path().c_str(), uid, gid);
}

// Runs a command to its end; its exit code, or -1 when it did not end within timeoutMs.
int RunToEnd(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env, const std::string& log, int timeoutMs = 5000) {
    Process p(program, args, env, log);
    if (!p.started() || !p.waitFinished(timeoutMs)) return -1;
    return p.exitCode();
}

// Whether a process of that name (as the kernel keeps it, up to 15 bytes) runs.
// Whether a process of that name runs on the given X display (other tests running at the
// same time start screen savers of their own, on displays of their own).
bool ProcessRuns(const std::string& name, const std::string& display) {
    const std::string wanted = "DISPLAY=" + display;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string pid = e.path().filename();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream comm(e.path() / "comm");
        std::string running;
        if (!std::getline(comm, running) || running != name) continue;
        std::ifstream environ(e.path() / "environ");
        // XScreenSaver hands its modes the display with the screen number (":5.0").
        for (std::string variable; std::getline(environ, variable, '\0');)
            if (variable == wanted || variable.rfind(wanted + ".", 0) == 0) return true;
    }
    return false;
}

TEST(XScreenSaverTest, TheChosenModeStillRunsAndTheCompanionShowsAListPicture) {
    if (::access(kXScreenSaver, X_OK) != 0 || ::access(kXScreenSaverCommand, X_OK) != 0)
        GTEST_SKIP() << "XScreenSaver is not installed (Debian package xscreensaver)";
    XvfbServer xvfb(320, 240);
    if (!xvfb.ok()) GTEST_SKIP() << xvfb.reason();

    CompanionHome home;
    std::size_t companionNumber = 0;
    const bool asRoot = ::geteuid() == 0;
    // The settings xscreensaver-settings 6.06 wrote when "Only One Screen Saver" with
    // Marbling was chosen (tests/prefs/fixtures).
    const std::string written =
        ReadFile(std::string(std::getenv("KALIDROME_SOURCE_DIR")) + "/tests/prefs/fixtures/xscreensaver-6.06-mode-one.xscreensaver");
    WriteFile(home.home + "/.xscreensaver", written);
    home.writeList({home.picture("red.bmp", kRed, 40, 30)});
    home.writeSettings("ScreenSaverInterval=60\n");
    fs::copy_file(std::string(std::getenv("KALIDROME_BIN_DIR")) + "/System/KDScreensaver", home.system + "KDScreensaver");

    {
        EnvOverride envHome("HOME", home.home.c_str());
        EnvOverride envData("XDG_DATA_HOME", nullptr);
        const ScreensaverPaths paths = ScreensaverPaths::For(home.system);
        std::string reason;
        ASSERT_EQ(InstallScreensaver(paths, &reason), InstallResult::Installed) << reason;
        const std::string settings = ReadFile(paths.xscreensaverFile);
        EXPECT_EQ(settings, xscreensaver::AddProgram(written, paths.destination)) << "one entry more, nothing else";
        const std::vector<std::string> listed = xscreensaver::ListedPrograms(settings);
        ASSERT_EQ(listed.back(), paths.destination);
        companionNumber = listed.size();  // xscreensaver-command counts from 1
    }
    if (asRoot) {
        ::chmod(home.home.c_str(), 0755);
        ChownTree(home.home, kNobody, kNoGroup);
    }

    auto env = home.environment(xvfb.display());
    env["SHELL"] = "/bin/sh";
    env["PATH"] = "/usr/bin:/bin";
    const std::string log = home.dir.file("xscreensaver.log");
    std::unique_ptr<Process> daemon;
    if (asRoot) {
        daemon = std::make_unique<Process>(
            "/usr/bin/setpriv",
            std::vector<std::string>{"--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNoGroup),
                                     "--clear-groups", kXScreenSaver, "-no-splash", "-verbose"},
            env, log);
    } else {
        daemon = std::make_unique<Process>(kXScreenSaver, std::vector<std::string>{"-no-splash", "-verbose"}, env, log);
    }
    ASSERT_TRUE(daemon->started());

    // Once the daemon answers, blank the screen: it runs the chosen mode, Marbling, not the
    // mode after it (which an entry put first would make of it) and not the companion.
    const std::string commandLog = home.dir.file("command.log");
    ASSERT_TRUE(WaitFor([&] { return RunToEnd(kXScreenSaverCommand, {"-activate"}, env, commandLog) == 0; }, 15000))
        << ReadFile(log) << ReadFile(commandLog);
    EXPECT_TRUE(WaitFor([&] { return ProcessRuns("marbling", xvfb.display()); }, 20000)) << ReadFile(log);
    EXPECT_FALSE(ProcessRuns("binaryhorizon", xvfb.display()));
    EXPECT_FALSE(ProcessRuns("KDScreensaver", xvfb.display()));

    // Asked for by its number, the companion runs.
    ASSERT_EQ(RunToEnd(kXScreenSaverCommand, {"-select", std::to_string(companionNumber)}, env, commandLog), 0)
        << ReadFile(commandLog);
    XClient x(xvfb.display());
    ASSERT_NE(x.get(), nullptr);
    const bool shown = WaitFor([&] { return Near(x.pixel(x.root(), 160, 120), kRed, 2); }, 20000);
    EXPECT_TRUE(shown) << "the screen shows " << Describe(x.pixel(x.root(), 160, 120)) << "\n" << ReadFile(log);
    // Centred on black, as the wallpaper would be.
    EXPECT_EQ(Describe(x.pixel(x.root(), 5, 5)), Describe(kBlack));

    daemon->signal(SIGTERM);
    EXPECT_TRUE(daemon->waitFinished(5000));
}

}  // namespace
}  // namespace kalidrome::test
