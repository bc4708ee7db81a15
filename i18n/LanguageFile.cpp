#include "LanguageFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <sys/stat.h>
#include <time.h>

#include "IniFile.h"
#include "TextEncoding.h"

namespace kalidrome {

namespace {

// A file changed this recently may change again without a visible change of its stamps.
constexpr std::int64_t kRacySeconds = 2;
// Callers ask for a fixed set of texts; the bound only matters if one does not.
constexpr std::size_t kMaxCachedEntries = 4096;

// The blanks the INI store trims around names.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A file that is not UTF-8 was written in the Windows code page the language files
// have always used.
bool ReadsAsWindows1252(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    bytes.reserve(4096);
    std::istreambuf_iterator<char> it(in), end;
    for (std::uint64_t n = 0; it != end && n <= LanguageFile::kMaxBytes; ++it, ++n) bytes.push_back(*it);
    return !IsValidUtf8(bytes);
}

void AppendLower(std::string& out, std::string_view s) {
    for (char c : s) out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
}

}  // namespace

std::int64_t LanguageFile::RealTimeSeconds() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

LanguageFile::LanguageFile(std::string path, WallClock now) : m_path(std::move(path)), m_now(now) {}

void LanguageFile::setPath(std::string path) {
    m_path = std::move(path);
    m_haveStamp = false;
    m_cache.clear();
}

std::string LanguageFile::lookup(std::string_view key, std::string_view section) const {
    key = TrimBlanks(key);
    struct stat st {};
    if (m_path.empty() || key.empty() || ::stat(m_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::uint64_t>(st.st_size) > kMaxBytes) {
        m_haveStamp = false;
        m_cache.clear();
        return {};
    }

    Stamp stamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
    bool racy = m_now() - std::max(stamp.mtimeSec, stamp.ctimeSec) < kRacySeconds;
    if (!m_haveStamp || !(stamp == m_stamp) || racy || m_cache.size() >= kMaxCachedEntries) {
        m_cache.clear();
        m_stamp = stamp;
        m_haveStamp = true;
        m_windows1252 = ReadsAsWindows1252(m_path);
    }

    std::string cacheKey;
    AppendLower(cacheKey, section);
    cacheKey.push_back('\n');  // no section name holds a line break
    AppendLower(cacheKey, key);
    if (!racy) {
        auto it = m_cache.find(cacheKey);
        if (it != m_cache.end()) return it->second;
    }

    ++m_fileReads;
    std::string fullSection(lang::kSectionPrefix);
    fullSection += section;
    std::string value = IniFile(m_path).readString(fullSection, key, "");
    if (m_windows1252) value = Windows1252ToUtf8(value);
    // Stamped before reading: if the file changed in between, the next stat differs and
    // the answer is dropped then.
    if (!racy) m_cache.emplace(std::move(cacheKey), value);
    return value;
}

std::string LanguageFile::translate(std::string_view text, std::string_view section) const {
    std::string value = lookup(text, section);
    if (value.empty()) return std::string(text);
    return value;
}

std::string LanguageFilePath(std::string_view systemPath, std::string_view language) {
    std::string path(systemPath);
    path += language;
    path += lang::kExtension;
    return path;
}

bool LanguageFileExists(std::string_view systemPath, std::string_view language) {
    struct stat st {};
    return ::stat(LanguageFilePath(systemPath, language).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace kalidrome
