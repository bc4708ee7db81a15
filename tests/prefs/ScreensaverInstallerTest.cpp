// Installing and removing the companion screen saver, and XScreenSaver's settings file.

#include "ScreensaverInstaller.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "EnvOverride.h"
#include "TempDir.h"

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
namespace xss = xscreensaver;

// How XScreenSaver's defaults file spells its list (shortened).
constexpr const char* kDefaultsFile =
    "*mode:\t\t\trandom\n"
    "*programs:\t\t\t\t\t\t\t\t      \\\n"
    "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n"
    "- GL: \t\t\t\tsuperquadrics --root\t\t\t    \\n\\\n"
    "\t\t\t\tqix --root\t\t\t\t    \\n\n"
    "*pointerHysteresis:\t10\n";

// A home folder, a System folder holding the companion, XScreenSaver's defaults.
class InstallerTest : public ::testing::Test {
protected:
    InstallerTest() {
        fs::create_directories(dir.file("System"));
        WriteFile(dir.file("System/KDScreensaver"), "#!/bin/sh\necho companion\n");
        WriteFile(dir.file("app-defaults"), kDefaultsFile);
        paths = ScreensaverPaths::For(dir.file("System"));
        paths.xscreensaverDefaults = dir.file("app-defaults");
    }

    bool Listed() const {
        return fs::exists(paths.xscreensaverFile) && xss::ListsProgram(ReadFile(paths.xscreensaverFile), paths.destination);
    }
    // Files in the destination's folder other than the destination.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        const fs::path folder = fs::path(paths.destination).parent_path();
        if (fs::exists(folder))
            for (const auto& e : fs::directory_iterator(folder))
                if (e.path() != paths.destination) names.push_back(e.path().filename());
        return names;
    }

    TempDir dir;
    EnvOverride home{"HOME", dir.file("home").c_str()};
    EnvOverride data{"XDG_DATA_HOME", nullptr};
    ScreensaverPaths paths;
};

TEST_F(InstallerTest, PathsArePerUser) {
    EXPECT_EQ(paths.source, dir.file("System/KDScreensaver"));
    EXPECT_EQ(paths.destination, dir.file("home/.local/share/kalidrome-screensaver/KDScreensaver"));
    EXPECT_EQ(paths.xscreensaverFile, dir.file("home/.xscreensaver"));
    EnvOverride xdg("XDG_DATA_HOME", dir.file("data").c_str());
    EXPECT_EQ(ScreensaverPaths::For(dir.file("System/")).destination, dir.file("data/kalidrome-screensaver/KDScreensaver"));
    EnvOverride relative("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(ScreensaverPaths::For(dir.file("System/")).destination, paths.destination);
}

TEST_F(InstallerTest, InstallInstallAgainRemoveAndRemoveWithoutSource) {
    enum class Step { Install, Remove, ChangeSource, DeleteSource };
    const struct {
        const char* name;
        Step step;
        InstallResult result;  // for Install
        bool installed;
    } steps[] = {
        {"install", Step::Install, InstallResult::Installed, true},
        {"a newer companion", Step::ChangeSource, {}, true},
        {"install again replaces the copy", Step::Install, InstallResult::Installed, true},
        {"remove", Step::Remove, {}, false},
        {"install once more", Step::Install, InstallResult::Installed, true},
        {"the source goes", Step::DeleteSource, {}, true},
        {"install without a source", Step::Install, InstallResult::SourceMissing, true},
        {"remove without a source", Step::Remove, {}, false},
        {"install without a source, not installed", Step::Install, InstallResult::SourceMissing, false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        const std::string before = fs::exists(paths.destination) ? ReadFile(paths.destination) : "";
        switch (s.step) {
            case Step::Install: EXPECT_EQ(InstallScreensaver(paths), s.result); break;
            case Step::Remove: EXPECT_TRUE(RemoveScreensaver(paths)); break;
            case Step::ChangeSource: WriteFile(paths.source, "#!/bin/sh\necho newer\n"); break;
            case Step::DeleteSource: fs::remove(paths.source); break;
        }
        EXPECT_EQ(ScreensaverInstalled(paths), s.installed);
        EXPECT_EQ(Listed(), s.installed);
        EXPECT_TRUE(Leftovers().empty()) << Leftovers().front();
        if (!s.installed) continue;
        if (s.step == Step::Install && s.result == InstallResult::Installed) {
            EXPECT_EQ(ReadFile(paths.destination), ReadFile(paths.source));
            EXPECT_EQ(fs::status(paths.destination).permissions() & fs::perms::all,
                      fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                          fs::perms::others_exec);
        } else {
            EXPECT_EQ(ReadFile(paths.destination), before) << "the installed copy is left as it was";
        }
        // Listed once, however often it was installed.
        const std::string settings = ReadFile(paths.xscreensaverFile);
        const std::size_t first = settings.find(paths.destination);
        ASSERT_NE(first, std::string::npos);
        EXPECT_EQ(settings.find(paths.destination, first + 1), std::string::npos) << settings;
    }
    EXPECT_FALSE(fs::exists(paths.xscreensaverFile)) << "the settings file installing made went again";
}

TEST_F(InstallerTest, TheUsersSettingsAreKeptByteForByte) {
    const std::string command = paths.destination;
    const struct {
        const char* name;
        std::string before;
        std::string restored = {};  // when not before itself
    } cases[] = {
        {"as XScreenSaver writes it",
         "# XScreenSaver Preferences File\n# Written by xscreensaver-settings 6.06.\n\ntimeout:\t0:10:00\n"
         "mode:\t\trandom\nprograms:\t\t\t\t\t\t\t\t      \\\n\t\t\t\tmaze --root\t\t\t\t    \\n\\\n"
         "-\t\t\t\tqix --root\t\t\t\t    \\n\\\n\t\t\t\tfiberlamp --root\t\t\t    \\n\n\n"
         "pointerHysteresis:\t10\n"},
        {"no programs entry", "timeout:\t0:05:00\nlock:\t\tFalse\n"},
        // A new entry starts on a line of its own; the line break given to the last line stays.
        {"no programs entry, no last line break", "timeout:\t0:05:00", "timeout:\t0:05:00\n"},
        {"one-line entry, no last line break", "programs:\tmaze -root"},
        {"a command on the entry's first line", "programs:\tmaze -root \\n\\\n\tqix -root\nfade:\tFalse\n"},
        {"a single command", "programs:\tmaze -root\n"},
        {"an empty entry", "programs:\nfade:\tFalse\n"},
        {"Windows line ends", "timeout:\t0:10:00\r\nprograms:\t\\\r\n\tmaze -root \\n\\\r\n\tqix -root\r\nfade:\tFalse\r\n"},
        {"an empty file", ""},
        {"a continued resource mentioning programs:", "comment:\tsee \\\nprograms: below\nprograms:\t\\\n\tmaze -root\n"},
    };
    const std::string defaults = xss::DefaultProgramLines(kDefaultsFile);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string after = xss::AddProgram(c.before, command, defaults);
        EXPECT_TRUE(xss::ListsProgram(after, command)) << after;
        EXPECT_FALSE(xss::ListsProgram(c.before, command));
        EXPECT_EQ(xss::AddProgram(after, command, defaults), after) << "listed once";
        EXPECT_EQ(xss::RemoveProgram(after, command, defaults), c.restored.empty() ? c.before : c.restored) << after;
        // The new line is the only one added, apart from a new entry's head and defaults.
        EXPECT_EQ(after.find(c.before.substr(0, c.before.find("programs:"))), 0u);
    }
}

TEST_F(InstallerTest, HandEditedEntriesLoseOnlyOurCommand) {
    const std::string ours = "/home/u/ss/KDScreensaver";
    const struct {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"ours moved onto the head line", "programs:\t\"KD\" /home/u/ss/KDScreensaver --root \\n\\\n\tmaze -root\n",
         "programs:\t\t\\\n\tmaze -root\n"},
        {"ours alone on the head line", "programs: /home/u/ss/KDScreensaver\nfade: False\n", "programs:\nfade: False\n"},
        {"blanks before the colon", "programs :\t\\\n\t/home/u/ss/KDScreensaver --root \\n\\\n\tqix -root\n",
         "programs :\t\\\n\tqix -root\n"},
        {"turned off, with a visual", "programs:\t\\\n- GL: \"KD\" /home/u/ss/KDScreensaver -root \\n\\\n\tqix -root\n",
         "programs:\t\\\n\tqix -root\n"},
        {"two commands on one line, ours first",
         "programs:\t\\\n\t\"KD\" /home/u/ss/KDScreensaver --root \\n qix -root \\n\\\n\tmaze -root\n",
         "programs:\t\\\n\tqix -root \\n\\\n\tmaze -root\n"},
        {"two commands on one line, ours last", "programs:\tqix -root \\n /home/u/ss/KDScreensaver --root\nfade: 0\n",
         "programs:\tqix -root \\n\nfade: 0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(xss::ListsProgram(c.before, ours));
        EXPECT_EQ(xss::AddProgram(c.before, ours), c.before) << "listed already";
        const std::string removed = xss::RemoveProgram(c.before, ours);
        EXPECT_EQ(removed, c.after);
        EXPECT_FALSE(xss::ListsProgram(removed, ours));
    }
}

TEST_F(InstallerTest, ANewProgramsEntryKeepsXScreenSaversOwnModes) {
    const std::string defaults = xss::DefaultProgramLines(kDefaultsFile);
    EXPECT_EQ(defaults,
              "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n- GL: \t\t\t\tsuperquadrics --root\t\t\t    \\n\\\n"
              "\t\t\t\tqix --root\t\t\t\t    \\n\n");
    const std::string after = xss::AddProgram("lock:\tFalse\n", "/home/u/ss/KDScreensaver", defaults);
    EXPECT_EQ(after, "lock:\tFalse\nprograms:\t\t\\\n\t\t\"KDScreensaver\"\t/home/u/ss/KDScreensaver --root\t\t\\n\\\n" +
                         defaults);
    EXPECT_EQ(xss::DefaultProgramLines("*mode: random\n"), "");
}

TEST_F(InstallerTest, PathsThatNeedQuotingAreQuoted) {
    const std::string odd = "/home/u/My Stuff/it's/KDScreensaver";
    const std::string line = xss::ProgramLine(odd);
    EXPECT_NE(line.find("'/home/u/My Stuff/it'\\''s/KDScreensaver' --root"), std::string::npos) << line;
    const std::string after = xss::AddProgram("", odd);
    EXPECT_TRUE(xss::ListsProgram(after, odd));
    EXPECT_FALSE(xss::ListsProgram(after, "/home/u/My"));
    EXPECT_EQ(xss::RemoveProgram(after, odd), "");
    EXPECT_THROW(xss::ProgramLine("/home/u/new\nline"), std::invalid_argument);
}

TEST_F(InstallerTest, AFailedInstallLeavesNothingThatCountsAsInstalled) {
    // The destination's folder cannot be made: a file is in its place.
    fs::create_directories(dir.file("home/.local/share"));
    WriteFile(dir.file("home/.local/share/kalidrome-screensaver"), "in the way");
    std::string reason;
    EXPECT_EQ(InstallScreensaver(paths, &reason), InstallResult::Failed);
    EXPECT_NE(reason, "");
    EXPECT_FALSE(ScreensaverInstalled(paths));
    EXPECT_FALSE(fs::exists(paths.xscreensaverFile));
    fs::remove(dir.file("home/.local/share/kalidrome-screensaver"));

    // A FIFO where the settings are: refused at once, not waited on.
    ASSERT_EQ(::mkfifo(paths.xscreensaverFile.c_str(), 0600), 0);
    EXPECT_EQ(InstallScreensaver(paths), InstallResult::Failed);
    EXPECT_FALSE(ScreensaverInstalled(paths));
    fs::remove(paths.xscreensaverFile);

    // XScreenSaver's settings cannot be written: the copy just made goes again.
    fs::create_directories(paths.xscreensaverFile);
    EXPECT_EQ(InstallScreensaver(paths), InstallResult::Failed);
    EXPECT_FALSE(ScreensaverInstalled(paths));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(InstallerTest, ACopyCutShortNeverLandsAtTheDestination) {
    // A companion larger than the file-size limit of the process that copies it: the write
    // fails part-way, as on a full disk.
    WriteFile(paths.source, std::string(256 * 1024, 'x'));
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(InstallScreensaver(paths) == InstallResult::Failed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the install said it worked";
    EXPECT_FALSE(ScreensaverInstalled(paths));
    EXPECT_TRUE(Leftovers().empty()) << Leftovers().front();
    EXPECT_FALSE(Listed());
}

TEST_F(InstallerTest, AFifoAsTheCompanionIsRefusedAtOnce) {
    fs::remove(paths.source);
    ASSERT_EQ(::mkfifo(paths.source.c_str(), 0600), 0);
    std::string reason;
    EXPECT_EQ(InstallScreensaver(paths, &reason), InstallResult::Failed);
    EXPECT_NE(reason, "");
    EXPECT_FALSE(ScreensaverInstalled(paths));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(InstallerTest, WhatTheUserIsTold) {
    auto translate = [](std::string_view text) { return "T[" + std::string(text) + "]"; };
    const ScreensaverNotice done = InstallScreensaverAndTell(paths, translate);
    EXPECT_FALSE(done.isError);
    EXPECT_EQ(done.text, "T[To enable Kalidrome's Screensaver, go to Control Panel|Display ]\n"
                         "T[and choose KDScreensaver from the list.]");
    fs::remove(paths.source);
    const ScreensaverNotice missing = InstallScreensaverAndTell(paths, translate);
    EXPECT_TRUE(missing.isError);
    EXPECT_EQ(missing.text, "T[Could not create the Screensaver. Please reinstall Kalidrome.]");
}

}  // namespace
}  // namespace kalidrome::test
