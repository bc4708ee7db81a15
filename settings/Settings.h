#pragma once

// Every file name, section, key and default of the program's settings, in one place.
// Defaults differ by the place that reads them: "at load" is what the main window
// uses (LoadSettingsAndList and creation), "in the dialog" what the preferences
// dialog shows when a key is absent.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kalidrome::settings {

inline constexpr std::string_view kSettingsFile = "Settings.ini";
inline constexpr std::string_view kStartupFile = "Startup.ini";
inline constexpr std::string_view kOneShotMarker = "DontStartup.kdf";
inline constexpr std::string_view kDefaultListFile = "Files.kdl";
inline constexpr std::string_view kWallpaperFile = "WallPaper.bmp";

inline constexpr std::string_view kOptions = "Options";
inline constexpr std::string_view kSettings = "Settings";
inline constexpr std::string_view kLanguages = "Languages";
inline constexpr std::string_view kDefiniteDate = "DefiniteDate";
// Where the user left the windows (app/WindowPlacement.h): "left,top,width,height" under the
// window's key, and its list's columns ("column:width" from left to right) under the key
// + "Columns".
inline constexpr std::string_view kWindow = "Window";
inline constexpr std::string_view kMainWindowPlace = "Main";        // Window, text (+ "Columns")
inline constexpr std::string_view kPreviewPlace = "Preview";        // Window, text

// Startup.ini: program entry writes the header as "StartUp"; every other write uses
// "Startup". Names compare without regard to case, so both are one section.
inline constexpr std::string_view kStartUpSection = "StartUp";
inline constexpr std::string_view kStartupSection = "Startup";
inline constexpr std::string_view kValue = "Value";
inline constexpr std::string_view kTickCount = "TickCount";
inline constexpr std::string_view kHandle = "Handle";
// The running instance's hand-off socket, so that a later start finds it whatever its own
// environment (XDG_RUNTIME_DIR) says.
inline constexpr std::string_view kSocket = "Socket";
inline constexpr std::string_view kClosedCorrectly = "ClosedCorrectly";

// A boolean key with its default at load and in the preferences dialog.
struct BoolKey {
    std::string_view section;
    std::string_view key;
    bool atLoad;
    bool inDialog;
};

inline constexpr BoolKey kDisableCycling{kOptions, "DisableCycling", false, false};
inline constexpr BoolKey kShowTray{kOptions, "ShowTray", true, true};
inline constexpr BoolKey kRandom{kOptions, "Random", true, true};
inline constexpr BoolKey kGreyScale{kOptions, "GreyScale", false, false};
inline constexpr BoolKey kStretchLarger{kOptions, "StretchLarger", true, true};
inline constexpr BoolKey kStretchSmaller{kOptions, "StretchSmaller", false, true};
inline constexpr BoolKey kShowImages{kOptions, "ShowImages", true, true};
inline constexpr BoolKey kSaveImage{kOptions, "SaveImage", true, false};
inline constexpr BoolKey kUseMask{kOptions, "UseMask", false, false};
inline constexpr BoolKey kCloseImmediately{kOptions, "CloseImmediately", false, false};
inline constexpr BoolKey kLowProfile{kOptions, "LowProfile", false, false};
// Beyond the one picture for all monitors: a picture of its own for each monitor, and with
// it portrait pictures for monitors taller than wide. Off by default.
inline constexpr BoolKey kPicturePerMonitor{kOptions, "PicturePerMonitor", false, false};
inline constexpr BoolKey kMatchOrientation{kOptions, "MatchOrientation", true, true};
inline constexpr BoolKey kDisableStartupCheck{kSettings, "DisableStartupCheck", false, false};

inline constexpr std::string_view kInterval = "Interval";                 // Options, text
inline constexpr std::string_view kIntervalDefault = "600";
inline constexpr std::string_view kScreenSaverInterval = "ScreenSaverInterval";  // Options, text
inline constexpr std::string_view kScreenSaverIntervalDefault = "20";
inline constexpr std::string_view kRes1 = "Res1";                         // Options, int 0..3
inline constexpr std::string_view kRes2 = "Res2";
inline constexpr std::int32_t kResDefault = 1;
inline constexpr std::string_view kCurrIndex = "CurrIndex";               // Options, int
inline constexpr std::string_view kList = "List";                         // Options, text path
inline constexpr std::string_view kBrowsePath = "BrowsePath";             // Settings, text
inline constexpr std::string_view kCurrLanguage = "CurrLanguage";         // Languages, text
inline constexpr std::string_view kCurrLanguageDefault = "english";

struct ScreenSize {
    std::int32_t width;
    std::int32_t height;
    friend bool operator==(const ScreenSize&, const ScreenSize&) = default;
};

// Row 2 is 1052 x 864, not 1152.
inline constexpr std::array<ScreenSize, 4> kResolutionTable{{
    {800, 600},
    {1024, 768},
    {1052, 864},
    {1280, 1024},
}};

// The row for a stored Res1/Res2 value; values outside 0..3 take the default row 1.
inline ScreenSize ResolutionRow(std::int32_t index) {
    if (index < 0 || index >= static_cast<std::int32_t>(kResolutionTable.size())) index = kResDefault;
    return kResolutionTable[static_cast<std::size_t>(index)];
}

}  // namespace kalidrome::settings
