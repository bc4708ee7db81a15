#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kalidrome {

namespace platform {
class FileLock;
}

// Raised when a write cannot reach the file; the message reads "Unable to write to <path>",
// followed by ": <reason>" when the file is there but could not be read (IniFile::problem).
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const std::string& path, const std::string& reason = {});
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// One INI file with the private-profile rules the program's files have always used:
//  - section and key names compare without regard to ASCII letter case;
//  - every read looks at the file as it is now, so every handle sees every earlier
//    write of every other handle (in this process or another one);
//  - every write reaches the file at once and replaces it atomically (temporary file
//    in the same folder, then rename), keeping all other lines as they were;
//  - every write reads and rewrites the file under an advisory lock on "<file>.lock"
//    (platform::FileLock), so two processes that write different keys at the same moment
//    both keep their key. A lock that cannot be had (a read-only folder, a holder stuck
//    for seconds) does not stop the write: it goes ahead unlocked, and only a file that
//    cannot be written itself gives IniWriteError;
//  - booleans are written "1"/"0" and read as integers (non-zero is true);
//  - integers are written in decimal and read as decimal, "0x"/"0X"/"$" hexadecimal;
//    anything else yields the caller's default;
//  - strings are read up to 2047 characters, and up to the first NUL byte.
//
// Only a regular file of at most kMaxFileBytes is read. Anything else at the path (a pipe,
// a device, a folder, a file that cannot be opened or is larger) is unreadable: reads give
// the callers' defaults at once, without waiting on it, problem() says why, and every write
// is refused with IniWriteError, so that a file the program could not read is never
// replaced by one holding only what the program wrote. A missing file reads as empty.
//
// A handle keeps what it read and reads the file again only when the file has changed
// (device, inode, size, change and modification times), so many reads of an unchanged file
// cost a stat each.
//
// How odd files read:
//  - LF and CRLF line ends are both accepted; a rewrite keeps the file's line ends
//    (new lines take the style of the file's first line);
//  - a UTF-8 byte-order mark at the start is skipped, and kept by rewrites;
//  - leading and trailing blanks around names and values are ignored, and one
//    matching pair of double or single quotes around a value is removed;
//  - the first section of a name and, within it, the first key of a name win;
//  - lines starting with ";" are comments; lines without "=" (and key lines before
//    any section) carry nothing; all of them are kept by rewrites.
class IniFile {
public:
    static constexpr std::size_t kMaxValueChars = 2047;
    // Far beyond any settings or language file; bounds what one read holds in memory.
    static constexpr std::uint64_t kMaxFileBytes = 16u << 20;

    explicit IniFile(std::string path);
    ~IniFile();
    // A copy names the same file and reads it afresh; it shares nothing with the original.
    IniFile(const IniFile& other);
    IniFile& operator=(const IniFile& other);

    // Gathers every write made through one handle into one rewrite of the file: the lock
    // is taken and the file read once when the batch begins, reads and writes of the
    // handle meanwhile see the batch's content, and commit() replaces the file once,
    // atomically, still under the lock. Writes inside a batch never throw; commit() throws
    // the one IniWriteError of them all. A batch that ends without commit() writes
    // nothing. A batch begun while another is open on the same handle joins it: its
    // commit() does nothing, the outer one writes.
    class Batch {
    public:
        explicit Batch(IniFile& ini);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        void commit();

    private:
        IniFile& m_ini;
        bool m_outer = false;
        bool m_done = false;
        std::unique_ptr<platform::FileLock> m_lock;
    };

    const std::string& path() const { return m_path; }

    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    std::int32_t readInteger(std::string_view section, std::string_view key,
                             std::int32_t defaultValue) const;
    bool readBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool keyExists(std::string_view section, std::string_view key) const;
    bool sectionExists(std::string_view section) const;
    // Key names of a section in file order (first occurrence of each).
    std::vector<std::string> readSectionKeys(std::string_view section) const;

    // Throw IniWriteError when the file cannot be written.
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, std::int32_t value);
    void writeBool(std::string_view section, std::string_view key, bool value);
    void deleteKey(std::string_view section, std::string_view key);
    void eraseSection(std::string_view section);

    // Forces what has been written onto the disk (fsync).
    void flush() const;

    // Why the file cannot be read (see above), or nothing when it reads or is missing.
    std::optional<std::string> problem() const;

    struct Document;

private:
    struct Stamp {
        bool exists = false;
        std::uint64_t dev = 0, ino = 0, size = 0, mode = 0;
        std::int64_t mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
        bool operator==(const Stamp&) const = default;
    };
    // The content as it is now (the batch's while one is open).
    Document& current() const;
    // Applies a change: inside a batch to its content, otherwise under the lock to the
    // file as it is now, written back at once. change returns false when it changed nothing.
    template <typename Change>
    void change(Change&& c);
    void save();
    void forget() const;

    std::string m_path;
    mutable std::unique_ptr<Document> m_doc;
    mutable Stamp m_stamp;
    mutable bool m_loaded = false;
    Batch* m_batch = nullptr;
    bool m_batchDirty = false;
};

// Integer conversion of the INI store: decimal with an optional sign, or "0x"/"0X"/"$"
// hexadecimal (32 bits, so "0xFFFFFFFF" is -1). Surrounding blanks are allowed.
// Returns false for anything else, including values out of range.
bool ParseIniInteger(std::string_view text, std::int32_t& out);

// An interval typed or stored as text (Interval, ScreenSaverInterval): ParseIniInteger's
// rules without the blanks it allows around the number. Nothing for anything else.
std::optional<std::int32_t> ParseIntervalText(std::string_view text);

// ASCII case-insensitive comparison used for section and key names.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace kalidrome
