#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kalidrome {

// A language file: "<System folder><language>.lng", INI text with one section per window
// ("WordList#MainForm", "WordList#PrefForm", "WordList#PreviewForm",
// "WordList#BrowseForm"), the English text as key and its translation as value.
//
// The file is read with the INI store (IniFile), whose rules are the language file's:
//  - UTF-8 text; a UTF-8 byte-order mark at the very start is skipped. A file that is
//    not valid UTF-8 throughout is Windows-1252 text (how language files were written for
//    years): its values are converted to UTF-8 (keys are compared as bytes, so a key
//    with letters beyond ASCII only matches in a UTF-8 file). LF and CRLF line ends
//    both work.
//  - Section names and keys compare without regard to ASCII letter case. Blanks at both
//    ends of a key do not count, neither in the file nor in the text looked up, so
//    "C&lose      " is found under "C&lose".
//  - A key ends at the first "=" on its line. The value is the rest of the line without
//    its outer blanks; one matching pair of double or single quotes around it is removed;
//    it is then cut to its first 2047 characters (UTF-8 characters; a malformed byte
//    counts as one). There are no escapes.
//  - An empty value, like a missing entry, means "no translation".
//  - A line whose first non-blank character is ";" is a comment, so no key starts with
//    ";"; one whose first non-blank character is "[" is a section header, so no key
//    starts with "["; a line without "=" carries nothing.
//  - A key given twice in a section: the first one counts. A section given twice: only
//    its first occurrence is read.
//  - Only a plain file (or a link to one) of at most kMaxBytes is read. A missing file,
//    a folder, a pipe, a device, an unreadable file or a larger file reads as a file
//    with no entries, so a hostile file can neither block the reader nor make it scan
//    gigabytes for every caption. Lines longer than 16 KiB are only looked at in their
//    first 16 KiB (the INI store's bound on memory).
//
// Every lookup answers what the file holds now. Answers are kept while the file's
// identity and stamps (device, inode, size, modification and change times to the
// nanosecond) stay the same, so the title's once-a-second "sec" costs one stat(). A
// file changed within the last two seconds is not trusted to show every change in its
// stamps (coarse file-system clocks) and is read anew at every lookup.
class LanguageFile {
public:
    static constexpr std::uint64_t kMaxBytes = 1024 * 1024;

    // Seconds since the epoch, the clock file stamps are taken on.
    using WallClock = std::int64_t (*)();
    static std::int64_t RealTimeSeconds();

    // now: replaced by tests to make a fresh file count as old.
    explicit LanguageFile(std::string path = {}, WallClock now = &RealTimeSeconds);

    const std::string& path() const { return m_path; }
    // Points the reader at another file; forgets what it knew.
    void setPath(std::string path);

    // The value of the entry `key` in section "WordList#" + section, or "" when there is
    // none (missing file, missing entry, empty value).
    std::string lookup(std::string_view key, std::string_view section) const;

    // The translation of text from section "WordList#" + section, or text itself.
    std::string translate(std::string_view text, std::string_view section) const;

    // How many lookups went to the file itself (for tests of the cache).
    std::size_t fileReads() const { return m_fileReads; }

private:
    struct Stamp {
        std::uint64_t dev = 0;
        std::uint64_t ino = 0;
        std::uint64_t size = 0;
        std::int64_t mtimeSec = 0;
        std::int64_t mtimeNsec = 0;
        std::int64_t ctimeSec = 0;
        std::int64_t ctimeNsec = 0;
        bool operator==(const Stamp&) const = default;
    };

    std::string m_path;
    WallClock m_now;
    mutable Stamp m_stamp;
    mutable bool m_haveStamp = false;
    // The file as last stamped is not valid UTF-8: its values are Windows-1252.
    mutable bool m_windows1252 = false;
    mutable std::unordered_map<std::string, std::string> m_cache;
    mutable std::size_t m_fileReads = 0;
};

// Section names of the language files, without the "WordList#" prefix.
namespace lang {
inline constexpr std::string_view kSectionPrefix = "WordList#";
inline constexpr std::string_view kMainForm = "MainForm";
inline constexpr std::string_view kPrefForm = "PrefForm";
inline constexpr std::string_view kPreviewForm = "PreviewForm";
inline constexpr std::string_view kBrowseForm = "BrowseForm";
inline constexpr std::string_view kExtension = ".lng";
}  // namespace lang

// "<systemPath><language>.lng"; systemPath ends with "/".
std::string LanguageFilePath(std::string_view systemPath, std::string_view language);

// Whether a language's file is there to be applied: a plain file (or a link to one).
bool LanguageFileExists(std::string_view systemPath, std::string_view language);

}  // namespace kalidrome
