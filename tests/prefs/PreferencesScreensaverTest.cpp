// The Screensaver page's button: installing and removing the companion screen saver.

#include <filesystem>

#include "ApplyLanguage.h"
#include "PrefsFixture.h"
#include "ScreensaverInstaller.h"

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;

class PreferencesScreensaverTest : public PrefsFixture {
protected:
    PreferencesScreensaverTest() {
        WriteFile(system + "KDScreensaver", "#!/bin/sh\n");
        // XScreenSaver, as far as the installer looks: its daemon on PATH.
        std::filesystem::create_directories(dir.file("bin"));
        WriteFile(dir.file("bin/xscreensaver"), "#!/bin/sh\n");
        std::filesystem::permissions(dir.file("bin/xscreensaver"), std::filesystem::perms::owner_all);
    }

    ScreensaverPaths paths() const { return ScreensaverPaths::For(system); }
    std::string label() const { return child<QLabel>("lblScreenSaver1")->text().toStdString(); }
    std::string caption() const { return button("btnCreateScreensaver1")->text().toStdString(); }
    void press() { button("btnCreateScreensaver1")->click(); }

    EnvOverride path{"PATH", dir.file("bin").c_str()};
};

constexpr const char* kCreateLabel = "Click here to create a new screensaver which cycles through your pictures.";
constexpr const char* kDeleteLabel = "Click here to delete the Kalidrome screensaver.";

TEST_F(PreferencesScreensaverTest, PressingTwiceInstallsThenRemovesAndTheTextsFollow) {
    open();
    EXPECT_EQ(label(), kCreateLabel);
    EXPECT_EQ(caption(), "&Create Screensaver");

    press();
    EXPECT_TRUE(ScreensaverInstalled(paths()));
    EXPECT_EQ(label(), kDeleteLabel);
    EXPECT_EQ(caption(), "&Delete Screensaver");
    ASSERT_EQ(informed.size(), 1u);
    EXPECT_EQ(informed[0], "To enable Kalidrome's Screensaver, open XScreenSaver's settings (xscreensaver-settings)\n"
                           "and choose KDScreensaver from the list.");

    press();
    EXPECT_FALSE(ScreensaverInstalled(paths()));
    EXPECT_EQ(label(), kCreateLabel);
    EXPECT_EQ(caption(), "&Create Screensaver");
    EXPECT_EQ(informed.size(), 1u) << "removing says nothing";
    EXPECT_TRUE(errors.empty());
}

TEST_F(PreferencesScreensaverTest, OpeningWhileInstalledOffersRemovalInTheCurrentLanguage) {
    ASSERT_EQ(InstallScreensaver(paths()), InstallResult::Installed);
    WriteFile(system + "Deutsch.lng", std::string("[WordList#PrefForm]\n&Delete Screensaver=Bildschirmschoner "
                                                  "&l\xC3\xB6schen\n") +
                                          kDeleteLabel + "=Hier klicken, um den Bildschirmschoner zu l\xC3\xB6schen.\n");
    open();
    CaptionWalk walk(system + "Deutsch.lng", "PrefForm");
    WalkPreferencesForm(walk, *dialog);
    EXPECT_EQ(caption(), "Bildschirmschoner &l\xC3\xB6schen");
    EXPECT_EQ(label(), "Hier klicken, um den Bildschirmschoner zu l\xC3\xB6schen.");
}

TEST_F(PreferencesScreensaverTest, WithoutTheSourceAnInstalledCopyIsStillRemoved) {
    ASSERT_EQ(InstallScreensaver(paths()), InstallResult::Installed);
    fs::remove(system + "KDScreensaver");
    open();
    press();
    EXPECT_FALSE(ScreensaverInstalled(paths()));
    EXPECT_TRUE(errors.empty());

    press();  // nothing to install from now
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Could not create the Screensaver. Please reinstall Kalidrome.");
    EXPECT_TRUE(informed.empty());
    EXPECT_EQ(caption(), "&Create Screensaver");
}

TEST_F(PreferencesScreensaverTest, AFailedCopyIsAnErrorNotASuccess) {
    fs::create_directories(dir.file("home/.local/share"));
    WriteFile(dir.file("home/.local/share/kalidrome-screensaver"), "in the way");
    open();
    press();
    ASSERT_EQ(errors.size(), 1u);
    // The folder that could not be made, and why.
    EXPECT_EQ(errors[0].rfind("Could not create the Screensaver:\n" + dir.file("home/.local/share/kalidrome-screensaver") +
                                  ": ",
                              0),
              0u)
        << errors[0];
    EXPECT_TRUE(informed.empty());
    EXPECT_EQ(label(), kCreateLabel);
    EXPECT_EQ(caption(), "&Create Screensaver");
}

TEST_F(PreferencesScreensaverTest, WithoutXScreenSaverNothingIsInstalledAndThePackageIsNamed) {
    std::filesystem::remove(dir.file("bin/xscreensaver"));
    open();
    press();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0],
              "XScreenSaver is not installed. Please install the package xscreensaver, then create the Screensaver again.");
    EXPECT_FALSE(ScreensaverInstalled(paths()));
    EXPECT_EQ(caption(), "&Create Screensaver");
}

TEST_F(PreferencesScreensaverTest, ARemovalThatCannotBeDoneIsTold) {
    ASSERT_EQ(InstallScreensaver(paths()), InstallResult::Installed);
    const std::string settingsFile = paths().xscreensaverFile;
    std::filesystem::permissions(settingsFile, std::filesystem::perms::owner_read);
    open();
    press();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Could not delete the Screensaver:\n" + settingsFile + ": Permission denied");
    EXPECT_TRUE(ScreensaverInstalled(paths()));
    EXPECT_EQ(caption(), "&Delete Screensaver");
}

}  // namespace
}  // namespace kalidrome::test
