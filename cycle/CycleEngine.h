#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "MonitorPictures.h"
#include "Options.h"
#include "TListItemInfo.h"

namespace kalidrome {

class WallpaperList;

// Which list entry goes on the desktop next, and the notion of the current and the
// previous picture. Serves "&Cycle!" (CycleNow: the command, the interval countdown, the
// calendar rules and the one-shot run), "&Previous", "&Set as wallpaper" (main window and
// preview window), the list's double-click (ShowSelectedEntry) and "Delete current
// &wallpaper".
//
// Entries are held as EntryIds and looked up in the list at every use, so an entry
// removed while it is CurrentEntry or PreviousEntry simply reads as none; the list's
// removals need not tell the engine anything. A cycle writes nothing to Settings.ini: it
// moves Options::CurrIndex, which reaches the file when the list is saved.
//
// Observable state, for the main window's actions:
//   - CycleEnabled: the "&Cycle!" command's enabled state, doubling as the busy mark. It is
//     false exactly while CycleNow applies a picture (from the start of the change until
//     its applied() comes back), and a CycleNow that starts meanwhile does nothing. Nothing
//     else disables the command. (The "&Cycle!" button's own state belongs to the list view.)
//   - PreviousEnabled: the "&Previous" item's enabled state; false at start.
// Each change is reported through Hooks::cycleEnabledChanged / previousEnabledChanged.
//
// Wiring (the main window, at creation):
//   - list: the main window's WallpaperList; options: its Options (Random is read at
//     use; CurrIndex is read and written).
//   - setWallpaper: SetWallpaperFromFile(path, SystemPath, GreyScale, StretchLarger,
//     StretchSmaller, Res1, Res2, UseMask) with the options of the moment, done on a
//     worker (WallpaperChanger) that calls applied() when it is over. It is given a copy of
//     CurrentWallpaper.
//   - processEvents: QCoreApplication::processEvents().
//   - stopStartupTimer: CycleTimer::StopStartupTimer.
//   - refreshListCommands: RefreshListCommands with occasion Removed.
//   - randomIndex: leave empty for a uniform draw from a generator seeded at start. In
//     random order the draw is among the entries that do not hold the current picture
//     (all entries when none is left), so that a cycle always changes the picture while
//     the list holds two different ones.
//   - creation step 20/21: SetPreviousEntry(0), then ResetCurrentEntryFromIndex() once the
//     list is loaded and CurrIndex read.
//   - AddFiles fills an empty CurrentWallpaper: copy CurrentWallpaper() into a string,
//     pass it to WallpaperList::AddFiles and hand it back with SetCurrentWallpaper.
// Everything runs on the user-interface thread; no operation throws.
class CycleEngine {
public:
    struct Hooks {
        // Starts showing the picture and returns; calls applied() on this thread once the
        // desktop has it or the change failed (at once, or later from the event loop).
        std::function<void(const std::string& path, std::function<void()> applied)> setWallpaper;
        std::function<void()> processEvents;
        std::function<void()> stopStartupTimer;
        std::function<void()> refreshListCommands;
        // A uniform draw r with 0 <= r < count (count > 0).
        std::function<std::size_t(std::size_t count)> randomIndex;
        std::function<void(bool enabled)> cycleEnabledChanged;
        std::function<void(bool enabled)> previousEnabledChanged;
    };

    // What a picture per monitor (PicturePerMonitor) needs; without it every change shows
    // one picture everywhere.
    struct MonitorHooks {
        // The monitors' shapes in monitor order (primary first); none when they cannot be
        // learnt (the change then shows one picture everywhere).
        std::function<std::vector<Shape>()> monitorShapes;
        // A picture's shape, for MatchOrientation; empty: every picture fits every monitor.
        std::function<Shape(const TListItemInfo&)> pictureShape;
        // Like Hooks::setWallpaper, one picture per monitor of the last monitorShapes() (a
        // shorter list is repeated over the monitors).
        std::function<void(const std::vector<std::string>& paths, std::function<void()> applied)> setWallpapers;
    };

    static constexpr EntryId kNone = 0;

    CycleEngine(WallpaperList& list, Options& options, Hooks hooks);
    void SetMonitorHooks(MonitorHooks hooks) { m_monitorHooks = std::move(hooks); }
    CycleEngine(const CycleEngine&) = delete;
    CycleEngine& operator=(const CycleEngine&) = delete;

    // Picks the next entry (at random, or the one after the entry at CurrIndex) and shows
    // it; see the .cpp for the steps.
    void CycleNow();
    // The entry the next CycleNow will choose, if nothing changes meanwhile, so that its
    // picture can be made ready before it is due; kNone for an empty list or when the next
    // cycle would show nothing. In random order the draw is made now and kept for that
    // cycle (ForgetUpcoming drops it).
    EntryId UpcomingEntry();
    void ForgetUpcoming() { m_upcoming = kNone; }
    // Swaps the current and the previous entry and shows the previous picture.
    void Previous();
    // With exactly one entry selected: shows it without making it current.
    void SetAsWallpaper();
    // With exactly one entry selected: shows it and makes it current (CurrIndex stays).
    void ShowSelectedEntry();
    // Removes the first entry whose path is CurrentWallpaper (byte for byte, as Linux file
    // names compare) from the list, then refreshes the list's commands. No file is deleted.
    void DeleteCurrentWallpaper();

    // The picture most recently chosen for the desktop; empty at start.
    const std::string& CurrentWallpaper() const { return m_currentWallpaper; }
    void SetCurrentWallpaper(std::string path) { m_currentWallpaper = std::move(path); }

    // The entry the cycle takes to be on the desktop, and the one before it; kNone when
    // there is none or the entry has left the list.
    EntryId CurrentEntry() const;
    EntryId PreviousEntry() const;
    void SetCurrentEntry(EntryId id) { m_currentEntry = id; }
    // PreviousEntry := id; "&Previous" is enabled exactly when id is not none.
    void SetPreviousEntry(EntryId id);
    // CurrentEntry := the entry at CurrIndex (the first entry, stepped CurrIndex times;
    // none when the list runs out first).
    void ResetCurrentEntryFromIndex();

    std::int32_t CurrIndex() const { return m_options.CurrIndex; }
    void SetCurrIndex(std::int32_t index) { m_options.CurrIndex = index; }

    // With a picture per monitor: the entries on the monitors, in monitor order (the first
    // is CurrentEntry); empty otherwise.
    std::vector<EntryId> CurrentSet() const;
    std::vector<EntryId> PreviousSet() const;

    bool CycleEnabled() const { return m_cycleEnabled; }
    bool PreviousEnabled() const { return m_previousEnabled; }

private:
    EntryId live(EntryId id) const;
    EntryId entryAtCurrIndex() const;
    EntryId singleSelected() const;
    void setCycleEnabled(bool enabled);
    void setPreviousEnabled(bool enabled);
    void processEvents();
    void stopStartupTimer();
    void show(const std::string& path, std::function<void()> applied);
    std::size_t drawIndex(std::size_t count);
    EntryId choose();
    void cycleSet(const std::vector<Shape>& shapes);
    // A picture per monitor: the monitors' shapes, or none when this change shows one picture.
    std::vector<Shape> perMonitorShapes();
    // The pictures of a set with the monitors' pictures; shows them and, when given, runs
    // applied once the desktop has them.
    void showSet(const std::vector<EntryId>& set, std::function<void()> applied);
    // The set now on the monitors with the primary's picture replaced by entry.
    std::vector<EntryId> withPrimary(EntryId entry) const;

    WallpaperList& m_list;
    Options& m_options;
    Hooks m_hooks;
    MonitorHooks m_monitorHooks;
    std::string m_currentWallpaper;
    EntryId m_currentEntry = kNone;
    EntryId m_previousEntry = kNone;
    EntryId m_upcoming = kNone;  // a random draw made ahead for the next cycle
    // A picture per monitor: what the monitors show, and the set "&Previous" brings back
    // (its first entry is PreviousEntry). Empty when one picture is shown everywhere.
    std::vector<EntryId> m_currentSet;
    std::vector<EntryId> m_previousSet;
    MonitorPictureChooser m_chooser;
    bool m_cycleEnabled = true;
    bool m_previousEnabled = false;
    std::mt19937_64 m_random;
};

}  // namespace kalidrome
