#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "IniFile.h"
#include "Options.h"
#include "WallpaperList.h"

namespace kalidrome {

// Raised when Interval holds text that is not an integer.
class IntervalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Interval's strict conversion: an optional sign and decimal digits, or "$"/"0x"
// hexadecimal, nothing else (no blanks). Throws IntervalError "'<text>' is not a valid
// integer value".
std::int32_t ConvertInterval(const std::string& text);

// The main window's options and the two operations that tie them to the list: loading
// the options with a list file, and saving the list with the current position.
// What the options change elsewhere (check marks, tray icon, timers, title, count line)
// reaches the main window through the hooks.
class OptionState {
public:
    static constexpr std::int32_t kFallbackInterval = 600;

    struct Hooks {
        std::function<void(bool)> disableCyclingChanged;  // check mark and the cycle timer
        std::function<void(bool)> showTrayChanged;        // check mark and the tray icon
        std::function<void(std::int32_t)> intervalAssigned;  // Countdown := Interval
        // After the load: starts the start-up timer when its rule says so.
        std::function<void(bool disableCycling)> optionsLoaded;
        std::function<void()> listLoaded;                  // the count line (occasion Loaded)
        std::function<std::string()> title;
        std::function<void(const std::string&)> setTitle;  // shown at once
        std::function<std::string(std::string_view)> translate;  // section "MainForm"
    };

    OptionState(IniFile& settings, WallpaperList& list, Hooks hooks);

    const Options& options() const { return m_options; }
    Options& options() { return m_options; }

    // Each changes the field and what shows it; the first three also write the key.
    void SetDisableCycling(bool value);
    void SetShowTray(bool value);
    void SetGreyScale(bool value);
    void SetRandom(bool value) { m_options.Random = value; }
    void SetStretchLarger(bool value) { m_options.StretchLarger = value; }
    void SetStretchSmaller(bool value) { m_options.StretchSmaller = value; }
    void AssignInterval(std::int32_t seconds);

    // Reads every option, then replaces the list by the list file at path (when it
    // exists) and records it as List. Neither a bad Interval (which falls back to 600)
    // nor a Settings.ini that cannot be written stops the load: the rest loads and the
    // first such error (IntervalError, IniWriteError) is thrown at the end. A list file
    // the reader rejects keeps the entries read before the damage, leaves List as it was
    // and throws ListFileError.
    void LoadSettingsAndList(const std::string& path);

    // Writes CurrIndex, then saves the list to path when its folder exists and records
    // List := path; a failed save records List := "" instead. Never shows a message;
    // throws only when Settings.ini itself cannot be written.
    void SaveList(const std::string& path);

private:
    IniFile& m_settings;
    WallpaperList& m_list;
    Hooks m_hooks;
    Options m_options;
};

}  // namespace kalidrome
