#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "IniFile.h"
#include "ListFileStamp.h"
#include "Options.h"
#include "WallpaperList.h"

namespace kalidrome {

// Raised when Interval holds text that is not an integer.
class IntervalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A list that could not be saved where it was meant to go (or that went elsewhere, so as
// not to replace a file changed by another program); what() tells the user where and why.
class ListSaveError : public std::runtime_error {
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

    // systemPath ends with "/": the home of Files.kdl, the list file of a new install.
    OptionState(IniFile& settings, WallpaperList& list, std::string systemPath, Hooks hooks);

    const Options& options() const { return m_options; }
    IniFile& settingsFile() { return m_settings; }
    Options& options() { return m_options; }

    // Each changes the field and what shows it; the first three also write the key.
    void SetDisableCycling(bool value);
    void SetShowTray(bool value);
    void SetGreyScale(bool value);
    void SetRandom(bool value) { m_options.Random = value; }
    void SetStretchLarger(bool value) { m_options.StretchLarger = value; }
    void SetStretchSmaller(bool value) { m_options.StretchSmaller = value; }
    void AssignInterval(std::int32_t seconds);

    // Reads every option, then replaces the list by the list file at path and records it
    // as List. Neither a bad Interval (which falls back to 600) nor a Settings.ini that
    // cannot be written stops the load: the rest loads and the first such error
    // (IntervalError, IniWriteError) is thrown at the end. When nothing is at path the
    // list and List stay as they were.
    //
    // The file is read into a list of its own first, so nothing is lost to a file the
    // reader refuses; the ListFileError then thrown carries the reader's message and
    // what became of the file:
    //  - no entry read: the list and List stay as they were;
    //  - some entries read: they replace the list and the file becomes List, so that no
    //    other list file is overwritten with them;
    //  - either way, when the refused file is (or so becomes) List, it is set aside
    //    (SetAsideDamagedListFile) before any save could replace it, and the message
    //    names where it went. If it cannot be moved, it is left alone and List names a
    //    free name beside it instead;
    //  - a file that cannot be read at all (no permission, a pipe, a device, a folder) is
    //    never moved: when it is List, List names a free name beside it.
    // What the load writes to Settings.ini (the three options, List) is one rewrite.
    void LoadSettingsAndList(const std::string& path);

    // Writes CurrIndex, then saves the list to path when its folder exists and records
    // List := path.
    //  - A list file this run read or wrote, that has changed on disk since (another copy
    //    of the program, a sync tool), is left as it is: the list goes to the first free
    //    "<stem> (n).kdl" beside it, which becomes List, and ListSaveError says so.
    //  - A save that fails keeps List as it was (naming the intact file) and the list in
    //    memory, so the next save tries again; ListSaveError tells where and why (no
    //    space, read-only).
    // A Settings.ini that cannot be written gives IniWriteError, unless a ListSaveError is
    // due: then its message carries both.
    void SaveList(const std::string& path);

    // The list file in use: List, or Files.kdl in the System folder when the key is absent.
    std::string ListFilePath() const;
    // Where a save without a chosen file goes (closing the window): List when it names a
    // file in a folder; otherwise (whenAbsent stands in for a missing key; empty after a
    // failed save; a bare name) Files.kdl in the System folder, unless something is there
    // that this run did not write: then the first free "Files (n).kdl" beside it. So a new
    // install keeps its list from the first close on, and never over another list file.
    std::string ListFileForSave(const std::string& whenAbsent) const;

private:
    // A list file the reader refused and that a save would replace: set aside, or else
    // moved out of List's way. Returns what the user is told about it.
    std::string protectRefusedFile(const std::string& path, bool becomesList, bool unreadable);
    std::string translate(std::string_view text) const;
    // The stamp of a list file just read or written, to find out later changes by others.
    void remember(const std::string& path);
    // List := value. When Settings.ini cannot take it, the value is kept in memory and
    // used from then on (so a save never goes to a list file no longer in use), and the
    // IniWriteError is thrown.
    void recordList(const std::string& value);
    std::string listValue(const std::string& whenAbsent) const;

    IniFile& m_settings;
    WallpaperList& m_list;
    std::string m_systemPath;
    Hooks m_hooks;
    Options m_options;
    // Every list file this run has saved: a new install's Files.kdl may be saved again.
    std::set<std::string> m_written;
    std::optional<std::string> m_unwrittenList;
    // The last List value given to Settings.ini (in a batch, it may not reach the file).
    std::optional<std::string> m_recordedList;
    std::map<std::string, ListFileStamp> m_stamps;
};

}  // namespace kalidrome
