#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kalidrome {

// Raised when a write cannot reach the file; the message reads "Unable to write to <path>".
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const std::string& path);
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
//  - strings are read up to 2047 characters.
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

    explicit IniFile(std::string path);

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

private:
    std::string m_path;
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
