// Installing and removing the companion screen saver, and XScreenSaver's settings file.

#include "ScreensaverInstaller.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
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
        paths.xscreensaverProgram = "/usr/bin/xscreensaver";  // only tested for being there
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
         "programs:\t\\\n\tmaze -root\n"},
        {"ours alone on the head line", "programs: /home/u/ss/KDScreensaver\nfade: False\n", "programs: \nfade: False\n"},
        {"turned off, with a visual", "programs:\t\\\n- GL: \"KD\" /home/u/ss/KDScreensaver -root \\n\\\n\tqix -root\n",
         "programs:\t\\\n\tqix -root\n"},
        {"two commands on one line, ours first",
         "programs:\t\\\n\t\"KD\" /home/u/ss/KDScreensaver --root \\n qix -root \\n\\\n\tmaze -root\n",
         "programs:\t\\\n\t qix -root \\n\\\n\tmaze -root\n"},
        {"two commands on one line, ours last", "programs:\tqix -root \\n /home/u/ss/KDScreensaver --root\nfade: 0\n",
         "programs:\tqix -root \nfade: 0\n"},
        {"listed twice", "programs:\t\\\n\t/home/u/ss/KDScreensaver \\n\\\n\tqix -root \\n\\\n\t/home/u/ss/KDScreensaver \\n\\\n\n",
         "programs:\t\\\n\tqix -root \\n\\\n\n"},
        // "\\<char>" is an escape in XScreenSaver's file: "\\/" reads as "/".
        {"an escaped character in the path", "programs:\t\\\n\t/home/u/ss\\/KDScreensaver \\n\\\n\tqix \\n\\\n\n",
         "programs:\t\\\n\tqix \\n\\\n\n"},
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
    // XScreenSaver's own modes first, in their order, so that "selected:" keeps its mode.
    const std::string after = xss::AddProgram("lock:\tFalse\nselected:\t1\n", "/home/u/ss/KDScreensaver", defaults);
    EXPECT_EQ(after, "lock:\tFalse\nselected:\t1\nprograms:\t\t\\\n" + defaults.substr(0, defaults.size() - 1) +
                         "\\\n\t\t\t\t/home/u/ss/KDScreensaver --root \\n\n");
    EXPECT_EQ(xss::ListedPrograms(after),
              (std::vector<std::string>{"maze", "superquadrics", "qix", "/home/u/ss/KDScreensaver"}));
    EXPECT_EQ(xss::DefaultProgramLines("*mode: random\n"), "");
}

TEST_F(InstallerTest, PathsThatNeedQuotingAreQuoted) {
    const std::string odd = "/home/u/My Stuff/it's/back\\slash/KDScreensaver";
    const std::string line = xss::ProgramLine(odd);
    // The shell's quoting, with each backslash doubled for XScreenSaver's file.
    EXPECT_NE(line.find("'/home/u/My Stuff/it'\\\\''s/back\\\\slash/KDScreensaver' --root"), std::string::npos) << line;
    const std::string after = xss::AddProgram("", odd);
    EXPECT_TRUE(xss::ListsProgram(after, odd)) << after;
    EXPECT_EQ(xss::ListedPrograms(after), std::vector<std::string>{odd});
    EXPECT_FALSE(xss::ListsProgram(after, "/home/u/My"));
    EXPECT_EQ(xss::RemoveProgram(after, odd), "programs:\n");
    EXPECT_THROW(xss::ProgramLine("/home/u/new\nline"), std::invalid_argument);
    // XScreenSaver's wrapping breaks a long entry at blanks, inside quotes too.
    const std::string wrapped = "programs:\t\\\n\t\t\t\t'/home/u/My   \\\n\t\t\t\t  Stuff/it'\\\\''s/back\\\\slash/"
                                "KDScreensaver' --root \\n\\\n\t\tqix \\n\\\n\n";
    EXPECT_TRUE(xss::ListsProgram(wrapped, odd));
    EXPECT_EQ(xss::RemoveProgram(wrapped, odd), "programs:\t\\\n\t\tqix \\n\\\n\n");
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
    EXPECT_EQ(done.text, "T[To enable Kalidrome's Screensaver, open XScreenSaver's settings (xscreensaver-settings)]\n"
                         "T[and choose KDScreensaver from the list.]");
    ASSERT_TRUE(RemoveScreensaver(paths));

    // Without XScreenSaver nothing is installed, and the user learns which package to add.
    ScreensaverPaths without = paths;
    without.xscreensaverProgram.clear();
    const ScreensaverNotice noDaemon = InstallScreensaverAndTell(without, translate);
    EXPECT_TRUE(noDaemon.isError);
    EXPECT_EQ(noDaemon.text, "T[XScreenSaver is not installed. Please install the package xscreensaver, then create the "
                             "Screensaver again.]");
    EXPECT_FALSE(ScreensaverInstalled(paths));
    EXPECT_FALSE(fs::exists(paths.xscreensaverFile));

    // A settings file without write permission: its name and the reason.
    WriteFile(paths.xscreensaverFile, "lock:\tFalse\n");
    ::chmod(paths.xscreensaverFile.c_str(), 0444);
    const ScreensaverNotice readOnly = InstallScreensaverAndTell(paths, translate);
    EXPECT_TRUE(readOnly.isError);
    EXPECT_EQ(readOnly.text, "T[Could not create the Screensaver:]\n" + paths.xscreensaverFile + ": Permission denied");
    EXPECT_FALSE(ScreensaverInstalled(paths));
    EXPECT_EQ(ReadFile(paths.xscreensaverFile), "lock:\tFalse\n");

    fs::remove(paths.source);
    const ScreensaverNotice missing = InstallScreensaverAndTell(paths, translate);
    EXPECT_TRUE(missing.isError);
    EXPECT_EQ(missing.text, "T[Could not create the Screensaver. Please reinstall Kalidrome.]");
}

TEST_F(InstallerTest, XScreenSaverIsFoundOnPath) {
    fs::create_directories(dir.file("bin"));
    WriteFile(dir.file("bin/xscreensaver"), "#!/bin/sh\n");
    fs::create_directories(dir.file("not-executable"));
    WriteFile(dir.file("not-executable/xscreensaver"), "");
    {
        EnvOverride path("PATH", ("relative:" + dir.file("not-executable") + ":" + dir.file("bin")).c_str());
        ::chmod(dir.file("bin/xscreensaver").c_str(), 0755);
        EXPECT_EQ(ScreensaverPaths::For(dir.file("System")).xscreensaverProgram, dir.file("bin/xscreensaver"));
    }
    EnvOverride path("PATH", dir.file("not-executable").c_str());
    EXPECT_EQ(ScreensaverPaths::For(dir.file("System")).xscreensaverProgram, "");
}

// The mode XScreenSaver runs in "Only One Screen Saver": the program of the entry that
// "selected:" names, in the file's list followed by the modes of XScreenSaver's defaults
// that the file does not list (as XScreenSaver completes the list when it starts).
std::string Chosen(const std::string& content, const std::string& defaultLines = {}) {
    std::vector<std::string> programs = xss::ListedPrograms(content);
    for (const std::string& d : xss::ListedPrograms("programs:\\\n" + defaultLines))
        if (std::find(programs.begin(), programs.end(), d) == programs.end()) programs.push_back(d);
    const std::optional<long> selected = xss::SelectedMode(content);
    if (!selected) return "<no selected:>";
    if (*selected < 0 || *selected >= static_cast<long>(programs.size())) return "<none: " + std::to_string(*selected) + ">";
    return programs[static_cast<std::size_t>(*selected)];
}

std::string Fixture(const std::string& name) {
    const char* source = std::getenv("KALIDROME_SOURCE_DIR");
    return ReadFile(std::string(source ? source : ".") + "/tests/prefs/fixtures/" + name);
}

// The files tests/prefs/fixtures/make-xscreensaver-fixtures.sh made with XScreenSaver 6.06.
TEST_F(InstallerTest, FilesXScreenSaverWroteKeepTheirChosenMode) {
    const std::string ours = "/home/kalidrome/.local/share/kalidrome-screensaver/KDScreensaver";
    const std::string written = Fixture("xscreensaver-6.06-mode-one.xscreensaver");
    const std::string rewritten = Fixture("xscreensaver-6.06-rewritten-after-install.xscreensaver");
    ASSERT_EQ(Chosen(written), "marbling");
    ASSERT_EQ(xss::SelectedMode(written), 243);
    ASSERT_EQ(xss::ListedPrograms(written).size(), 249u);

    // Installing adds one line after the last mode's and nothing else.
    const std::string lastMode = "- GL: \t\t\t\tsquirtorus --root\t\t\t    \\n\\\n";
    const std::size_t cut = written.find(lastMode) + lastMode.size();
    ASSERT_NE(written.find(lastMode), std::string::npos);
    const std::string installed = xss::AddProgram(written, ours);
    EXPECT_EQ(installed, written.substr(0, cut) + "\t\t\t\t" + ours + " --root \\n\\\n" + written.substr(cut));
    EXPECT_EQ(Chosen(installed), "marbling");
    EXPECT_EQ(xss::ListedPrograms(installed).back(), ours);
    EXPECT_EQ(xss::RemoveProgram(installed, ours), written);

    // XScreenSaver wrote it again: the entry now fills three lines, and the name is gone.
    const std::string wrappedEntry = "\t\t\t\t\t\t\t\t\t      \\\n\t\t\t\t  " + ours + "   \\\n\t\t\t\t  --root\t\t\t\t    \\n\\\n";
    const std::size_t at = rewritten.find(wrappedEntry);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(Chosen(rewritten), "marbling");
    EXPECT_TRUE(xss::ListsProgram(rewritten, ours));
    EXPECT_EQ(xss::AddProgram(rewritten, ours), rewritten);
    const std::string removed = xss::RemoveProgram(rewritten, ours);
    EXPECT_EQ(removed, rewritten.substr(0, at) + rewritten.substr(at + wrappedEntry.size()));
    EXPECT_EQ(Chosen(removed), "marbling");
    EXPECT_EQ(xss::ListedPrograms(removed), xss::ListedPrograms(written)) << "no mode \"--root\" is left";
    // And installing again goes on as often as the user likes.
    EXPECT_EQ(xss::RemoveProgram(xss::AddProgram(removed, ours), ours), removed);
}

TEST_F(InstallerTest, ShapesOfTheSettingsFile) {
    const std::string ours = "/home/u/ss/KDScreensaver";
    const std::string line = "\t\t\t\t/home/u/ss/KDScreensaver --root";
    const std::string defaults = xss::DefaultProgramLines(kDefaultsFile);
    const std::string three = "programs:\t\t\\\n\t\tmaze --root \\n\\\n\t\tqix --root \\n\\\n\t\tfiberlamp --root \\n\\\n\n";
    const std::string threeAfter =
        "programs:\t\t\\\n\t\tmaze --root \\n\\\n\t\tqix --root \\n\\\n\t\tfiberlamp --root \\n\\\n" + line + " \\n\\\n\n";
    const struct {
        const char* name;
        std::string before;
        std::string after;  // every byte of it
        std::string chosen;
    } cases[] = {
        {"mode one, the first mode chosen", "mode:\tone\nselected:\t0\n" + three, "mode:\tone\nselected:\t0\n" + threeAfter,
         "maze"},
        {"mode one, a middle mode chosen", "mode:\tone\nselected:\t1\n" + three, "mode:\tone\nselected:\t1\n" + threeAfter,
         "qix"},
        {"mode one, the last mode chosen", three + "mode:\tone\nselected:\t2\n", threeAfter + "mode:\tone\nselected:\t2\n",
         "fiberlamp"},
        // XScreenSaver puts the modes of its defaults that the file lacks behind the file's
        // list: the fourth mode is one of those, and moves one down behind ours.
        {"a mode from XScreenSaver's defaults chosen", "selected: 3\n" + three, "selected: 4\n" + threeAfter,
         "superquadrics"},
        {"none chosen", "selected:\t-1\n" + three, "selected:\t-1\n" + threeAfter, "<none: -1>"},
        {"two programs resources: XScreenSaver reads the last",
         "programs:\tmaze --root\nselected:\t0\n" + three, "programs:\tmaze --root\nselected:\t0\n" + threeAfter, "maze"},
        {"a continued comment hides a programs line", "# old: \\\nprograms: maze\n" + three + "selected: 1\n",
         "# old: \\\nprograms: maze\n" + threeAfter + "selected: 1\n", "qix"},
        {"the last mode without a separator", "selected: 1\nprograms:\tmaze --root \\n qix --root\nlock: False\n",
         "selected: 1\nprograms:\tmaze --root \\n qix --root\\n\\\n" + line + "\nlock: False\n", "qix"},
        {"the last mode's line not continued", "selected: 0\nprograms:\t\\\n\tmaze --root \\n\nlock: False\n",
         "selected: 0\nprograms:\t\\\n\tmaze --root \\n\\\n" + line + " \\n\nlock: False\n", "maze"},
        // An empty list is XScreenSaver's defaults, behind ours.
        {"an empty programs resource", "programs:\nselected:\t0\n", "programs:\\\n" + line + "\nselected:\t1\n", "maze"},
        {"no programs resource: XScreenSaver's defaults are written first", "mode: one\nselected: 2\n",
         "mode: one\nselected: 2\nprograms:\t\t\\\n" + defaults.substr(0, defaults.size() - 1) + "\\\n" + line + " \\n\n",
         "qix"},
        // XScreenSaver does not take "programs :" for programs.
        {"a blank before the colon", "programs :\tmaze\nselected: 0\n",
         "programs :\tmaze\nselected: 0\nprograms:\t\t\\\n" + defaults.substr(0, defaults.size() - 1) + "\\\n" + line +
             " \\n\n",
         "maze"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Chosen(c.before, defaults), c.chosen);
        const std::string after = xss::AddProgram(c.before, ours, defaults);
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(Chosen(after, defaults), c.chosen);
        EXPECT_EQ(xss::ListedPrograms(after).back(), ours);
        EXPECT_EQ(xss::RemoveProgram(after, ours, defaults), c.before);
    }
}

TEST_F(InstallerTest, RemovingKeepsTheChosenMode) {
    const std::string ours = "/home/u/ss/KDScreensaver";
    const std::string list = "programs:\t\t\\\n\t\tmaze \\n\\\n\t\t/home/u/ss/KDScreensaver \\n\\\n\t\tqix \\n\\\n\n";
    const std::string without = "programs:\t\t\\\n\t\tmaze \\n\\\n\t\tqix \\n\\\n\n";
    const struct {
        const char* selected;
        const char* after;
    } cases[] = {{"0", "0"}, {"2", "1"}, {"-1", "-1"}, {"7", "6"}, {"1", "-1"}};  // 1: ours, gone
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selected);
        EXPECT_EQ(xss::RemoveProgram("selected:\t" + std::string(c.selected) + "\n" + list, ours),
                  "selected:\t" + std::string(c.after) + "\n" + without);
    }
}

// ~/.xscreensaver as a symbolic link, one that leads nowhere yet, and a read-only file.
TEST_F(InstallerTest, TheSettingsFileOnDisk) {
    const std::string original = "mode:\tone\nselected:\t1\nprograms:\t\t\\\n\t\tmaze \\n\\\n\t\tqix \\n\\\n\n";
    fs::create_directories(dir.file("home"));
    fs::create_directories(dir.file("dotfiles"));
    const std::string target = dir.file("dotfiles/xscreensaver");
    auto isLink = [&] { return fs::is_symlink(fs::symlink_status(paths.xscreensaverFile)); };
    auto folderEntries = [](const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };

    SCOPED_TRACE("a link to the file");
    WriteFile(target, original);
    fs::create_symlink("../dotfiles/xscreensaver", paths.xscreensaverFile);
    ASSERT_EQ(InstallScreensaver(paths), InstallResult::Installed);
    EXPECT_TRUE(isLink());
    EXPECT_EQ(ReadFile(target), xss::AddProgram(original, paths.destination));
    EXPECT_EQ(Chosen(ReadFile(target)), "qix");
    EXPECT_EQ(folderEntries(dir.file("dotfiles")), std::vector<std::string>{"xscreensaver"}) << "written beside the target";
    ASSERT_TRUE(RemoveScreensaver(paths));
    EXPECT_TRUE(isLink());
    EXPECT_EQ(ReadFile(target), original);

    SCOPED_TRACE("a link that leads nowhere yet");
    fs::remove(target);
    ASSERT_EQ(InstallScreensaver(paths), InstallResult::Installed);
    EXPECT_TRUE(isLink());
    EXPECT_TRUE(xss::ListsProgram(ReadFile(target), paths.destination));
    ASSERT_TRUE(RemoveScreensaver(paths));
    EXPECT_TRUE(isLink()) << "the link stays, leading nowhere as before";
    EXPECT_FALSE(fs::exists(target));

    SCOPED_TRACE("a link in a loop");
    fs::remove(paths.xscreensaverFile);
    fs::create_symlink(".xscreensaver", paths.xscreensaverFile);
    std::string reason;
    EXPECT_EQ(InstallScreensaver(paths, &reason), InstallResult::Failed);
    EXPECT_NE(reason.find(paths.xscreensaverFile), std::string::npos) << reason;
    EXPECT_TRUE(isLink());
    EXPECT_FALSE(ScreensaverInstalled(paths));
    fs::remove(paths.xscreensaverFile);

    SCOPED_TRACE("read-only, at removal");
    WriteFile(paths.xscreensaverFile, original);
    ASSERT_EQ(InstallScreensaver(paths), InstallResult::Installed);
    const std::string listed = ReadFile(paths.xscreensaverFile);
    ::chmod(paths.xscreensaverFile.c_str(), 0444);
    reason.clear();
    EXPECT_FALSE(RemoveScreensaver(paths, &reason));
    EXPECT_EQ(reason, paths.xscreensaverFile + ": Permission denied");
    EXPECT_TRUE(ScreensaverInstalled(paths)) << "what XScreenSaver offers can still run";
    EXPECT_EQ(ReadFile(paths.xscreensaverFile), listed);
    const ScreensaverNotice told = RemoveScreensaverAndTell(paths, {});
    EXPECT_TRUE(told.isError);
    EXPECT_EQ(told.text, "Could not delete the Screensaver:\n" + paths.xscreensaverFile + ": Permission denied");
    ::chmod(paths.xscreensaverFile.c_str(), 0644);
    EXPECT_TRUE(RemoveScreensaver(paths));
    EXPECT_EQ(ReadFile(paths.xscreensaverFile), original);
}

}  // namespace
}  // namespace kalidrome::test
