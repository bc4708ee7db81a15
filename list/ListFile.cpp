#include "ListFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include "AtomicFile.h"
#include "JpegHeaderReader.h"

namespace kalidrome {

namespace {

constexpr std::array<std::uint8_t, 12> kSignature = {0x45, 0x20, 0x56, 0x00, 0x54, 0x00,
                                                     0x02, 0x00, 0x20, 0x00, 0x46, 0x20};
constexpr unsigned kVersion = 2;

constexpr std::uint32_t kEntryChunk = 1;
constexpr std::uint32_t kRowStateChunk = 2;
constexpr std::uint32_t kPayloadChunk = 4;
constexpr std::uint32_t kRowStateSize = 17;       // as written, version 2
constexpr std::uint32_t kOldRowStateSize = 12;    // versions 0 and 1
constexpr std::uint32_t kRecordOverhead = 33;     // EntryChunk size less the payload
constexpr std::uint8_t kAlignment = 50;

constexpr const char* kNotEnoughData = "Unable to load tree structure, not enough data available.";
constexpr const char* kWrongFormat = "Unable to load tree structure, the format is wrong.";
constexpr const char* kUnknownVersion = "Unable to load tree structure, the version is unknown.";
constexpr const char* kReadError = "Stream read error";
constexpr const char* kWriteError = "Stream write error";
constexpr const char* kAnchorMissing = "Stream data corrupt. A node's anchor chunk is missing.";
constexpr const char* kDataAfterEnd = "Stream data corrupt. Unexpected data after node's end position.";

// Without a count (versions 0 and 1) records are read up to the end of the file.
constexpr std::uint32_t kUnlimitedCount = 2147483647;

// The whole list is gathered in memory a piece at a time and handed on in blocks.
constexpr std::size_t kWriteBlock = 1 << 20;

std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

std::string FileMessage(const char* what, const std::string& path, int error) {
    return std::string(what) + " \"" + AbsolutePath(path) + "\". " + std::strerror(error);
}

void Put8(std::string& out, std::uint8_t v) { out.push_back(static_cast<char>(v)); }

void Put16(std::string& out, std::uint16_t v) {
    Put8(out, static_cast<std::uint8_t>(v));
    Put8(out, static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

void Patch32(std::string& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

template <std::size_t N>
void ReadExact(ByteSource& in, std::array<std::uint8_t, N>& bytes) {
    if (!in.read(bytes.data(), N)) throw ListFileError(kReadError);
}

std::uint32_t Read32(ByteSource& in) {
    std::array<std::uint8_t, 4> b{};
    ReadExact(in, b);
    return Get32(b.data());
}

// Reading back the stored thumbnails while a list is written.
struct ThumbnailWriting {
    ThumbnailReadBuffer reader;
    std::vector<std::uint8_t> bytes;
    // Where each thumbnail went in the new file, when the caller wants to know.
    struct Written {
        TListItemInfo* entry;
        std::uint64_t offset;
    };
    std::vector<Written>* written = nullptr;
};

void AppendRecord(std::string& out, std::uint64_t outStart, TListItemInfo& entry, bool saveImage,
                  ThumbnailWriting& thumbnails) {
    const std::size_t start = out.size();
    Put32(out, kEntryChunk);
    Put32(out, 0);  // size, known once the payload is written
    Put32(out, kRowStateChunk);
    Put32(out, kRowStateSize);
    Put32(out, 0);  // child count: the list is flat
    Put32(out, static_cast<std::uint32_t>(entry.RowHeight));
    Put16(out, static_cast<std::uint16_t>(entry.StateWord & ~StateBits::Transient));
    Put8(out, kAlignment);
    Put8(out, 0);  // check state
    Put8(out, 0);  // check type
    Put32(out, 0);  // reserved
    Put32(out, kPayloadChunk);
    Put32(out, 0);  // payload size, below
    const std::size_t payload = out.size();
    try {
        WriteSizedString(out, entry.FileName);
        WriteSizedString(out, entry.FilePath);
        Put8(out, saveImage ? 1 : 0);
        if (saveImage) {
            // A thumbnail whose bytes cannot be read back whole and unchanged (its list
            // file was cut or rewritten by another program) is written as none, and the
            // entry loses it, so that the view has it made again from the picture.
            const bool have = entry.Thumbnail && thumbnails.reader.read(*entry.Thumbnail, thumbnails.bytes);
            if (entry.Thumbnail && !have) entry.Thumbnail.reset();
            Put32(out, have ? static_cast<std::uint32_t>(thumbnails.bytes.size()) : 0);
            if (have) {
                if (thumbnails.written) thumbnails.written->push_back({&entry, outStart + out.size()});
                out.append(reinterpret_cast<const char*>(thumbnails.bytes.data()), thumbnails.bytes.size());
            }
        }
    } catch (const ListFileError&) {
        // A payload that cannot be stored costs only itself: the sizes count what was
        // written, and the next record follows.
    }
    const auto payloadSize = static_cast<std::uint32_t>(out.size() - payload);
    Patch32(out, start + 4, kRecordOverhead + payloadSize);
    Patch32(out, payload - 4, payloadSize);
}

// The payload of one entry: names, thumbnail flag, thumbnail. Whatever fails in here is
// the entry's loss only; the caller goes on at the chunk's stated end.
void ReadPayload(ByteSource& in, TListItemInfo& entry, bool& saveImage, JpegHeaderReader& jpeg,
                 std::vector<std::uint8_t>& scratch) {
    try {
        entry.FileName = ReadSizedString(in);
        entry.FilePath = ReadSizedString(in);
        std::array<std::uint8_t, 1> flag{};
        ReadExact(in, flag);
        saveImage = flag[0] != 0;
        if (flag[0] == 0) return;
        const std::uint32_t length = Read32(in);
        // No length beyond the file's end is ever believed, so the allocation below is
        // bounded by the file's size.
        if (length == 0 || length > in.remaining()) return;
        const std::uint64_t offset = in.position();
        scratch.resize(length);
        if (!in.read(scratch.data(), length)) return;
        int width = 0, height = 0;
        if (!jpeg.readSize(scratch.data(), length, width, height)) return;
        // Read from a file, the thumbnail stays there until it is drawn or saved.
        if (std::shared_ptr<const ThumbnailStore> file = in.keptFile())
            entry.Thumbnail.emplace(std::move(file), offset, scratch.data(), length, width, height);
        else
            entry.Thumbnail.emplace(JpegImage{scratch, width, height});
    } catch (const ListFileError&) {
    }
}

// The row state chunk's body; returns the number of child records that follow it.
std::uint32_t ReadRowState(ByteSource& in, unsigned version, TListItemInfo& entry) {
    std::array<std::uint8_t, kRowStateSize> body{};
    const std::size_t size = version >= 2 ? kRowStateSize : kOldRowStateSize;
    if (!in.read(body.data(), size)) throw ListFileError(kReadError);
    const std::uint32_t children = Get32(body.data());
    entry.RowHeight = Get16(body.data() + 4);  // the low 16 bits of the stored height
    if (version >= 2) {
        entry.StateWord = Get16(body.data() + 8);
    } else {
        // The old one-byte state knew no selection bit; its bit 7 meant selected.
        const std::uint8_t old = body[8];
        entry.StateWord = static_cast<std::uint16_t>(old | ((old & 0x80) ? StateBits::Selected : StateBits::Shown));
    }
    // Alignment and check values are dropped: every save writes 50, 0 and 0 again.
    return children;
}

struct OpenRecord {
    std::uint64_t end;
    TListItemInfo* entry;
    std::uint32_t childrenLeft;
};

// One top-level entry record with whatever records are nested in it. The list is flat,
// so a nested record (never written by this program) becomes an ordinary entry right
// after the entry it is nested in, depth first; its picture is kept rather than lost.
// The nesting is followed with a stack of its own, so a chain of records thousands deep
// costs heap, not call stack. Chunk sizes are taken as unsigned, so no chunk can move the
// reading backwards and every turn consumes at least one 8-byte header.
void ReadRecord(ByteSource& in, unsigned version, WallpaperList& list, bool& saveImage,
                JpegHeaderReader& jpeg, std::vector<std::uint8_t>& scratch, std::vector<OpenRecord>& open) {
    auto startRecord = [&] {
        std::array<std::uint8_t, 8> header{};
        ReadExact(in, header);
        if (Get32(header.data()) != kEntryChunk) throw ListFileError(kAnchorMissing);
        const std::uint64_t end = in.position() + Get32(header.data() + 4);
        open.push_back(OpenRecord{end, &list.AddEntry(std::string()), 0});
    };

    open.clear();
    startRecord();
    while (!open.empty()) {
        OpenRecord& record = open.back();
        if (record.childrenLeft > 0) {
            --record.childrenLeft;
            startRecord();
            continue;
        }
        if (in.position() < record.end) {
            std::array<std::uint8_t, 8> header{};
            ReadExact(in, header);
            const std::uint32_t type = Get32(header.data());
            const std::uint32_t size = Get32(header.data() + 4);
            if (type == kRowStateChunk) {
                record.childrenLeft = ReadRowState(in, version, *record.entry);
            } else if (type == kPayloadChunk) {
                if (size > 0) {
                    const std::uint64_t payload = in.position();
                    ReadPayload(in, *record.entry, saveImage, jpeg, scratch);
                    in.seek(payload + size);
                }
            } else {
                in.seek(in.position() + size);
            }
            continue;
        }
        if (in.position() != record.end) throw ListFileError(kDataAfterEnd);
        open.pop_back();
    }
}

// Hands the list file's bytes to flush in blocks. Rows never laid out are laid out
// first; that changes their heights, which the view learns of through one bulk update.
template <typename Flush>
void EncodeList(WallpaperList& list, bool saveImage, bool showImages, Flush&& flush,
                std::vector<ThumbnailWriting::Written>* written = nullptr) {
    std::optional<ListUpdate> update;
    for (TListItemInfo* e = list.first(); e && !update; e = list.next(*e))
        if (!e->laidOut()) update.emplace(list);

    ThumbnailWriting thumbnails;
    thumbnails.written = written;
    std::uint64_t flushed = 0;
    std::string block;
    block.reserve(kWriteBlock + 64 * 1024);
    block.append(reinterpret_cast<const char*>(kSignature.data()), kSignature.size());
    Put32(block, static_cast<std::uint32_t>(list.count()));
    for (TListItemInfo* e = list.first(); e; e = list.next(*e)) {
        if (!e->laidOut()) WallpaperList::LayOutRow(*e, showImages);
        AppendRecord(block, flushed, *e, saveImage, thumbnails);
        if (block.size() >= kWriteBlock) {
            flush(block);
            flushed += block.size();
            block.clear();
        }
    }
    flush(block);
}

}  // namespace

void WriteSizedString(std::string& out, std::string_view text) {
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) throw ListFileError(kWriteError);
    Put32(out, static_cast<std::uint32_t>(text.size()));
    out.append(text);
}

std::string ReadSizedString(ByteSource& in) {
    const std::uint32_t length = Read32(in);
    // Checked before anything is allocated: a count beyond the file's end is damage.
    if (length > in.remaining()) throw ListFileError(kReadError);
    std::string text(length, '\0');
    if (!in.read(text.data(), length)) throw ListFileError(kReadError);
    return text;
}

void WriteListFile(const std::string& path, WallpaperList& list, bool saveImage, bool showImages) {
    std::optional<platform::AtomicFile> file;
    try {
        file.emplace(path);
    } catch (const std::system_error& e) {
        throw ListFileError(FileMessage("Cannot create file", path, e.code().value()), e.code().value());
    }
    std::vector<ThumbnailWriting::Written> written;
    std::uint64_t size = 0;
    try {
        EncodeList(
            list, saveImage, showImages,
            [&](const std::string& block) {
                file->write(block.data(), block.size());
                size += block.size();
            },
            &written);
        // A lost list is hard to make again: worth the wait for the disk.
        file->commit(platform::AtomicFile::Sync::Yes);
    } catch (const std::system_error& e) {
        throw ListFileError(kWriteError, e.code().value());
    }
    // The thumbnails now read from the new file: the old one (and the spill file of those
    // made since it was read) is let go. Should another program have put a different file in
    // its place meanwhile, the check of each thumbnail's bytes finds it out when they are
    // read, and the thumbnail is made again.
    const int fd = ::open(file->targetPath().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != size) {
        ::close(fd);
        return;
    }
    const std::shared_ptr<const ThumbnailStore> saved = KeepListFileOpen(fd);
    for (const ThumbnailWriting::Written& w : written) w.entry->Thumbnail->moveTo(saved, w.offset);
    if (saveImage) list.thumbnailsSaved();
}

std::string EncodeListFile(WallpaperList& list, bool saveImage, bool showImages) {
    std::string bytes;
    EncodeList(list, saveImage, showImages, [&](const std::string& block) { bytes += block; });
    return bytes;
}

void ReadListFrom(ByteSource& in, WallpaperList& list, bool& saveImage) {
    std::array<std::uint8_t, 12> signature{};
    if (!in.read(signature.data(), signature.size())) throw ListFileError(kNotEnoughData);
    // The fifth unit (a blank) has never been checked.
    for (std::size_t unit : {0u, 1u, 2u, 5u})
        if (Get16(signature.data() + 2 * unit) != Get16(kSignature.data() + 2 * unit))
            throw ListFileError(kWrongFormat);
    const unsigned version = Get16(signature.data() + 6);
    if (version > kVersion) throw ListFileError(kUnknownVersion);
    // Taken as unsigned: a count of 2^31 or more just reads up to the end of the file.
    std::uint32_t count = version >= 2 ? Read32(in) : kUnlimitedCount;

    ListUpdate update(list);
    JpegHeaderReader jpeg;
    std::vector<std::uint8_t> scratch;
    std::vector<OpenRecord> open;
    while (count > 0 && in.position() < in.size()) {
        --count;
        ReadRecord(in, version, list, saveImage, jpeg, scratch, open);
    }
}

void ReadListData(const std::uint8_t* data, std::size_t size, WallpaperList& list, bool& saveImage) {
    MemoryByteSource in(data, size);
    ReadListFrom(in, list, saveImage);
}

void ReadListFile(const std::string& path, WallpaperList& list, bool& saveImage) {
    // Non-blocking, so that a pipe at path cannot hold the program up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw ListFileError(FileMessage("Cannot open file", path, errno), errno, true);
    struct stat st {};
    int error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (error != 0) {
        ::close(fd);
        throw ListFileError(FileMessage("Cannot open file", path, error), error, true);
    }
    if (!S_ISREG(st.st_mode)) {
        // A pipe or a device has no list to give; reading one could go on for ever.
        ::close(fd);
        throw ListFileError("Cannot open file \"" + AbsolutePath(path) + "\". It is not a regular file.", EINVAL,
                            true);
    }
    FileByteSource in(fd, static_cast<std::uint64_t>(st.st_size));
    ReadListFrom(in, list, saveImage);
}

namespace {

struct NameParts {
    std::string folder;     // with its trailing "/", or empty
    std::string stem;
    std::string extension;  // from the last "." of the name on, or empty
};

NameParts SplitName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    NameParts parts;
    parts.folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        parts.stem = name;
    } else {
        parts.stem = name.substr(0, dot);
        parts.extension = name.substr(dot);
    }
    return parts;
}

// rename() that never replaces: 0, or the errno (EEXIST when target is taken).
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a second name, then the old one goes.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    if (::unlink(from.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return error;
    }
    return 0;
}

// Enough tries for any folder a person keeps; the search always ends.
constexpr int kMaxNameTries = 10000;

}  // namespace

std::string SetAsideDamagedListFile(const std::string& path) {
    const NameParts parts = SplitName(path);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = parts.folder + parts.stem + ".damaged-" + stamp;
    const std::string extension = parts.extension.empty() ? std::string(".kdl") : parts.extension;
    int error = EEXIST;
    for (int n = 1; n <= kMaxNameTries && error == EEXIST; ++n) {
        const std::string aside = base + (n == 1 ? std::string() : "-" + std::to_string(n)) + extension;
        error = RenameNoReplace(path, aside);
        if (error == 0) return aside;
    }
    throw ListFileError(FileMessage("Cannot rename file", path, error));
}

std::optional<ListFileStamp> StampListFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return ListFileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                         static_cast<std::uint64_t>(st.st_size),
                         static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

bool ListFileNameIsFree(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

std::string FreeListFileNameBeside(const std::string& path) {
    const NameParts parts = SplitName(path);
    std::string candidate;
    for (int n = 2; n <= kMaxNameTries; ++n) {
        candidate = parts.folder + parts.stem + " (" + std::to_string(n) + ")" + parts.extension;
        if (ListFileNameIsFree(candidate)) break;
    }
    return candidate;
}

bool FolderPartExists(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kalidrome
