#include "Process.h"
#include "RunCommand.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>

namespace kalidrome::test {
namespace {

using platform::Command;
using platform::CommandResult;
using platform::SystemCommandRunner;
using namespace std::chrono_literals;

CommandResult RunTool(std::vector<std::string> argv, std::chrono::milliseconds timeout = 5000ms,
                  std::vector<std::string> env = {}) {
    return SystemCommandRunner().run(Command{std::move(argv), timeout, std::move(env)});
}

TEST(RunCommand, CapturesBothStreamsAndTheExitStatus) {
    const CommandResult r = RunTool({"sh", "-c", "printf 'out put'; printf 'err' >&2; exit 3"});
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.standardOutput, "out put");
    EXPECT_EQ(r.standardError, "err");
    EXPECT_FALSE(r.succeeded());
}

TEST(RunCommand, PassesArgumentsUntouchedByAnyShell) {
    const CommandResult r = RunTool({"printf", "%s|", "a b", "$HOME", "'q'", "*"});
    ASSERT_TRUE(r.succeeded()) << r.standardError;
    EXPECT_EQ(r.standardOutput, "a b|$HOME|'q'|*|");
}

TEST(RunCommand, AddsAndReplacesEnvironmentEntries) {
    const CommandResult r = RunTool({"sh", "-c", "printf '%s,%s' \"$KALIDROME_T1\" \"$HOME\""}, 5000ms,
                                {"KALIDROME_T1=zero", "KALIDROME_T1=one", "HOME=/nowhere"});
    ASSERT_TRUE(r.succeeded()) << r.standardError;
    EXPECT_EQ(r.standardOutput, "one,/nowhere");
}

TEST(RunCommand, TimeOutKillsAHungProgramQuickly) {
    const auto start = std::chrono::steady_clock::now();
    const CommandResult r = RunTool({"sleep", "30"}, 200ms);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.succeeded());
    EXPECT_LT(took, 5s) << "a hung tool must not hold the caller";
    // A timed-out run is reaped: no child of ours is left behind, zombie or not.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(RunCommand, TimeOutAlsoEndsWhatTheProgramStarted) {
    // The shell leaves a grandchild holding the output pipe; the run must still end on time,
    // and the grandchild, in the tool's process group, goes with it.
    const CommandResult r = RunTool({"sh", "-c", "sleep 30 & echo $!; wait"}, 300ms);
    ASSERT_TRUE(r.timedOut);
    const pid_t grandchild = static_cast<pid_t>(std::stol(r.standardOutput));
    EXPECT_TRUE(WaitFor([&] { return kill(grandchild, 0) != 0; }, 5000));
}

TEST(RunCommand, ProgramThatLeavesAHelperBehindDoesNotWaitForIt) {
    // Like gsettings starting a D-Bus daemon on demand: the program exits at once, a
    // process it left keeps the pipes open for long.
    const auto start = std::chrono::steady_clock::now();
    const CommandResult r = RunTool({"sh", "-c", "(sleep 3 >&2 &) ; echo done"}, 10000ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.standardOutput, "done\n");
}

TEST(RunCommand, MissingProgramIsNotStartedAndSaysWhy) {
    const CommandResult r = RunTool({"kalidrome-no-such-tool", "x"});
    EXPECT_FALSE(r.started);
    EXPECT_FALSE(r.succeeded());
    EXPECT_NE(r.standardError.find("kalidrome-no-such-tool"), std::string::npos) << r.standardError;
    EXPECT_NE(r.standardError.find("No such file"), std::string::npos) << r.standardError;
    const CommandResult empty = RunTool({});
    EXPECT_FALSE(empty.started);
}

TEST(RunCommand, OutputIsBoundedAndTheProgramNotBlocked) {
    // 8 MB on each stream: read to the end (the program must not block on a full pipe), kept
    // only in part.
    const CommandResult r =
        RunTool({"sh", "-c", "head -c 8000000 /dev/zero; head -c 8000000 /dev/zero >&2; echo end"}, 20000ms);
    ASSERT_TRUE(r.succeeded()) << r.standardError.substr(0, 200);
    EXPECT_GT(r.standardOutput.size(), 1000u);
    EXPECT_LE(r.standardOutput.size(), 1024u * 1024u);
    EXPECT_LE(r.standardError.size(), 1024u * 1024u);
}

TEST(RunCommand, StandardInputIsEmpty) {
    // A tool that asks a question must not wait for an answer from our terminal.
    const CommandResult r = RunTool({"cat"}, 5000ms);
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.standardOutput, "");
}

TEST(RunCommand, DetachedProgramRunsUntilStopped) {
    auto& runner = SystemCommandRunner();
    const int pid = runner.startDetached(Command{{"sleep", "30"}, 1000ms, {}});
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), 0);
    runner.stop(pid);
    EXPECT_NE(kill(pid, 0), 0) << "stopped and reaped";
    EXPECT_EQ(runner.startDetached(Command{{"kalidrome-no-such-tool"}, 1000ms, {}}), -1);
}

TEST(RunCommand, StopEndsAProgramThatIgnoresTerm) {
    auto& runner = SystemCommandRunner();
    const int pid = runner.startDetached(Command{{"sh", "-c", "trap '' TERM; while :; do sleep 1; done"}, 1000ms, {}});
    ASSERT_GT(pid, 0);
    // Let the shell install its trap before it is asked to end.
    runner.run(Command{{"sleep", "0.2"}, 1000ms, {}});
    const auto start = std::chrono::steady_clock::now();
    runner.stop(pid);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(kill(pid, 0), 0);
}

struct FailureCase {
    const char* name;
    CommandResult result;
    const char* expected;
};

TEST(DescribeFailure, SaysWhatWentWrongOnOneLine) {
    auto result = [](bool started, bool timedOut, int exitCode, std::string err) {
        CommandResult r;
        r.started = started;
        r.timedOut = timedOut;
        r.exitCode = exitCode;
        r.standardError = std::move(err);
        return r;
    };
    const Command command{{"xfconf-query", "-c", "x"}, 5000ms, {}};
    const FailureCase cases[] = {
        {"success", result(true, false, 0, "warning"), ""},
        {"timed out", result(true, true, -1, ""), "xfconf-query did not answer within 5 s"},
        {"not started", result(false, false, -1, "cannot start xfconf-query: No such file or directory"),
         "cannot start xfconf-query: No such file or directory"},
        {"exit with error lines", result(true, false, 1, "Property \"/x\" does not exist\n\non channel\n"),
         "xfconf-query exited with status 1: Property \"/x\" does not exist on channel"},
        {"killed", result(true, false, -1, ""), "xfconf-query was ended by a signal"},
    };
    for (const FailureCase& c : cases) EXPECT_EQ(platform::DescribeFailure(command, c.result), c.expected) << c.name;
    const std::string longError(5000, 'e');
    EXPECT_LT(platform::DescribeFailure(command, result(true, false, 2, longError)).size(), 400u);
    EXPECT_EQ(platform::DescribeFailure(Command{{"t"}, 250ms, {}}, result(true, true, -1, "")),
              "t did not answer within 250 ms");
}

}  // namespace
}  // namespace kalidrome::test
