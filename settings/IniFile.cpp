#include "IniFile.h"

#include "AtomicFile.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <unordered_map>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kalidrome {

IniWriteError::IniWriteError(const std::string& path, const std::string& reason)
    : std::runtime_error("Unable to write to " + path + (reason.empty() ? std::string() : ": " + reason)),
      m_path(path) {}

namespace {

// Only this much of a line is looked at when it is parsed; longer lines are still
// copied whole by rewrites. It bounds the work a hostile file can make us do.
constexpr std::size_t kLineCap = 16 * 1024;

using Fd = platform::UniqueFd;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

enum class Kind { Other, Section, Key };

struct Parsed {
    Kind kind = Kind::Other;
    std::string_view name;
    std::string_view value;
};

Parsed ParseLine(std::string_view text) {
    Parsed p;
    std::string_view t = Trim(text.substr(0, std::min(text.size(), kLineCap)));
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

bool IsBlankLine(std::string_view text) { return Trim(text.substr(0, std::min(text.size(), kLineCap))).empty(); }

std::string_view Unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v.remove_prefix(1);
        v.remove_suffix(1);
    }
    return v;
}

// Cuts a UTF-8 text after maxChars characters (a malformed byte counts as one) and at its
// first NUL byte, where every C string built from it would end anyway.
std::string_view CutChars(std::string_view s, std::size_t maxChars) {
    s = s.substr(0, s.find('\0'));
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

std::string CleanValue(std::string_view value) {
    // A line break inside a value would start a new line in the file.
    std::string v(value);
    for (char& c : v)
        if (c == '\n' || c == '\r') c = ' ';
    return v;
}

}  // namespace

// The file's lines, each with its own line end, and where the first section of each name
// and, within it, each key stand.
struct IniFile::Document {
    struct Line {
        std::string text;  // without its line end
        std::string eol;   // "\n", "\r\n", or "" for a last line without one
    };
    using Lines = std::list<Line>;
    using Pos = Lines::iterator;
    struct Section {
        Pos header;
        Pos last;  // the section's last non-blank line (the header when it has none)
        // Every line of each key name, in file order; the first one counts.
        std::unordered_map<std::string, std::vector<Pos>> keys;
    };

    bool bom = false;
    Lines lines;
    std::unordered_map<std::string, Section> sections;
    std::optional<std::string> problem;

    std::string newEol() const {
        return !lines.empty() && lines.front().eol == "\r\n" ? std::string("\r\n") : std::string("\n");
    }

    void parse(std::string_view bytes) {
        if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            bom = true;
            bytes.remove_prefix(3);
        }
        while (!bytes.empty()) {
            const std::size_t nl = bytes.find('\n');
            Line line;
            if (nl == std::string_view::npos) {
                line.text = std::string(bytes);
                bytes = {};
            } else {
                const bool cr = nl > 0 && bytes[nl - 1] == '\r';
                line.text = std::string(bytes.substr(0, cr ? nl - 1 : nl));
                line.eol = cr ? "\r\n" : "\n";
                bytes.remove_prefix(nl + 1);
            }
            lines.push_back(std::move(line));
        }
        index();
    }

    void index() {
        sections.clear();
        Section* in = nullptr;
        for (Pos it = lines.begin(); it != lines.end(); ++it) {
            const Parsed p = ParseLine(it->text);
            if (p.kind == Kind::Section) {
                auto [at, added] = sections.try_emplace(Lower(p.name), Section{it, it, {}});
                in = added ? &at->second : nullptr;
                continue;
            }
            if (!in) continue;
            if (!IsBlankLine(it->text)) in->last = it;
            if (p.kind == Kind::Key) in->keys[Lower(p.name)].push_back(it);
        }
    }

    std::string bytes() const {
        std::string out;
        if (bom) out = "\xEF\xBB\xBF";
        for (const Line& line : lines) {
            out += line.text;
            out += line.eol;
        }
        return out;
    }

    const Section* section(std::string_view name) const {
        auto it = sections.find(Lower(name));
        return it == sections.end() ? nullptr : &it->second;
    }
    // The line of a key, if it is there.
    std::optional<Pos> key(std::string_view sectionName, std::string_view keyName) const {
        const Section* s = section(sectionName);
        if (!s) return std::nullopt;
        auto it = s->keys.find(Lower(keyName));
        if (it == s->keys.end() || it->second.empty()) return std::nullopt;
        return it->second.front();
    }

    Pos insertAfter(Pos at, std::string text) {
        if (at->eol.empty()) at->eol = newEol();
        return lines.insert(std::next(at), Line{std::move(text), newEol()});
    }

    void write(std::string_view sectionName, std::string_view keyName, std::string_view value) {
        if (auto at = key(sectionName, keyName)) {
            // A key that is already there keeps the spelling the file gives it.
            (*at)->text = std::string(ParseLine((*at)->text).name) + "=" + CleanValue(value);
            return;
        }
        const std::string line = std::string(keyName) + "=" + CleanValue(value);
        auto s = sections.find(Lower(sectionName));
        if (s == sections.end()) {
            const std::string eol = newEol();
            if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = eol;
            const Pos header = lines.insert(lines.end(), Line{"[" + std::string(sectionName) + "]", eol});
            s = sections.try_emplace(Lower(sectionName), Section{header, header, {}}).first;
        }
        Section& sec = s->second;
        sec.last = insertAfter(sec.last, line);
        sec.keys[Lower(keyName)].push_back(sec.last);
    }

    bool erase(std::string_view sectionName, std::string_view keyName) {
        auto s = sections.find(Lower(sectionName));
        if (s == sections.end()) return false;
        Section& sec = s->second;
        auto k = sec.keys.find(Lower(keyName));
        if (k == sec.keys.end() || k->second.empty()) return false;
        const Pos line = k->second.front();
        k->second.erase(k->second.begin());
        if (sec.last == line) {
            Pos before = line;
            do --before;
            while (before != sec.header && IsBlankLine(before->text));
            sec.last = before;
        }
        lines.erase(line);
        return true;
    }

    bool eraseSection(std::string_view sectionName) {
        const Section* sec = section(sectionName);
        if (!sec) return false;
        Pos end = std::next(sec->header);
        while (end != lines.end() && ParseLine(end->text).kind != Kind::Section) ++end;
        lines.erase(sec->header, end);
        index();
        return true;
    }
};

namespace {

IniFile::Document ReadDocument(const std::string& path, const struct stat& seen) {
    IniFile::Document doc;
    auto unreadable = [&doc](std::string why) {
        doc.problem = std::move(why);
        return std::move(doc);
    };
    const std::string stay = "; the program uses its defaults and leaves it as it is";
    if (!S_ISREG(seen.st_mode)) return unreadable("it is not a regular file" + stay);
    if (static_cast<std::uint64_t>(seen.st_size) > IniFile::kMaxFileBytes)
        return unreadable("it is larger than " + std::to_string(IniFile::kMaxFileBytes >> 20) + " MB" + stay);
    // Non-blocking, so that a pipe put there since the stat cannot hold the program up.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        return unreadable("it cannot be read (" + std::string(std::strerror(errno)) + ")" + stay);
    if (!S_ISREG(st.st_mode)) return unreadable("it is not a regular file" + stay);
    // Room for the size seen and a byte more (to notice growth), grown while the file is
    // longer, up to one byte beyond the limit: a small file costs no buffer of the limit's size.
    const std::size_t limit = static_cast<std::size_t>(IniFile::kMaxFileBytes) + 1;
    std::string bytes(std::min(limit, std::max<std::size_t>(static_cast<std::size_t>(st.st_size) + 1, 4096)), '\0');
    std::size_t have = 0;
    for (;;) {
        if (have == bytes.size()) {
            if (bytes.size() == limit) break;
            bytes.resize(std::min(limit, bytes.size() * 2));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return unreadable("it cannot be read (" + std::string(std::strerror(errno)) + ")" + stay);
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    if (have > IniFile::kMaxFileBytes)
        return unreadable("it is larger than " + std::to_string(IniFile::kMaxFileBytes >> 20) + " MB" + stay);
    bytes.resize(have);
    doc.parse(bytes);
    return doc;
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
IniFile::~IniFile() = default;
IniFile::IniFile(const IniFile& other) : m_path(other.m_path) {}
IniFile& IniFile::operator=(const IniFile& other) {
    if (this != &other) {
        m_path = other.m_path;
        forget();
    }
    return *this;
}

void IniFile::forget() const {
    m_loaded = false;
    m_doc.reset();
}

namespace {

// What tells one state of the file from another; nothing exists when stat fails.
template <typename Stamp>
Stamp StampOf(const std::string& path, struct stat& st) {
    Stamp stamp;
    if (::stat(path.c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.dev = static_cast<std::uint64_t>(st.st_dev);
    stamp.ino = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.mode = static_cast<std::uint64_t>(st.st_mode);
    stamp.mtimeSec = st.st_mtim.tv_sec;
    stamp.mtimeNsec = st.st_mtim.tv_nsec;
    stamp.ctimeSec = st.st_ctim.tv_sec;
    stamp.ctimeNsec = st.st_ctim.tv_nsec;
    return stamp;
}

}  // namespace

IniFile::Document& IniFile::current() const {
    if (m_batch && m_doc) return *m_doc;
    struct stat st {};
    const Stamp stamp = StampOf<Stamp>(m_path, st);
    if (m_loaded && m_doc && stamp == m_stamp) return *m_doc;
    const int statError = stamp.exists ? 0 : errno;
    m_doc = std::make_unique<Document>();
    if (stamp.exists) {
        *m_doc = ReadDocument(m_path, st);
    } else if (statError != ENOENT) {
        // Something is there that cannot even be looked at (a folder without search rights
        // on the way, a link loop): not to be replaced.
        m_doc->problem = "it cannot be read (" + std::string(std::strerror(statError)) +
                         "); the program uses its defaults and leaves it as it is";
    }
    m_stamp = stamp;
    m_loaded = true;
    return *m_doc;
}

template <typename Change>
void IniFile::change(Change&& c) {
    if (m_batch) {
        Document& doc = current();
        if (!doc.problem && c(doc)) m_batchDirty = true;
        return;
    }
    platform::FileLock lock(m_path);
    Document& doc = current();
    if (doc.problem) throw IniWriteError(m_path, *doc.problem);
    if (!c(doc)) return;
    save();
}

void IniFile::save() {
    try {
        try {
            platform::AtomicFile out(m_path);
            const std::string bytes = m_doc->bytes();
            out.write(bytes.data(), bytes.size());
            out.commit();
        } catch (const std::system_error&) {
            throw IniWriteError(m_path);
        }
    } catch (...) {
        // What is in memory no longer matches the file.
        forget();
        throw;
    }
    // Taken while the lock is still held, so the stamp is that of the file just written
    // and what is in memory stays valid for the next read.
    struct stat st {};
    m_stamp = StampOf<Stamp>(m_path, st);
}

IniFile::Batch::Batch(IniFile& ini) : m_ini(ini) {
    if (ini.m_batch) return;
    m_outer = true;
    m_lock = std::make_unique<platform::FileLock>(ini.m_path);
    ini.current();
    ini.m_batch = this;
    ini.m_batchDirty = false;
}

IniFile::Batch::~Batch() {
    if (!m_outer || m_done) return;
    m_ini.m_batch = nullptr;
    // Changes never written must not be read as if they were.
    if (m_ini.m_batchDirty) m_ini.forget();
}

void IniFile::Batch::commit() {
    if (!m_outer || m_done) return;
    m_done = true;
    m_ini.m_batch = nullptr;
    const std::optional<std::string> problem = m_ini.m_doc ? m_ini.m_doc->problem : std::nullopt;
    if (problem) throw IniWriteError(m_ini.m_path, *problem);
    if (m_ini.m_batchDirty) m_ini.save();
}

std::optional<std::string> IniFile::problem() const { return current().problem; }

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    const Document& doc = current();
    const auto at = doc.key(section, key);
    if (!at) return std::string(CutChars(defaultValue, kMaxValueChars));
    return std::string(CutChars(Unquote(ParseLine((*at)->text).value), kMaxValueChars));
}

std::int32_t IniFile::readInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
    const Document& doc = current();
    const auto at = doc.key(section, key);
    std::int32_t v = 0;
    if (at && ParseIniInteger(CutChars(Unquote(ParseLine((*at)->text).value), kMaxValueChars), v)) return v;
    return defaultValue;
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::keyExists(std::string_view section, std::string_view key) const {
    return current().key(section, key).has_value();
}

bool IniFile::sectionExists(std::string_view section) const { return current().section(section) != nullptr; }

std::vector<std::string> IniFile::readSectionKeys(std::string_view section) const {
    const Document& doc = current();
    const Document::Section* sec = doc.section(section);
    std::vector<std::string> keys;
    if (!sec) return keys;
    for (auto it = std::next(sec->header); it != doc.lines.end(); ++it) {
        const Parsed p = ParseLine(it->text);
        if (p.kind == Kind::Section) break;
        if (p.kind != Kind::Key) continue;
        // The first line of each name is the one the section's index holds.
        auto k = sec->keys.find(Lower(p.name));
        if (k != sec->keys.end() && !k->second.empty() && k->second.front() == it) keys.emplace_back(p.name);
    }
    return keys;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    change([&](Document& doc) {
        doc.write(section, key, value);
        return true;
    });
}

void IniFile::writeInteger(std::string_view section, std::string_view key, std::int32_t value) {
    writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    writeString(section, key, value ? "1" : "0");
}

void IniFile::deleteKey(std::string_view section, std::string_view key) {
    change([&](Document& doc) { return doc.erase(section, key); });
}

void IniFile::eraseSection(std::string_view section) {
    change([&](Document& doc) { return doc.eraseSection(section); });
}

void IniFile::flush() const {
    Fd fd(::open(platform::FollowLink(m_path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) ::fsync(fd.get());
}

}  // namespace kalidrome
