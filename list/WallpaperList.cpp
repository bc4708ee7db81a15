#include "WallpaperList.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace kalidrome {

namespace {

EntryId NextEntryId() {
    // Shared by every list of the process, so an id never names two entries.
    static std::atomic<EntryId> last{0};
    return ++last;
}

std::string LastComponent(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool NamesExistingFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

WallpaperList::WallpaperList() = default;
WallpaperList::~WallpaperList() = default;

void WallpaperList::setChangeListener(std::function<void()> listener) {
    m_changeListener = std::move(listener);
}

void WallpaperList::setRowChangedListener(std::function<void(EntryId)> listener) {
    m_rowChangedListener = std::move(listener);
}

void WallpaperList::BeginUpdate() { ++m_updateCount; }

void WallpaperList::EndUpdate() {
    if (m_updateCount == 0) return;
    if (--m_updateCount == 0 && m_changeListener) m_changeListener();
}

TListItemInfo& WallpaperList::AddEntry(std::string path) {
    ListUpdate update(*this);
    std::unique_ptr<TListItemInfo> entry(new TListItemInfo);
    entry->FileName = LastComponent(path);
    entry->FilePath = std::move(path);
    entry->m_id = NextEntryId();
    entry->m_index = static_cast<std::uint32_t>(m_entries.size());
    m_entries.push_back(std::move(entry));
    return *m_entries.back();
}

void WallpaperList::AddFiles(std::vector<std::string> batch, std::string& currentWallpaper) {
    ListUpdate update(*this);
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

    // Each distinct path maps to its first remaining position in the batch; later
    // positions of the same path are chained through sameNext, in batch order. Every
    // listed entry then takes the first remaining equal path in constant time.
    std::vector<std::size_t> sameNext(batch.size(), kNone);
    std::unordered_map<std::string_view, std::size_t> firstLeft;
    firstLeft.reserve(batch.size());
    for (std::size_t i = batch.size(); i-- > 0;) {
        auto [it, inserted] = firstLeft.try_emplace(batch[i], i);
        if (!inserted) {
            sameNext[i] = it->second;
            it->second = i;
        }
    }
    std::vector<bool> taken(batch.size(), false);
    for (const auto& entry : m_entries) {
        auto it = firstLeft.find(entry->FilePath);
        if (it == firstLeft.end() || it->second == kNone) continue;
        taken[it->second] = true;
        it->second = sameNext[it->second];
    }
    firstLeft.clear();

    std::size_t left = 0;
    for (bool t : taken) left += t ? 0 : 1;
    m_entries.reserve(m_entries.size() + left);
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (taken[i]) continue;
        TListItemInfo& added = AddEntry(std::move(batch[i]));
        if (currentWallpaper.empty()) currentWallpaper = added.FilePath;
    }
}

template <typename Predicate>
std::size_t WallpaperList::removeIf(Predicate shouldGo) {
    ListUpdate update(*this);
    // Decide first, so that nothing has changed when the decision fails.
    std::vector<bool> goes(m_entries.size());
    std::size_t removed = 0;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        goes[i] = shouldGo(*m_entries[i]);
        removed += goes[i] ? 1 : 0;
    }
    if (removed == 0) return 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (goes[i]) {
            m_entries[i].reset();
        } else {
            m_entries[i]->m_index = static_cast<std::uint32_t>(kept);
            if (kept != i) m_entries[kept] = std::move(m_entries[i]);
            ++kept;
        }
    }
    m_entries.resize(kept);
    return removed;
}

bool WallpaperList::RemoveEntry(EntryId id) {
    ListUpdate update(*this);
    const std::size_t index = positionOf(id);
    if (index == m_entries.size()) return false;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    for (std::size_t i = index; i < m_entries.size(); ++i) m_entries[i]->m_index = static_cast<std::uint32_t>(i);
    return true;
}

std::size_t WallpaperList::RemoveSelected() {
    return removeIf([](const TListItemInfo& e) { return e.selected(); });
}

std::size_t WallpaperList::RemoveNonExisting() {
    return removeIf([](const TListItemInfo& e) { return !NamesExistingFile(e.FilePath); });
}

void WallpaperList::Clear() {
    ListUpdate update(*this);
    m_entries.clear();
    if (m_spill) m_spill->startAfresh();  // nothing in its file is wanted any more
}

void WallpaperList::ReplaceWith(WallpaperList& source) {
    if (&source == this) return;
    ListUpdate update(*this);
    // Entry ids are unique across lists, so they stay valid in their new list.
    m_entries = std::move(source.m_entries);
    source.m_entries.clear();
    if (m_spill) m_spill->startAfresh();  // its thumbnails went with the old entries
}

TListItemInfo* WallpaperList::first() { return m_entries.empty() ? nullptr : m_entries.front().get(); }

const TListItemInfo* WallpaperList::first() const {
    return m_entries.empty() ? nullptr : m_entries.front().get();
}

TListItemInfo* WallpaperList::next(const TListItemInfo& entry) {
    std::size_t index = entry.m_index + 1;
    return index < m_entries.size() ? m_entries[index].get() : nullptr;
}

const TListItemInfo* WallpaperList::next(const TListItemInfo& entry) const {
    std::size_t index = entry.m_index + 1;
    return index < m_entries.size() ? m_entries[index].get() : nullptr;
}

std::size_t WallpaperList::positionOf(EntryId id) const {
    const auto it = std::lower_bound(m_entries.begin(), m_entries.end(), id,
                                     [](const std::unique_ptr<TListItemInfo>& e, EntryId v) { return e->m_id < v; });
    return it != m_entries.end() && (*it)->m_id == id ? static_cast<std::size_t>(it - m_entries.begin())
                                                      : m_entries.size();
}

TListItemInfo* WallpaperList::find(EntryId id) {
    const std::size_t at = positionOf(id);
    return at == m_entries.size() ? nullptr : m_entries[at].get();
}

const TListItemInfo* WallpaperList::find(EntryId id) const {
    const std::size_t at = positionOf(id);
    return at == m_entries.size() ? nullptr : m_entries[at].get();
}

std::optional<std::size_t> WallpaperList::indexOf(EntryId id) const {
    const TListItemInfo* entry = find(id);
    if (!entry) return std::nullopt;
    return entry->m_index;
}

std::vector<TListItemInfo*> WallpaperList::selectedEntries() {
    std::vector<TListItemInfo*> result;
    for (const auto& entry : m_entries)
        if (entry->selected()) result.push_back(entry.get());
    return result;
}

std::size_t WallpaperList::selectedCount() const {
    std::size_t n = 0;
    for (const auto& entry : m_entries) n += entry->selected() ? 1 : 0;
    return n;
}

bool WallpaperList::SetThumbnail(EntryId id, JpegImage image) {
    TListItemInfo* entry = find(id);
    if (!entry) return false;
    if (!m_spill) m_spill = std::make_unique<ThumbnailSpill>(m_thumbnailFolder);
    entry->Thumbnail.emplace(m_spill->keep(std::move(image)));
    if (m_updateCount == 0 && m_rowChangedListener) m_rowChangedListener(id);
    return true;
}

void WallpaperList::setThumbnailFolder(std::string folder) {
    m_thumbnailFolder = std::move(folder);
    m_spill.reset();
}

void WallpaperList::thumbnailsSaved() {
    if (m_spill) m_spill->startAfresh();
}

void WallpaperList::LayOutRow(TListItemInfo& entry, bool showImages) {
    entry.RowHeight = static_cast<std::uint16_t>(showImages ? kImageRowHeight : kTextRowHeight);
    entry.StateWord |= StateBits::LaidOut;
}

}  // namespace kalidrome
