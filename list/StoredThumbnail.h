#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kalidrome {

// A thumbnail as a thumbnail job makes it: a complete JPEG stream with the size from
// its header.
struct JpegImage {
    std::vector<std::uint8_t> Bytes;
    int Width = 0;
    int Height = 0;
};

// Where the bytes of stored thumbnails live.
class ThumbnailStore {
public:
    virtual ~ThumbnailStore() = default;
    // Reads up to n bytes at offset; returns how many it got (fewer only at the end of
    // the bytes or on a failed read).
    virtual std::size_t readUpTo(std::uint64_t offset, std::uint8_t* out, std::size_t n) const = 0;
    // Whether thumbnails lie in it in list order (a list file), so that reading ahead of
    // one thumbnail serves the next ones; a spill file holds them in the order made.
    virtual bool inListOrder() const { return true; }
};

// A list file kept open by its descriptor (taken over, and closed when the last
// thumbnail in it goes), so that its thumbnails are read again only when they are drawn
// or saved. A save replaces the file by a rename and a delete only unlinks it, so the
// descriptor keeps the file that was read. Reads go through pread, never a mapping: a
// file cut short by another program gives short reads, where a mapping would die of
// SIGBUS.
std::shared_ptr<const ThumbnailStore> KeepListFileOpen(int fd);

// The stored form of an entry's thumbnail: its size and where its bytes are (a list
// file kept open, or memory for one that was made or read from memory), so that 100 000
// entries do not hold 100 000 JPEG streams. The bytes come back exactly as they were
// read or made, or not at all: a read that falls short, or bytes whose check no longer
// matches (the list file was cut or rewritten in place), fails, and the caller makes
// the thumbnail again from the picture.
class StoredThumbnail {
public:
    // The thumbnail's bytes, kept in memory.
    explicit StoredThumbnail(JpegImage image);
    // length bytes at offset of store, which are bytes now (taken for the check).
    StoredThumbnail(std::shared_ptr<const ThumbnailStore> store, std::uint64_t offset, const std::uint8_t* bytes,
                    std::uint32_t length, int width, int height);

    std::uint32_t length() const { return m_length; }
    // True when the bytes live in memory.
    bool inMemory() const;
    // Replaces out by the thumbnail's bytes; false when they cannot be read back whole
    // and unchanged.
    bool read(std::vector<std::uint8_t>& out) const;
    // The same bytes are now at offset of store (a list file just written).
    void moveTo(std::shared_ptr<const ThumbnailStore> store, std::uint64_t offset) {
        m_store = std::move(store);
        m_offset = offset;
    }

    // A check of a thumbnail's bytes: its length and samples of its middle and its end,
    // where the entropy-coded data of two different pictures differ. Cheap enough to
    // take for every thumbnail of a list as it is read.
    static std::uint32_t Check(const std::uint8_t* bytes, std::size_t length);

    std::uint16_t Width = 0;
    std::uint16_t Height = 0;

private:
    friend class ThumbnailReadBuffer;

    std::shared_ptr<const ThumbnailStore> m_store;
    std::uint64_t m_offset = 0;
    std::uint32_t m_length = 0;
    std::uint32_t m_check = 0;
};

// Where thumbnails made in this run wait for the next save: a file of their own rather
// than memory, so that adding 100 000 pictures does not hold 100 000 JPEG streams. The
// file is made without a name in folder (it goes when the program ends, however it ends),
// written once per thumbnail and read back like a list file; it closes with the last
// thumbnail in it. Where the file cannot be made or written, thumbnails stay in memory.
class ThumbnailSpill {
public:
    // folder: where the file goes; empty for the user's cache folder
    // ($XDG_CACHE_HOME/kalidrome, by default ~/.cache/kalidrome), else /var/tmp.
    explicit ThumbnailSpill(std::string folder = {});
    ~ThumbnailSpill();
    ThumbnailSpill(const ThumbnailSpill&) = delete;
    ThumbnailSpill& operator=(const ThumbnailSpill&) = delete;

    StoredThumbnail keep(JpegImage image);
    // The thumbnails made so far are no longer needed from here (a save moved them to the
    // list file, or the list let them go): later ones go to the emptied file, or to a new
    // one while thumbnails still read from the old; after a failure it tries again.
    void startAfresh();

    // The folder used when none is given.
    static std::string DefaultFolder();

private:
    bool open();

    std::string m_folder;
    std::shared_ptr<const ThumbnailStore> m_file;
    int m_fd = -1;  // m_file's descriptor, for writing
    std::uint64_t m_size = 0;
    bool m_failed = false;
};

// Reads many thumbnails of one store in file order (a save) with few system calls: a
// window of the store is read at once and thumbnails inside it are copied from there.
class ThumbnailReadBuffer {
public:
    bool read(const StoredThumbnail& thumbnail, std::vector<std::uint8_t>& out);

private:
    static constexpr std::size_t kWindow = 256 * 1024;

    const ThumbnailStore* m_store = nullptr;
    std::shared_ptr<const ThumbnailStore> m_keep;  // the window's store stays alive with it
    std::uint64_t m_start = 0;
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace kalidrome
