#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "StoredThumbnail.h"

namespace kalidrome {

// Identifies one entry for as long as the process runs; 0 means none. Ids are never
// reused, so whoever keeps an id (the current entry, a pending thumbnail job) finds a
// removed entry simply missing instead of finding another one in its place. Ids grow in
// the order entries are made, and a list only ever appends, so every list holds its
// entries in the order of their ids.
using EntryId = std::uint64_t;

// Bits of an entry's row state word, as the list file stores them.
namespace StateBits {
inline constexpr std::uint16_t LaidOut = 0x0001;
inline constexpr std::uint16_t Shown = 0x0080;
inline constexpr std::uint16_t Selected = 0x0100;
// Bits the view uses while it runs; never stored.
inline constexpr std::uint16_t Transient = 0x0216;
}  // namespace StateBits

// Row heights in pixels.
inline constexpr int kNewRowHeight = 18;        // before the view has laid the row out
inline constexpr int kImageRowHeight = 85;      // laid out with thumbnails shown
inline constexpr int kTextRowHeight = 17;       // laid out without thumbnails

// One picture of the wallpaper list, and the state of its row in the list view.
// Only WallpaperList makes and destroys entries. A list of a whole photo collection holds
// hundreds of thousands of these, so an entry keeps its thumbnail's bytes where they are
// (StoredThumbnail) and its fields are no wider than they need to be.
class TListItemInfo {
public:
    TListItemInfo(const TListItemInfo&) = delete;
    TListItemInfo& operator=(const TListItemInfo&) = delete;

    // The last component of FilePath, fixed when the entry is made.
    std::string FileName;
    // The path exactly as it was added or read; never normalised.
    std::string FilePath;
    // Kept as opaque JPEG bytes, written back exactly as they were read or encoded.
    std::optional<StoredThumbnail> Thumbnail;
    // Low 16 bits of the stored height; kNewRowHeight until laid out.
    std::uint16_t RowHeight = kNewRowHeight;
    std::uint16_t StateWord = StateBits::Shown;

    EntryId id() const { return m_id; }
    bool selected() const { return (StateWord & StateBits::Selected) != 0; }
    void setSelected(bool on) {
        StateWord = on ? static_cast<std::uint16_t>(StateWord | StateBits::Selected)
                       : static_cast<std::uint16_t>(StateWord & ~StateBits::Selected);
    }
    bool laidOut() const { return (StateWord & StateBits::LaidOut) != 0; }

private:
    friend class WallpaperList;
    TListItemInfo() = default;

    std::uint32_t m_index = 0;  // current position, kept up to date by the list
    EntryId m_id = 0;
};

}  // namespace kalidrome
