// Choosing a language in the real program on a private X server (no tray host, so the
// window shows at start): the context menu's "&Options" > "Set &Language" > "Deutsch"
// is reached with xdotool. The instance closes completely and one new instance starts,
// which runs on its own instead of handing its start back to the quitting one.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "IniFile.h"
#include "Process.h"
#include "TempDir.h"
#include "XvfbServer.h"

namespace {

using namespace kalidrome;
using kalidrome::test::Process;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WaitFor;
using kalidrome::test::WriteFile;

std::size_t Count(const std::string& text, const std::string& line) {
    std::size_t n = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

TEST(LanguageRestart, ChoosingALanguageStartsExactlyOneNewInstanceThatRunsOnItsOwn) {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdotool"})
        if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    test::XvfbServer xvfb(1024, 768);
    ASSERT_TRUE(xvfb.ok()) << xvfb.reason();

    TempDir dir;
    const char* bin = std::getenv("KALIDROME_BIN_DIR");
    const char* source = std::getenv("KALIDROME_SOURCE_DIR");
    ASSERT_TRUE(bin && source);
    std::filesystem::copy_file(std::string(bin) + "/kalidrome", dir.file("kalidrome"));
    const std::string system = dir.file("System/");
    std::filesystem::create_directory(system);
    for (const char* name : {"Deutsch.lng", "English.lng"})
        std::filesystem::copy_file(std::string(source) + "/data/System/" + name, system + name);
    WriteFile(system + "Settings.ini", "[Options]\nDisableCycling=1\nShowTray=1\n");

    const std::map<std::string, std::string> env{
        {"DISPLAY", xvfb.display()},           {"QT_QPA_PLATFORM", "xcb"},
        {"XDG_RUNTIME_DIR", dir.path()},       {"XDG_CONFIG_HOME", dir.file("config")},
        {"KALIDROME_TRACE", dir.file("trace")}, {"KALIDROME_NONINTERACTIVE", "1"},
    };
    auto trace = [&] { return ReadFile(dir.file("trace")); };
    const std::string display = "DISPLAY=" + xvfb.display() + " /usr/bin/xdotool ";
    auto xdotool = [&](const std::string& args) { return std::system((display + args).c_str()); };

    Process first(dir.file("kalidrome"), {}, env, dir.file("first.log"));
    ASSERT_TRUE(WaitFor([&] { return Count(trace(), "running\n") == 1 && Count(trace(), "shown\n") == 1; }, 15000))
        << trace() << ReadFile(dir.file("first.log"));

    // A right click in the window opens the context menu; "o" twice passes "L&oad
    // FileList..." to "&Options", Right opens it, "l" opens "Set &Language" on its
    // first entry, "Deutsch", which Return chooses.
    const std::string window = "$(" + display + "search --onlyvisible --class kalidrome | head -n 1)";
    // The program's windows on screen: the main window, then one more per open menu.
    auto windowsShown = [&] {
        std::FILE* out = ::popen((display + "search --onlyvisible --class kalidrome 2>/dev/null").c_str(), "r");
        if (!out) return 0;
        int lines = 0;
        for (int c; (c = std::fgetc(out)) != EOF;) lines += c == '\n';
        ::pclose(out);
        return lines;
    };
    ASSERT_EQ(windowsShown(), 1);
    ASSERT_EQ(xdotool("mousemove --window " + window + " 120 150 click 3"), 0);
    const struct {
        const char* key;
        int windows;  // shown before the key goes
    } keys[] = {{"o", 2}, {"o", 2}, {"Right", 2}, {"l", 3}, {"Return", 4}};
    for (const auto& k : keys) {
        ASSERT_TRUE(WaitFor([&] { return windowsShown() >= k.windows; }, 5000)) << "before " << k.key;
        ASSERT_EQ(xdotool(std::string("key ") + k.key), 0);
    }

    ASSERT_TRUE(first.waitFinished(10000)) << trace() << ReadFile(dir.file("first.log"));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_EQ(IniFile(system + "Settings.ini").readString("Languages", "CurrLanguage", ""), "deutsch");
    ASSERT_TRUE(WaitFor([&] { return Count(trace(), "running\n") == 2; }, 15000)) << trace();
    const std::string events = trace();
    // The old instance finished its whole close before the new one ran.
    const std::size_t exit = events.find("exit\n"), restarted = events.find("restarted\n");
    const std::size_t secondRun = events.rfind("running\n");
    EXPECT_LT(exit, restarted);
    EXPECT_LT(restarted, secondRun);
    EXPECT_EQ(Count(events, "request 3024"), 0u) << "the new start was not handed over";

    IniFile startup(system + "Startup.ini");
    const auto pid = static_cast<pid_t>(startup.readInteger("StartUp", "Handle", 0));
    EXPECT_NE(pid, first.pid());
    EXPECT_EQ(startup.readInteger("StartUp", "Value", 0), 1);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::kill(pid, 0), 0) << "the new instance runs";
    // One instance only: it is the one Startup.ini names, and it ends on request.
    ::kill(pid, SIGTERM);
    EXPECT_TRUE(WaitFor([&] { return ::kill(pid, 0) != 0; }, 10000));
    EXPECT_EQ(Count(trace(), "running\n"), 2u);
}

}  // namespace
