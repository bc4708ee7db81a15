#include "IniFile.h"

#include "AtomicFile.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kalidrome {

IniWriteError::IniWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path), m_path(path) {}

namespace {

// Only this much of a line is looked at when it is parsed; longer lines are still
// copied whole by rewrites. It bounds the memory a hostile file can make us use.
constexpr std::size_t kLineCap = 16 * 1024;

struct Line {
    std::uint64_t start = 0;       // offset of the first byte (after a BOM on line 0)
    std::uint64_t contentEnd = 0;  // offset just past the content (before "\r\n" or "\n")
    std::uint64_t next = 0;        // offset of the next line
    std::string_view text;         // content, at most kLineCap bytes
};

struct FileFacts {
    bool exists = false;
    std::uint64_t size = 0;
    bool crlf = false;               // the first line ends with "\r\n"
    bool endsWithNewline = true;     // an empty file counts as ending with one
};

using Fd = platform::UniqueFd;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Calls onLine for every line of the file at fd until it returns false.
FileFacts ScanLines(int fd, const std::function<bool(const Line&)>& onLine) {
    FileFacts facts;
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return facts;
    facts.exists = true;

    char buf[64 * 1024];
    std::string cur;
    cur.reserve(256);
    std::uint64_t offset = 0;     // offset of buf[0] in the file
    std::uint64_t lineStart = 0;  // offset where the current line starts
    bool firstLine = true;
    bool bomChecked = false;
    char lastByte = '\n';
    char prevByte = 0;            // the byte before the current one within this line
    bool stop = false;

    auto finishLine = [&](std::uint64_t newlineAt, bool hadNewline) {
        std::uint64_t contentEnd = newlineAt;
        bool cr = hadNewline && prevByte == '\r' && contentEnd > lineStart;
        if (cr) contentEnd -= 1;
        if (firstLine && hadNewline) facts.crlf = cr;
        std::string_view text(cur);
        if (cr && text.size() == contentEnd - lineStart + 1) text.remove_suffix(1);
        Line line{lineStart, contentEnd, hadNewline ? newlineAt + 1 : newlineAt, text};
        if (!onLine(line)) stop = true;
        firstLine = false;
        cur.clear();
        prevByte = 0;
    };

    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::size_t i = 0;
        if (!bomChecked) {
            // The byte-order mark can only be looked for in the first chunk; a file that
            // starts with fewer than three bytes has none.
            bomChecked = true;
            if (n >= 3 && std::memcmp(buf, "\xEF\xBB\xBF", 3) == 0) {
                i = 3;
                lineStart = 3;
            }
        }
        for (; i < static_cast<std::size_t>(n) && !stop; ++i) {
            char c = buf[i];
            if (c == '\n') {
                finishLine(offset + i, true);
                lineStart = offset + i + 1;
            } else {
                if (cur.size() < kLineCap) cur.push_back(c);
                prevByte = c;
            }
        }
        if (stop) break;
        offset += static_cast<std::uint64_t>(n);
        lastByte = buf[n - 1];
    }
    facts.size = static_cast<std::uint64_t>(st.st_size);
    if (!stop) {
        facts.size = offset;
        if (lineStart < offset) finishLine(offset, false);
        facts.endsWithNewline = (offset == 0) || lastByte == '\n';
    }
    return facts;
}

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::string_view name;
    std::string_view value;
};

Parsed ParseLine(std::string_view text) {
    Parsed p;
    std::string_view t = Trim(text);
    if (t.empty() || t.front() == ';') return p;
    if (t.front() == '[') {
        t.remove_prefix(1);
        std::size_t close = t.find(']');
        p.kind = Kind::Section;
        p.name = Trim(close == std::string_view::npos ? t : t.substr(0, close));
        return p;
    }
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return p;
    p.name = Trim(t.substr(0, eq));
    if (p.name.empty()) return p;
    p.kind = Kind::Key;
    p.value = Trim(t.substr(eq + 1));
    return p;
}

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v.remove_prefix(1);
        v.remove_suffix(1);
    }
    return v;
}

// Cuts a UTF-8 text after maxChars characters (a malformed byte counts as one).
std::string_view CutChars(std::string_view s, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) {
            if (chars == maxChars) return s.substr(0, i);
            ++chars;
        }
    }
    return s;
}

// Where the first section of a name and, in it, the first key of a name stand.
struct Location {
    FileFacts facts;
    bool sectionFound = false;
    std::uint64_t sectionStart = 0;   // start of the header line
    std::uint64_t sectionEnd = 0;     // start of the next header line, or the file's end
    std::uint64_t insertAt = 0;       // just past the section's last non-blank line
    bool insertAtEnd = false;         // insertAt is the end of the file
    bool keyFound = false;
    Line keyLine;
    std::string value;                // the found key's value, as read
    std::string keyName;              // the found key's name as the file spells it
    std::vector<std::string> keys;    // with collectKeys: first occurrence of each key
};

Location Locate(const std::string& path, std::string_view section, std::string_view key,
                bool collectKeys = false) {
    Location loc;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return loc;
    bool inSection = false;
    bool sectionDone = false;
    loc.facts = ScanLines(fd.get(), [&](const Line& line) {
        Parsed p = ParseLine(line.text);
        if (p.kind == Kind::Section) {
            if (inSection) {
                inSection = false;
                sectionDone = true;
                loc.sectionEnd = line.start;
                // With collectKeys the whole section is read; otherwise the key is known by now.
                return false;
            }
            if (!sectionDone && EqualsNoCase(p.name, section)) {
                inSection = true;
                loc.sectionFound = true;
                loc.sectionStart = line.start;
                loc.insertAt = line.next;
                loc.insertAtEnd = line.next == line.contentEnd;
            }
            return true;
        }
        if (!inSection) return true;
        if (!Trim(line.text).empty()) {
            loc.insertAt = line.next;
            loc.insertAtEnd = line.next == line.contentEnd;
        }
        if (p.kind != Kind::Key) return true;
        if (collectKeys) {
            bool seen = false;
            for (const auto& k : loc.keys) seen = seen || EqualsNoCase(k, p.name);
            if (!seen) loc.keys.emplace_back(p.name);
        }
        if (!loc.keyFound && !key.empty() && EqualsNoCase(p.name, key)) {
            loc.keyFound = true;
            loc.keyLine = line;
            loc.keyName = std::string(p.name);
            loc.value = std::string(CutChars(Unquote(p.value), IniFile::kMaxValueChars));
        }
        return true;
    });
    if (inSection) loc.sectionEnd = loc.facts.size;
    return loc;
}

// A piece of the new file: a byte range of the old one, or new text.
struct Piece {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    std::string text;
    bool isText = false;
};

Piece Range(std::uint64_t from, std::uint64_t to) { return Piece{from, to, {}, false}; }
Piece Text(std::string text) { return Piece{0, 0, std::move(text), true}; }

bool CopyRange(int from, platform::AtomicFile& to, std::uint64_t begin, std::uint64_t end) {
    char buf[64 * 1024];
    while (begin < end) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, end - begin));
        ssize_t n = ::pread(from, buf, want, static_cast<off_t>(begin));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        to.write(buf, static_cast<std::size_t>(n));
        begin += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Writes the pieces to a new file beside path and renames it over path. A file without
// write bits is read-only for us even where the process could override that (root):
// replacing it would silently defeat the user's choice.
void Rewrite(const std::string& path, const std::vector<Piece>& pieces) {
    try {
        platform::AtomicFile out(path);
        Fd in(::open(out.targetPath().c_str(), O_RDONLY | O_CLOEXEC));
        for (const Piece& piece : pieces) {
            if (piece.isText) {
                out.write(piece.text.data(), piece.text.size());
            } else if (piece.to > piece.from && (in.get() < 0 || !CopyRange(in.get(), out, piece.from, piece.to))) {
                throw IniWriteError(path);
            }
        }
        out.commit();
    } catch (const std::system_error&) {
        throw IniWriteError(path);
    }
}

std::string CleanValue(std::string_view value) {
    // A line break inside a value would start a new line in the file.
    std::string v(value);
    for (char& c : v)
        if (c == '\n' || c == '\r') c = ' ';
    return v;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::optional<std::int32_t> ParseIntervalText(std::string_view text) {
    if (text.empty() || text.front() == ' ' || text.back() == ' ' || text.front() == '\t' || text.back() == '\t')
        return std::nullopt;
    std::int32_t value = 0;
    if (!ParseIniInteger(text, value)) return std::nullopt;
    return value;
}

bool ParseIniInteger(std::string_view text, std::int32_t& out) {
    std::string_view t = Trim(text);
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    } else if (t.size() > 1 && t[0] == '$') {
        base = 16;
        t.remove_prefix(1);
    }
    if (t.empty()) return false;
    std::uint64_t v = 0;
    for (char c : t) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull) return false;
    }
    if (base == 16) {
        // Hexadecimal spells the 32 bits: 0xFFFFFFFF is -1.
        auto bits = static_cast<std::uint32_t>(v);
        if (negative) bits = 0u - bits;
        out = static_cast<std::int32_t>(bits);
        return true;
    }
    if (negative) {
        if (v > 0x80000000ull) return false;
        out = static_cast<std::int32_t>(-static_cast<std::int64_t>(v));
    } else {
        if (v > 0x7FFFFFFFull) return false;
        out = static_cast<std::int32_t>(v);
    }
    return true;
}

IniFile::IniFile(std::string path) : m_path(std::move(path)) {}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    Location loc = Locate(m_path, section, key);
    if (!loc.keyFound) return std::string(CutChars(defaultValue, kMaxValueChars));
    return loc.value;
}

std::int32_t IniFile::readInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
    Location loc = Locate(m_path, section, key);
    std::int32_t v = 0;
    if (loc.keyFound && ParseIniInteger(loc.value, v)) return v;
    return defaultValue;
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::keyExists(std::string_view section, std::string_view key) const {
    return Locate(m_path, section, key).keyFound;
}

bool IniFile::sectionExists(std::string_view section) const {
    return Locate(m_path, section, {}).sectionFound;
}

std::vector<std::string> IniFile::readSectionKeys(std::string_view section) const {
    return Locate(m_path, section, {}, true).keys;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    platform::FileLock lock(m_path);
    Location loc = Locate(m_path, section, key);
    const std::string eol = loc.facts.crlf ? "\r\n" : "\n";
    // A key that is already there keeps the spelling the file gives it.
    const std::string line = (loc.keyFound ? loc.keyName : std::string(key)) + "=" + CleanValue(value);
    std::vector<Piece> pieces;
    if (loc.keyFound) {
        pieces = {Range(0, loc.keyLine.start), Text(line), Range(loc.keyLine.contentEnd, loc.facts.size)};
    } else if (loc.sectionFound) {
        std::string add = (loc.insertAtEnd ? eol : std::string()) + line + eol;
        pieces = {Range(0, loc.insertAt), Text(add), Range(loc.insertAt, loc.facts.size)};
    } else {
        std::string add = (loc.facts.endsWithNewline ? std::string() : eol) + "[" + std::string(section) +
                          "]" + eol + line + eol;
        pieces = {Range(0, loc.facts.size), Text(add)};
    }
    Rewrite(m_path, pieces);
}

void IniFile::writeInteger(std::string_view section, std::string_view key, std::int32_t value) {
    writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    writeString(section, key, value ? "1" : "0");
}

void IniFile::deleteKey(std::string_view section, std::string_view key) {
    platform::FileLock lock(m_path);
    Location loc = Locate(m_path, section, key);
    if (!loc.keyFound) return;
    Rewrite(m_path, {Range(0, loc.keyLine.start), Range(loc.keyLine.next, loc.facts.size)});
}

void IniFile::eraseSection(std::string_view section) {
    platform::FileLock lock(m_path);
    Location loc = Locate(m_path, section, {});
    if (!loc.sectionFound) return;
    Rewrite(m_path, {Range(0, loc.sectionStart), Range(loc.sectionEnd, loc.facts.size)});
}

void IniFile::flush() const {
    Fd fd(::open(platform::FollowLink(m_path).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace kalidrome
