#include "CycleEngine.h"

#include <chrono>
#include <utility>
#include <vector>

#include "WallpaperList.h"

namespace kalidrome {

CycleEngine::CycleEngine(WallpaperList& list, Options& options, Hooks hooks)
    : m_list(list),
      m_options(options),
      m_hooks(std::move(hooks)),
      m_random(static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               std::random_device{}()) {}

EntryId CycleEngine::live(EntryId id) const { return id != kNone && m_list.find(id) ? id : kNone; }

EntryId CycleEngine::CurrentEntry() const { return live(m_currentEntry); }
EntryId CycleEngine::PreviousEntry() const { return live(m_previousEntry); }

void CycleEngine::SetPreviousEntry(EntryId id) {
    m_previousEntry = id;
    setPreviousEnabled(id != kNone);
}

EntryId CycleEngine::entryAtCurrIndex() const {
    if (m_list.empty()) return kNone;
    // Stepping from the first entry a negative number of times stays on the first.
    const std::int32_t index = m_options.CurrIndex < 0 ? 0 : m_options.CurrIndex;
    if (static_cast<std::size_t>(index) >= m_list.count()) return kNone;
    return m_list.at(static_cast<std::size_t>(index)).id();
}

void CycleEngine::ResetCurrentEntryFromIndex() { m_currentEntry = entryAtCurrIndex(); }

EntryId CycleEngine::singleSelected() const {
    if (m_list.selectedCount() != 1) return kNone;
    for (std::size_t i = 0; i < m_list.count(); ++i)
        if (m_list.at(i).selected()) return m_list.at(i).id();
    return kNone;
}

void CycleEngine::setCycleEnabled(bool enabled) {
    if (m_cycleEnabled == enabled) return;
    m_cycleEnabled = enabled;
    if (m_hooks.cycleEnabledChanged) m_hooks.cycleEnabledChanged(enabled);
}

void CycleEngine::setPreviousEnabled(bool enabled) {
    if (m_previousEnabled == enabled) return;
    m_previousEnabled = enabled;
    if (m_hooks.previousEnabledChanged) m_hooks.previousEnabledChanged(enabled);
}

void CycleEngine::processEvents() {
    if (m_hooks.processEvents) m_hooks.processEvents();
}

void CycleEngine::stopStartupTimer() {
    if (m_hooks.stopStartupTimer) m_hooks.stopStartupTimer();
}

void CycleEngine::show(const std::string& path, std::function<void()> applied) {
    // A copy: events before the change is over may set another CurrentWallpaper.
    const std::string picture = path;
    if (m_hooks.setWallpaper) m_hooks.setWallpaper(picture, std::move(applied));
    else if (applied) applied();
}

std::size_t CycleEngine::drawIndex(std::size_t count) {
    std::size_t r = m_hooks.randomIndex ? m_hooks.randomIndex(count)
                                        : std::uniform_int_distribution<std::size_t>(0, count - 1)(m_random);
    return r < count ? r : r % count;
}

// The entry a cycle shows (the list is not empty). Random order draws among the entries
// that do not hold the current picture, so that "Cycle!" always changes the picture while
// there is another one to change to; with none left it draws among all, and may draw the
// current entry, which then shows nothing.
EntryId CycleEngine::choose() {
    if (!m_options.Random) {
        m_currentEntry = entryAtCurrIndex();
        const TListItemInfo* current = m_list.find(m_currentEntry);
        const TListItemInfo* after = current ? m_list.next(*current) : nullptr;
        return after ? after->id() : m_list.first()->id();
    }
    const TListItemInfo* current = m_list.find(CurrentEntry());
    if (EntryId kept = std::exchange(m_upcoming, kNone); live(kept) != kNone) {
        if (!current || m_list.find(kept)->FilePath != current->FilePath) return kept;
    }
    std::vector<std::size_t> others;
    if (current) {
        others.reserve(m_list.count());
        for (std::size_t i = 0; i < m_list.count(); ++i)
            if (m_list.at(i).FilePath != current->FilePath) others.push_back(i);
    }
    if (others.empty()) return m_list.at(drawIndex(m_list.count())).id();
    return m_list.at(others[drawIndex(others.size())]).id();
}

std::vector<Shape> CycleEngine::perMonitorShapes() {
    if (!m_options.PicturePerMonitor || !m_monitorHooks.monitorShapes || !m_monitorHooks.setWallpapers) return {};
    return m_monitorHooks.monitorShapes();
}

std::vector<EntryId> CycleEngine::CurrentSet() const {
    return !m_currentSet.empty() && live(m_currentSet.front()) == CurrentEntry() && CurrentEntry() != kNone
               ? m_currentSet
               : std::vector<EntryId>{};
}

std::vector<EntryId> CycleEngine::PreviousSet() const {
    return !m_previousSet.empty() && live(m_previousSet.front()) == PreviousEntry() && PreviousEntry() != kNone
               ? m_previousSet
               : std::vector<EntryId>{};
}

std::vector<EntryId> CycleEngine::withPrimary(EntryId entry) const {
    std::vector<EntryId> set = CurrentSet();
    if (set.empty()) set.push_back(entry);
    else set.front() = entry;
    return set;
}

void CycleEngine::showSet(const std::vector<EntryId>& set, std::function<void()> applied) {
    std::vector<std::string> paths;
    paths.reserve(set.size());
    // An entry removed meanwhile leaves its monitor with the primary's picture.
    for (EntryId id : set)
        if (const TListItemInfo* entry = m_list.find(id)) paths.push_back(entry->FilePath);
        else paths.push_back(m_currentWallpaper);
    m_monitorHooks.setWallpapers(paths, std::move(applied));
}

EntryId CycleEngine::UpcomingEntry() {
    if (m_list.empty()) return kNone;
    // A picture per monitor is chosen when it is due: nothing single to make ready.
    if (m_options.PicturePerMonitor && m_monitorHooks.setWallpapers) return kNone;
    EntryId next = kNone;
    if (m_options.Random) {
        if (live(m_upcoming) == kNone) m_upcoming = choose();
        next = m_upcoming;
    } else {
        const EntryId current = entryAtCurrIndex();
        const TListItemInfo* entry = m_list.find(current);
        const TListItemInfo* after = entry ? m_list.next(*entry) : nullptr;
        next = after ? after->id() : m_list.first()->id();
        if (next == current) return kNone;
    }
    return next == CurrentEntry() ? kNone : next;
}

void CycleEngine::CycleNow() {
    processEvents();
    if (!m_cycleEnabled) return;  // a cycle is being applied
    try {
        stopStartupTimer();
        if (m_list.empty()) return;

        if (const std::vector<Shape> shapes = perMonitorShapes(); !shapes.empty()) {
            cycleSet(shapes);
            return;
        }

        const EntryId chosen = choose();
        m_currentWallpaper = m_list.find(chosen)->FilePath;

        const EntryId current = CurrentEntry();
        SetPreviousEntry(current);
        if (chosen == current) return;  // nothing shown; random order makes no second draw

        setCycleEnabled(false);
        setPreviousEnabled(false);
        // A failure to start leaves through the catch below.
        show(m_currentWallpaper, [this, chosen] {
            setCycleEnabled(true);
            setPreviousEnabled(true);
            m_currentEntry = chosen;
            // The chosen entry may have left the list while the picture was applied; then
            // the position stays where it was.
            if (auto position = m_list.indexOf(chosen)) m_options.CurrIndex = static_cast<std::int32_t>(*position);
        });
    } catch (...) {
        setCycleEnabled(true);
        setPreviousEnabled(true);
    }
}

// One change with a picture per monitor: the same steps as for one picture, over the set.
void CycleEngine::cycleSet(const std::vector<Shape>& shapes) {
    const std::vector<EntryId> before = CurrentSet();
    if (!m_options.Random) m_currentEntry = entryAtCurrIndex();
    const EntryId current = CurrentEntry();
    std::vector<EntryId> shown = before.empty() || before.front() != current ? std::vector<EntryId>{current} : before;
    if (current == kNone) shown.clear();
    const std::vector<EntryId> set =
        m_chooser.choose(m_list, shapes, m_options.Random, m_options.MatchOrientation, current, shown,
                         m_monitorHooks.pictureShape, [this](std::size_t count) { return drawIndex(count); });
    const EntryId chosen = set.front();
    m_currentWallpaper = m_list.find(chosen)->FilePath;
    SetPreviousEntry(current);
    m_previousSet = shown;
    if (set == shown) return;  // nothing shown

    setCycleEnabled(false);
    setPreviousEnabled(false);
    showSet(set, [this, set] {
        setCycleEnabled(true);
        setPreviousEnabled(true);
        m_currentEntry = set.front();
        m_currentSet = set;
        if (auto position = m_list.indexOf(set.front())) m_options.CurrIndex = static_cast<std::int32_t>(*position);
    });
}

void CycleEngine::Previous() {
    processEvents();
    if (!m_previousEnabled) return;
    try {
        stopStartupTimer();
        const EntryId previous = PreviousEntry();
        if (m_list.empty() || previous == kNone) return;
        m_currentWallpaper = m_list.find(previous)->FilePath;
        const EntryId current = CurrentEntry();
        if (!perMonitorShapes().empty()) {
            // The whole set before comes back; the one shown now becomes the previous one.
            std::vector<EntryId> set = PreviousSet();
            if (set.empty()) set = withPrimary(previous);
            std::vector<EntryId> now = CurrentSet();
            if (now.empty() && current != kNone) now.push_back(current);
            SetPreviousEntry(current);
            m_previousSet = now;
            if (set != now) showSet(set, {});
            m_currentEntry = previous;
            m_currentSet = set;
            return;
        }
        SetPreviousEntry(current);
        if (previous != current) {
            show(m_currentWallpaper, {});
            // CurrIndex stays: in list order the next cycle continues after the entry
            // the last cycle reached.
            m_currentEntry = previous;
        }
    } catch (...) {
        setCycleEnabled(true);
        setPreviousEnabled(true);
    }
}

void CycleEngine::SetAsWallpaper() {
    const EntryId selected = singleSelected();
    if (selected == kNone) return;
    m_currentWallpaper = m_list.find(selected)->FilePath;
    try {
        // With a picture per monitor the primary takes it and the others keep theirs.
        if (!perMonitorShapes().empty()) showSet(withPrimary(selected), {});
        else show(m_currentWallpaper, {});
    } catch (...) {
    }
}

void CycleEngine::ShowSelectedEntry() {
    processEvents();
    const EntryId selected = singleSelected();
    if (selected == kNone) return;
    m_currentWallpaper = m_list.find(selected)->FilePath;
    const std::vector<EntryId> set = withPrimary(selected);
    const std::vector<EntryId> before = CurrentSet();
    SetPreviousEntry(CurrentEntry());
    try {
        if (!perMonitorShapes().empty()) {
            showSet(set, {});
            m_previousSet = before;
            m_currentSet = set;
        } else {
            show(m_currentWallpaper, {});
        }
    } catch (...) {
        return;
    }
    m_currentEntry = selected;
}

void CycleEngine::DeleteCurrentWallpaper() {
    for (std::size_t i = 0; i < m_list.count() && !m_currentWallpaper.empty(); ++i) {
        if (m_list.at(i).FilePath == m_currentWallpaper) {
            m_list.RemoveEntry(m_list.at(i).id());
            break;
        }
    }
    if (m_hooks.refreshListCommands) m_hooks.refreshListCommands();
}

}  // namespace kalidrome
