// Where the System folder lives: beside the executable when it can be written there,
// otherwise in the user's data folder, seeded from the installed data.
#include "SystemFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "EnvOverride.h"
#include "TempDir.h"

namespace {

using namespace kalidrome;
using kalidrome::test::EnvOverride;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;
namespace fs = std::filesystem;

// A prefix as cmake --install lays it out (or a build tree, or a portable copy): the
// executable's folder "prefix/bin", and a user data folder of its own.
class SystemFolderTest : public ::testing::Test {
protected:
    SystemFolderTest() : data(dir.file("data")), dataHome("XDG_DATA_HOME", data.c_str()) {
        fs::create_directories(bin());
    }
    ~SystemFolderTest() override {
        // Read-only folders would keep TempDir from removing the tree.
        for (const std::string& f : {bin(), bin() + "/System"})
            if (fs::exists(f)) fs::permissions(f, fs::perms::owner_all, fs::perm_options::add);
    }

    std::string bin() const { return dir.file("prefix/bin"); }
    std::string installed() const { return dir.file("prefix/share/kalidrome"); }
    std::string perUser() const { return data + "/kalidrome/System/"; }

    TempDir dir;
    std::string data;
    EnvOverride dataHome;
};

TEST_F(SystemFolderTest, ChoiceFollowsWhatCanBeWritten) {
    enum class Beside { Missing, Writable, ReadOnly, AFile };
    struct Case {
        const char* name;
        Beside beside;
        bool binReadOnly;
        bool installedData;
        bool perUser;
        const char* seed;  // "installed", "beside" or ""
    };
    const Case cases[] = {
        {"build tree: System beside, writable", Beside::Writable, false, false, false, ""},
        {"installed copy with a writable System beside it keeps using it", Beside::Writable, false, true, false, ""},
        {"portable copy without System yet: made beside", Beside::Missing, false, false, false, ""},
        {"System beside is read-only: per user, started from it", Beside::ReadOnly, false, false, true, "beside"},
        {"System beside is read-only, installed data there: per user from the installed data",
         Beside::ReadOnly, false, true, true, "installed"},
        {"installed copy (prefix/share/kalidrome), even in a folder we could write", Beside::Missing, false, true,
         true, "installed"},
        {"installed copy in a read-only bin folder", Beside::Missing, true, true, true, "installed"},
        {"read-only folder, no System, no installed data", Beside::Missing, true, false, true, ""},
        {"System is a file in a writable folder: beside, the first write tells", Beside::AFile, false, false, false,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::permissions(bin(), fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(bin() + "/System");
        fs::remove_all(dir.file("prefix/share"));
        if (c.beside == Beside::Writable || c.beside == Beside::ReadOnly) fs::create_directory(bin() + "/System");
        if (c.beside == Beside::AFile) WriteFile(bin() + "/System", "");
        if (c.beside == Beside::ReadOnly) fs::permissions(bin() + "/System", fs::perms(0555));
        if (c.installedData) fs::create_directories(installed());
        if (c.binReadOnly) fs::permissions(bin(), fs::perms(0555));

        const platform::SystemFolderChoice choice = platform::ChooseSystemFolder(bin());
        EXPECT_EQ(choice.perUser, c.perUser);
        EXPECT_EQ(choice.path, c.perUser ? perUser() : bin() + "/System/");
        const std::string seed = std::string(c.seed) == "installed" ? bin() + "/../share/kalidrome"
                                 : std::string(c.seed) == "beside"  ? bin() + "/System"
                                                                    : "";
        EXPECT_EQ(choice.seedFrom, seed);
        if (c.binReadOnly) fs::permissions(bin(), fs::perms::owner_all, fs::perm_options::add);
        if (c.beside == Beside::ReadOnly) fs::permissions(bin() + "/System", fs::perms::owner_all, fs::perm_options::add);
    }
}

TEST_F(SystemFolderTest, PerUserFolderComesFromXdgDataHomeOrHome) {
    struct Case {
        const char* name;
        const char* dataHome;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"XDG_DATA_HOME", "/srv/data", "/home/u", "/srv/data/kalidrome/System/"},
        {"XDG_DATA_HOME with a trailing slash", "/srv/data/", "/home/u", "/srv/data/kalidrome/System/"},
        {"relative XDG_DATA_HOME is ignored", "data", "/home/u", "/home/u/.local/share/kalidrome/System/"},
        {"unset XDG_DATA_HOME", nullptr, "/home/u", "/home/u/.local/share/kalidrome/System/"},
        {"neither", nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnvOverride d("XDG_DATA_HOME", c.dataHome);
        EnvOverride h("HOME", c.home);
        EXPECT_EQ(platform::PerUserSystemFolder(), c.expected);
    }
    // With no per-user folder to go to, a read-only copy stays beside its executable.
    EnvOverride d("XDG_DATA_HOME", nullptr);
    EnvOverride h("HOME", nullptr);
    fs::permissions(bin(), fs::perms(0555));
    const platform::SystemFolderChoice choice = platform::ChooseSystemFolder(bin());
    EXPECT_FALSE(choice.perUser);
    EXPECT_EQ(choice.path, bin() + "/System/");
}

// The first start fills the new folder from the installed data; later starts add what a
// newer install brought and keep what the user changed.
TEST_F(SystemFolderTest, SeedingCopiesWhatIsMissingAndKeepsTheUsersFiles) {
    fs::create_directories(installed() + "/Images");
    WriteFile(installed() + "/English.lng", "installed English");
    WriteFile(installed() + "/Images/Bottom.bmp", "bottom");
    fs::create_symlink("/etc/passwd", installed() + "/Link.lng");

    const platform::SystemFolderChoice choice = platform::ChooseSystemFolder(bin());
    ASSERT_TRUE(choice.perUser);
    ASSERT_TRUE(platform::PrepareSystemFolder(choice));
    EXPECT_EQ(ReadFile(perUser() + "English.lng"), "installed English");
    EXPECT_EQ(ReadFile(perUser() + "Images/Bottom.bmp"), "bottom");
    EXPECT_FALSE(fs::exists(fs::symlink_status(perUser() + "Link.lng"))) << "links are not followed";
    EXPECT_FALSE(fs::exists(bin() + "/System")) << "nothing is made beside an installed executable";

    WriteFile(perUser() + "English.lng", "the user's English");
    WriteFile(installed() + "/Deutsch.lng", "installed Deutsch");
    ASSERT_TRUE(platform::PrepareSystemFolder(platform::ChooseSystemFolder(bin())));
    EXPECT_EQ(ReadFile(perUser() + "English.lng"), "the user's English");
    EXPECT_EQ(ReadFile(perUser() + "Deutsch.lng"), "installed Deutsch");
}

// Installed to ~/.local: the data lands in ~/.local/share/kalidrome, and the per-user
// System folder inside it must not be copied into itself.
TEST_F(SystemFolderTest, SeedingSkipsTheSystemFolderInsideTheInstalledData) {
    fs::create_directories(installed() + "/Images");
    WriteFile(installed() + "/English.lng", "installed English");
    WriteFile(installed() + "/Images/Right.bmp", "right");
    EnvOverride local("XDG_DATA_HOME", dir.file("prefix/share").c_str());
    for (int start = 0; start < 2; ++start) {
        const platform::SystemFolderChoice choice = platform::ChooseSystemFolder(bin());
        ASSERT_EQ(choice.path, installed() + "/System/");
        ASSERT_TRUE(platform::PrepareSystemFolder(choice));
    }
    EXPECT_EQ(ReadFile(installed() + "/System/English.lng"), "installed English");
    EXPECT_EQ(ReadFile(installed() + "/System/Images/Right.bmp"), "right");
    EXPECT_FALSE(fs::exists(installed() + "/System/System"));
}

TEST_F(SystemFolderTest, PreparingReportsAFolderThatCannotBeMade) {
    WriteFile(dir.file("data"), "a file where the data folder should be");
    fs::create_directories(installed());
    const platform::SystemFolderChoice choice = platform::ChooseSystemFolder(bin());
    ASSERT_TRUE(choice.perUser);
    EXPECT_FALSE(platform::PrepareSystemFolder(choice));

    // Beside the executable only one level is made, as a portable copy always did.
    EXPECT_TRUE(platform::PrepareSystemFolder({bin() + "/System/", "", false, ""}));
    EXPECT_FALSE(platform::PrepareSystemFolder({bin() + "/no/such/System/", "", false, ""}));
}

}  // namespace

namespace {

// The companion screen saver of an installed copy lives in prefix/libexec/kalidrome; each
// user's System folder gets it, executable, and gets it again from another install.
TEST_F(SystemFolderTest, InstalledProgramsComeAlongAndAnotherInstallReplacesThem) {
    fs::create_directories(installed());
    const std::string programs = dir.file("prefix/libexec/kalidrome");
    fs::create_directories(programs);
    WriteFile(programs + "/KDScreensaver", "first");
    fs::permissions(programs + "/KDScreensaver", fs::perms(0755));

    const platform::SystemFolderChoice choice = platform::ChooseSystemFolder(bin());
    EXPECT_EQ(choice.programsFrom, bin() + "/../libexec/kalidrome");
    ASSERT_TRUE(platform::PrepareSystemFolder(choice));
    EXPECT_EQ(ReadFile(perUser() + "KDScreensaver"), "first");
    EXPECT_EQ(fs::status(perUser() + "KDScreensaver").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);

    // The same install again leaves the copy alone; another one replaces it, whole.
    const auto copied = fs::last_write_time(perUser() + "KDScreensaver");
    EXPECT_EQ(copied, fs::last_write_time(programs + "/KDScreensaver")) << "the copy takes the installed file's time";
    struct stat before {};
    ASSERT_EQ(::stat((perUser() + "KDScreensaver").c_str(), &before), 0);
    ASSERT_TRUE(platform::PrepareSystemFolder(choice));
    struct stat after {};
    ASSERT_EQ(::stat((perUser() + "KDScreensaver").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "not copied again";
    // Of the same size: the time alone tells, and an older build is another version too.
    WriteFile(programs + "/KDScreensaver", "other");
    fs::last_write_time(programs + "/KDScreensaver", copied - std::chrono::hours(24));
    ASSERT_TRUE(platform::PrepareSystemFolder(choice));
    EXPECT_EQ(ReadFile(perUser() + "KDScreensaver"), "other");
}

}  // namespace
