#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kalidrome::platform {

// Keys and values of the current user's registry that the program writes.
inline constexpr std::string_view kProgramKey = "Software\\Kalidrome";
inline constexpr std::string_view kSystemPathValue = "SystemPath";
inline constexpr std::string_view kDesktopKey = "Control Panel\\Desktop";
inline constexpr std::string_view kWallpaperStyleValue = "WallpaperStyle";
inline constexpr std::string_view kWallpaperStyleStretched = "2";
inline constexpr std::string_view kWallpaperStyleCentred = "0";

// The few per-user string values the program publishes for other programs (the companion
// screen saver reads them). Key names compare without regard to letter case.
class Registry {
public:
    virtual ~Registry() = default;

    // Throws std::runtime_error when the value cannot be stored; callers that must not
    // fail catch it.
    virtual void writeString(std::string_view key, std::string_view name, std::string_view value) = 0;
    virtual std::optional<std::string> readString(std::string_view key, std::string_view name) const = 0;
    virtual void deleteValue(std::string_view key, std::string_view name) = 0;
    virtual bool valueExists(std::string_view key, std::string_view name) const = 0;
};

}  // namespace kalidrome::platform
