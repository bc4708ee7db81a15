#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ByteSource.h"
#include "ListFileStamp.h"
#include "WallpaperList.h"

namespace kalidrome {

// A list file could not be written or read; what() is the text the user sees.
class ListFileError : public std::runtime_error {
public:
    // systemError: the errno behind it, when there is one. unreadable: the file could not be
    // read at all (no permission, not a regular file), as opposed to a damaged one.
    explicit ListFileError(const std::string& message, int systemError = 0, bool unreadable = false)
        : std::runtime_error(message), m_systemError(systemError), m_unreadable(unreadable) {}
    int systemError() const { return m_systemError; }
    bool unreadable() const { return m_unreadable; }

private:
    int m_systemError;
    bool m_unreadable;
};

// Writes every entry of list to path (a .kdl list file). saveImage decides whether the
// thumbnails are stored; rows never laid out are laid out first with showImages.
// The file is replaced whole or not at all: it is written beside path and renamed over
// it at the end, so a failed or interrupted save leaves the previous list intact.
// Throws ListFileError: "Cannot create file "<absolute path>". <system text>" when the
// file cannot be made (an existing file without write bits counts as read-only), or
// "Stream write error" when writing fails on the way; either carries the errno.
void WriteListFile(const std::string& path, WallpaperList& list, bool saveImage, bool showImages);
// The bytes WriteListFile writes, in memory.
std::string EncodeListFile(WallpaperList& list, bool saveImage, bool showImages);

// Appends the entries of the list file at path to list (emptied by the caller), inside
// one bulk update. saveImage takes the thumbnail flag of each entry as it is read, so it
// ends as the flag of the last entry read (unchanged for a file without entries).
// Throws ListFileError with the file's fault ("Cannot open file "<absolute path>".
// <system text>", marked unreadable, also for anything but a regular file, "Unable to load tree structure, ...", "Stream read error", "Stream
// data corrupt. ..."); the entries read before the damage stay in the list, the damaged
// one included.
void ReadListFile(const std::string& path, WallpaperList& list, bool& saveImage);
// The same for list-file bytes already in memory.
void ReadListData(const std::uint8_t* data, std::size_t size, WallpaperList& list, bool& saveImage);
void ReadListFrom(ByteSource& in, WallpaperList& list, bool& saveImage);

// A string as a list file stores it: a 32-bit little-endian byte count, then the bytes.
void WriteSizedString(std::string& out, std::string_view text);
// Throws ListFileError("Stream read error") when the count or the bytes are not there.
std::string ReadSizedString(ByteSource& in);

// Moves a list file the reader refused out of the way of every later save, keeping its
// bytes for a better reader or the user: renamed beside itself to
// "<stem>.damaged-<YYYYMMDD-HHMMSS><extension>" (".kdl" when it has none), with "-2",
// "-3", ... added while that name is taken. No file is ever replaced by the rename.
// Returns the new path; throws ListFileError with the system's text when it cannot.
std::string SetAsideDamagedListFile(const std::string& path);

// The first of "<stem> (2)<extension>", "<stem> (3)<extension>", ... beside path that
// names nothing yet: where a list goes when the file at path must not be replaced.
std::string FreeListFileNameBeside(const std::string& path);
// True when nothing at all (no file, folder or link) is at path.
bool ListFileNameIsFree(const std::string& path);

// True when the folder part of path (everything up to its last "/") names an existing
// folder. A list is saved only then, so a bare file name writes nothing.
bool FolderPartExists(const std::string& path);

}  // namespace kalidrome
