#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TListItemInfo.h"

namespace kalidrome {

// The ordered list of pictures the program cycles through. Entries keep the order in
// which they were added or read; nothing sorts them. Every entry carries its row state
// (height, shown, laid out, selected), so the selection of the list view lives here too.
//
// Entries are held in the order of their ids (see EntryId), so an id is found by a
// binary search and the list needs no index of its own beside the entries.
//
// Change notification: the change listener runs once when the outermost EndUpdate closes
// and once after each change made outside any update, so a view refreshes once per bulk
// change. Selection and layout changes made through an entry itself (setSelected,
// LayOutRow) come from the view and notify nothing. Listeners must not throw: they run
// when an update closes, also while an error is on its way out.
class WallpaperList {
public:
    WallpaperList();
    ~WallpaperList();
    WallpaperList(const WallpaperList&) = delete;
    WallpaperList& operator=(const WallpaperList&) = delete;

    void setChangeListener(std::function<void()> listener);
    // Called after SetThumbnail stored a thumbnail outside any update, to repaint one row.
    void setRowChangedListener(std::function<void(EntryId)> listener);

    // Counted: brackets nest, and EndUpdate at zero does nothing.
    void BeginUpdate();
    void EndUpdate();
    int updateCount() const { return m_updateCount; }

    // Appends an entry for path (no check of the path is made).
    TListItemInfo& AddEntry(std::string path);
    // Appends the paths of batch that are not listed yet, in batch order. Each listed
    // entry takes at most one equal path out of the batch, so a path given twice and not
    // listed is added twice. Paths compare byte for byte, as Linux file names do. The
    // first path added while currentWallpaper is empty becomes the current wallpaper.
    void AddFiles(std::vector<std::string> batch, std::string& currentWallpaper);

    // Removal releases the entry and its thumbnail; its id is never found again.
    bool RemoveEntry(EntryId id);
    // "&Delete selected": returns how many entries went.
    std::size_t RemoveSelected();
    // "C&lear non existing": removes the entries whose path names nothing or a folder.
    std::size_t RemoveNonExisting();
    // "Cl&ear All".
    void Clear();
    // Replaces every entry by the entries of source, which is left empty, as one change.
    // A list file is read into a list of its own first, so that a file the reader refuses
    // costs the list nothing.
    void ReplaceWith(WallpaperList& source);

    std::size_t count() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    TListItemInfo& at(std::size_t index) { return *m_entries.at(index); }
    const TListItemInfo& at(std::size_t index) const { return *m_entries.at(index); }
    TListItemInfo* first();
    const TListItemInfo* first() const;
    TListItemInfo* next(const TListItemInfo& entry);
    const TListItemInfo* next(const TListItemInfo& entry) const;
    TListItemInfo* find(EntryId id);
    const TListItemInfo* find(EntryId id) const;
    std::optional<std::size_t> indexOf(EntryId id) const;

    // The selected entries in list order.
    std::vector<TListItemInfo*> selectedEntries();
    std::size_t selectedCount() const;

    // Stores a thumbnail made by a thumbnail job (its bytes wait for the next save in the
    // list's ThumbnailSpill); false when the entry is gone.
    bool SetThumbnail(EntryId id, JpegImage image);
    // Where made thumbnails wait: by default the user's cache folder (ThumbnailSpill).
    void setThumbnailFolder(std::string folder);
    // A save wrote the thumbnails to the list file: later ones go to a new spill file.
    void thumbnailsSaved();

    // The row layout: height 85 with thumbnails shown, 17 without, and the laid-out bit.
    static void LayOutRow(TListItemInfo& entry, bool showImages);

private:
    template <typename Predicate>
    std::size_t removeIf(Predicate shouldGo);
    // The position of the entry with id, or count() when there is none.
    std::size_t positionOf(EntryId id) const;
    void changed();

    std::vector<std::unique_ptr<TListItemInfo>> m_entries;
    std::unique_ptr<ThumbnailSpill> m_spill;  // made at the first thumbnail
    std::string m_thumbnailFolder;
    int m_updateCount = 0;
    std::function<void()> m_changeListener;
    std::function<void(EntryId)> m_rowChangedListener;
};

// Scoped BeginUpdate/EndUpdate, so the update closes also when an error leaves early.
class ListUpdate {
public:
    explicit ListUpdate(WallpaperList& list) : m_list(list) { m_list.BeginUpdate(); }
    ~ListUpdate() { m_list.EndUpdate(); }
    ListUpdate(const ListUpdate&) = delete;
    ListUpdate& operator=(const ListUpdate&) = delete;

private:
    WallpaperList& m_list;
};

}  // namespace kalidrome
