#include "EnvOverride.h"
#include "IniRegistry.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace kalidrome::test {
namespace {

using platform::IniRegistry;

TEST(IniRegistry, DefaultPathFollowsXdgConfigHome) {
    TempDir dir;
    {
        EnvOverride xdg("XDG_CONFIG_HOME", dir.path().c_str());
        EXPECT_EQ(IniRegistry::DefaultPath(), dir.path() + "/kalidrome/registry.ini");
    }
    {
        EnvOverride xdg("XDG_CONFIG_HOME", nullptr);
        EnvOverride home("HOME", "/home/someone");
        EXPECT_EQ(IniRegistry::DefaultPath(), "/home/someone/.config/kalidrome/registry.ini");
    }
    {
        EnvOverride xdg("XDG_CONFIG_HOME", "relative/path");  // not absolute: ignored
        EnvOverride home("HOME", "/home/someone");
        EXPECT_EQ(IniRegistry::DefaultPath(), "/home/someone/.config/kalidrome/registry.ini");
    }
}

TEST(IniRegistry, KeysAreSectionsAndValuesAreTextLines) {
    TempDir dir;
    IniRegistry registry(dir.path() + "/kalidrome/registry.ini");  // folder made on first write
    EXPECT_FALSE(registry.valueExists(platform::kDesktopKey, platform::kWallpaperStyleValue));
    EXPECT_EQ(registry.readString(platform::kDesktopKey, platform::kWallpaperStyleValue), std::nullopt);

    registry.writeString(platform::kDesktopKey, platform::kWallpaperStyleValue, platform::kWallpaperStyleStretched);
    registry.writeString(platform::kProgramKey, platform::kSystemPathValue, "/opt/kalidrome/System/");
    EXPECT_EQ(registry.readString("control panel\\DESKTOP", "wallpaperstyle"), "2");
    EXPECT_TRUE(registry.valueExists(platform::kProgramKey, platform::kSystemPathValue));

    const std::string text = ReadFile(registry.path());
    EXPECT_NE(text.find("[Control Panel\\Desktop]"), std::string::npos) << text;
    EXPECT_NE(text.find("WallpaperStyle=2"), std::string::npos) << text;
    EXPECT_NE(text.find("SystemPath=/opt/kalidrome/System/"), std::string::npos) << text;

    // Another handle (the screen saver's) sees the same values.
    EXPECT_EQ(IniRegistry(registry.path()).readString(platform::kProgramKey, platform::kSystemPathValue),
              "/opt/kalidrome/System/");

    registry.deleteValue(platform::kDesktopKey, platform::kWallpaperStyleValue);
    EXPECT_FALSE(registry.valueExists(platform::kDesktopKey, platform::kWallpaperStyleValue));
    EXPECT_TRUE(registry.valueExists(platform::kProgramKey, platform::kSystemPathValue));
}

TEST(IniRegistry, WriteThatCannotReachTheFileThrows) {
    TempDir dir;
    WriteFile(dir.file("plain"), "a file where the folder should be");
    IniRegistry registry(dir.file("plain") + "/kalidrome/registry.ini");
    EXPECT_ANY_THROW(registry.writeString(platform::kDesktopKey, platform::kWallpaperStyleValue, "0"));
    EXPECT_FALSE(registry.valueExists(platform::kDesktopKey, platform::kWallpaperStyleValue));
    EXPECT_NO_THROW(registry.deleteValue(platform::kDesktopKey, platform::kWallpaperStyleValue));
}

}  // namespace
}  // namespace kalidrome::test
