#include "ScreensaverInstaller.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "AtomicFile.h"
#include "IniFile.h"
#include "UniqueFd.h"

namespace kalidrome {

namespace {

// A settings file larger than this is no XScreenSaver file we would edit (XScreenSaver
// writes some 20 KB).
constexpr std::size_t kMaxSettingsBytes = std::size_t{1} << 20;

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string AbsoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value == '/' ? std::string(value) : std::string();
}

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// A failure of path, as "<path>: <the system's text>".
[[noreturn]] void ThrowFor(const std::string& path, const std::system_error& e) {
    throw std::system_error(e.code(), path);
}

// The new copy goes to a file beside the destination, made executable, and is renamed into
// place, so a half-written copy never counts as installed.
void CopyExecutable(const std::string& source, const std::string& destination) {
    const std::filesystem::path folder = std::filesystem::path(destination).parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw std::system_error(ec, folder.string());
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) ThrowErrno(source);
    if (!S_ISREG(st.st_mode)) throw std::system_error(EINVAL, std::generic_category(), source);
    try {
        platform::CopyFileAtomically(source, destination, 0755);
    } catch (const std::system_error& e) {
        ThrowFor(destination, e);
    }
}

// The settings file's content; empty when there is none.
std::string ReadSettings(const std::string& path) {
    // O_NONBLOCK: a FIFO in the file's place must not keep us waiting for a writer.
    const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        if (errno == ENOENT) return {};
        ThrowErrno(path);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) ThrowErrno(path);
    if (!S_ISREG(st.st_mode)) throw std::system_error(EINVAL, std::generic_category(), path);
    std::string content;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ThrowErrno(path);
        if (got == 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > kMaxSettingsBytes) throw std::system_error(EFBIG, std::generic_category(), path);
    }
    return content;
}

// Rewrites XScreenSaver's settings through change. A symbolic link stays: the file it leads
// to is replaced (made, when the link leads nowhere yet), by a new file beside it. A file
// that change leaves empty, and that was not empty before, is removed (it was one that
// installing made). A file without write permission is left as it is, and is an error.
void ChangeSettings(const std::string& path, const std::function<std::string(const std::string&)>& change) {
    if (path.empty()) throw std::system_error(ENOENT, std::generic_category(), "HOME");
    const std::string before = ReadSettings(path);
    const std::string after = change(before);
    if (after == before) return;
    const std::string target = platform::FollowLink(path);
    if (after.empty()) {
        // Read-only means kept, as for a rewrite.
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && (st.st_mode & 0222) == 0)
            throw std::system_error(EACCES, std::generic_category(), target);
        if (::unlink(target.c_str()) != 0 && errno != ENOENT) ThrowErrno(target);
        return;
    }
    try {
        platform::AtomicFile file(target);
        file.write(after.data(), after.size());
        file.commit();
    } catch (const std::system_error& e) {
        ThrowFor(target, e);
    }
}

// The first executable of that name in a folder of PATH; empty when there is none.
std::string FindOnPath(const std::string& name) {
    const char* value = std::getenv("PATH");
    const std::string path = value ? value : "/usr/local/bin:/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t colon = path.find(':', at);
        if (colon == std::string::npos) colon = path.size();
        const std::string folder = path.substr(at, colon - at);
        at = colon + 1;
        if (folder.empty() || folder.front() != '/') continue;
        const std::string candidate = WithSlash(folder) + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// The display modes XScreenSaver lists when the user has chosen none; empty when its defaults
// cannot be read.
std::string DefaultLines(const ScreensaverPaths& paths) {
    try {
        return xscreensaver::DefaultProgramLines(ReadSettings(paths.xscreensaverDefaults));
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

ScreensaverPaths ScreensaverPaths::For(const std::string& systemPath) {
    ScreensaverPaths paths;
    paths.source = WithSlash(systemPath) + std::string(kScreensaverFile);
    const std::string home = AbsoluteVariable("HOME");
    std::string data = AbsoluteVariable("XDG_DATA_HOME");
    if (data.empty() && !home.empty()) data = WithSlash(home) + ".local/share";
    if (!data.empty()) paths.destination = WithSlash(data) + "kalidrome-screensaver/" + std::string(kScreensaverFile);
    if (!home.empty()) paths.xscreensaverFile = WithSlash(home) + ".xscreensaver";
    paths.xscreensaverProgram = FindOnPath("xscreensaver");
    return paths;
}

bool ScreensaverInstalled(const ScreensaverPaths& paths) {
    struct stat st {};
    return !paths.destination.empty() && ::lstat(paths.destination.c_str(), &st) == 0;
}

InstallResult InstallScreensaver(const ScreensaverPaths& paths, std::string* reason) {
    struct stat st {};
    if (::stat(paths.source.c_str(), &st) != 0) return InstallResult::SourceMissing;
    if (paths.xscreensaverProgram.empty()) return InstallResult::XScreenSaverMissing;
    try {
        if (paths.destination.empty()) throw std::system_error(ENOENT, std::generic_category(), "XDG_DATA_HOME");
        const bool wasInstalled = ScreensaverInstalled(paths);
        CopyExecutable(paths.source, paths.destination);
        try {
            const std::string defaults = DefaultLines(paths);
            ChangeSettings(paths.xscreensaverFile, [&](const std::string& text) {
                return xscreensaver::AddProgram(text, paths.destination, defaults);
            });
        } catch (...) {
            if (!wasInstalled) ::unlink(paths.destination.c_str());
            throw;
        }
        return InstallResult::Installed;
    } catch (const std::exception& e) {
        if (reason) *reason = e.what();
        return InstallResult::Failed;
    }
}

bool RemoveScreensaver(const ScreensaverPaths& paths, std::string* reason) {
    if (paths.destination.empty()) return false;
    try {
        const std::string defaults = DefaultLines(paths);
        ChangeSettings(paths.xscreensaverFile, [&](const std::string& text) {
            return xscreensaver::RemoveProgram(text, paths.destination, defaults);
        });
    } catch (const std::exception& e) {
        // The copy stays, so that the mode XScreenSaver still offers can run.
        if (reason) *reason = e.what();
        return false;
    }
    if (::unlink(paths.destination.c_str()) != 0 && errno != ENOENT) {
        if (reason) *reason = std::system_error(errno, std::generic_category(), paths.destination).what();
        return false;
    }
    return true;
}

ScreensaverNotice InstallScreensaverAndTell(const ScreensaverPaths& paths,
                                            const std::function<std::string(std::string_view)>& translate) {
    auto tr = [&](std::string_view text) { return translate ? translate(text) : std::string(text); };
    std::string reason;
    switch (InstallScreensaver(paths, &reason)) {
        case InstallResult::Installed: return {false, tr(kScreensaverDoneLinuxText1) + "\n" + tr(kScreensaverDoneText2)};
        case InstallResult::SourceMissing: return {true, tr(kScreensaverFailedText)};
        case InstallResult::XScreenSaverMissing: return {true, tr(kScreensaverNoXScreenSaverText)};
        case InstallResult::Failed: break;
    }
    return {true, tr(kScreensaverCannotCreateText) + "\n" + reason};
}

ScreensaverNotice RemoveScreensaverAndTell(const ScreensaverPaths& paths,
                                           const std::function<std::string(std::string_view)>& translate) {
    auto tr = [&](std::string_view text) { return translate ? translate(text) : std::string(text); };
    std::string reason;
    if (RemoveScreensaver(paths, &reason)) return {};
    return {true, tr(kScreensaverCannotDeleteText) + "\n" + reason};
}

namespace xscreensaver {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One resource of the file as XScreenSaver reads it: physical lines joined where a line ends
// with a backslash, then its escapes ("\n", "\t", "\r", "\<any>") turned into characters.
// Each character of value remembers where its bytes lie in the file.
struct Resource {
    std::size_t begin = 0;  // offset of its first line
    std::size_t end = 0;    // offset of the line break that ends it (or of the end of the file)
    std::string key;
    std::string value;               // after the colon
    std::vector<std::size_t> at;     // file offset of each character of value
    std::vector<std::size_t> atEnd;  // file offset past the bytes of each character
};

std::vector<Resource> ParseResources(const std::string& text) {
    std::vector<Resource> resources;
    std::size_t at = 0;
    std::string joined;
    std::vector<std::size_t> offsets;
    while (at < text.size()) {
        Resource r;
        r.begin = at;
        joined.clear();
        offsets.clear();
        for (;;) {
            const std::size_t nl = text.find('\n', at);
            const std::size_t lineEnd = nl == std::string::npos ? text.size() : nl;
            for (std::size_t k = at; k < lineEnd; ++k) {
                joined += text[k];
                offsets.push_back(k);
            }
            at = nl == std::string::npos ? text.size() : nl + 1;
            r.end = lineEnd;
            // XScreenSaver swallows a backslash and the line break after it, judging by the
            // last byte it has gathered, once it holds more than two bytes with the break.
            if (nl != std::string::npos && joined.size() + 1 > 2 && joined.back() == '\\') {
                joined.pop_back();
                offsets.pop_back();
                if (at < text.size()) continue;  // else the file ends inside the resource
            }
            break;
        }
        // Escapes.
        std::string decoded;
        std::vector<std::size_t> from, to;
        for (std::size_t k = 0; k < joined.size(); ++k) {
            const std::size_t first = offsets[k];
            char c = joined[k];
            if (c == '\\') {
                if (k + 1 >= joined.size()) break;  // a lone backslash ends the text
                const char next = joined[++k];
                c = next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
            }
            decoded += c;
            from.push_back(first);
            to.push_back(offsets[k] + 1);
        }
        std::size_t start = 0;
        while (start < decoded.size() && IsSpace(decoded[start])) ++start;
        if (start == decoded.size() || decoded[start] == '#' || decoded[start] == '!' || decoded[start] == ';') continue;
        const std::size_t colon = decoded.find(':', start);
        if (colon == std::string::npos) continue;
        r.key = decoded.substr(start, colon - start);
        r.value = decoded.substr(colon + 1);
        r.at.assign(from.begin() + static_cast<std::ptrdiff_t>(colon + 1), from.end());
        r.atEnd.assign(to.begin() + static_cast<std::ptrdiff_t>(colon + 1), to.end());
        resources.push_back(std::move(r));
    }
    return resources;
}

// The last resource of that name, as XScreenSaver's settings let a later one win.
const Resource* LastResource(const std::vector<Resource>& resources, std::string_view name) {
    const Resource* found = nullptr;
    for (const Resource& r : resources)
        if (EqualsNoCase(r.key, name)) found = &r;
    return found;
}

// One display mode of a programs resource, by file offsets.
struct Entry {
    std::size_t textBegin = 0;  // first byte of its text
    std::size_t textEnd = 0;    // past its text, blanks after it left out
    std::size_t sepBegin = std::string::npos;  // its "\n" separator, when one follows it
    std::size_t sepEnd = std::string::npos;
    std::size_t prevSepBegin = std::string::npos;  // the separator before it, when there is one
    std::size_t prevSepEnd = std::string::npos;
    std::string text;  // as XScreenSaver reads it
};

// The entries as XScreenSaver splits the value: at each line break that "\n" made, blank
// stretches between them counting for nothing.
std::vector<Entry> EntriesOf(const Resource& r) {
    std::vector<Entry> entries;
    const std::string& v = r.value;
    std::size_t pos = 0;
    while (pos < v.size() && IsSpace(v[pos])) ++pos;
    std::size_t lastSep = std::string::npos;
    for (std::size_t k = 0; k < pos; ++k)
        if (v[k] == '\n') lastSep = k;
    while (pos < v.size()) {
        while (pos < v.size() && (IsBlank(v[pos]) || v[pos] == '\n')) {
            if (v[pos] == '\n') lastSep = pos;
            ++pos;
        }
        if (pos >= v.size()) break;
        std::size_t end = v.find('\n', pos);
        if (end == std::string::npos) end = v.size();
        std::size_t last = end;
        while (last > pos && IsSpace(v[last - 1])) --last;
        if (last == pos) {  // nothing but a carriage return: XScreenSaver takes it as an entry
            last = pos + 1;
        }
        Entry e;
        e.textBegin = r.at[pos];
        e.textEnd = r.atEnd[last - 1];
        e.text = v.substr(pos, end - pos);
        if (end < v.size()) {
            e.sepBegin = r.at[end];
            e.sepEnd = r.atEnd[end];
        }
        if (lastSep != std::string::npos) {
            e.prevSepBegin = r.at[lastSep];
            e.prevSepEnd = r.atEnd[lastSep];
        }
        entries.push_back(std::move(e));
        lastSep = end < v.size() ? end : std::string::npos;
        pos = end < v.size() ? end + 1 : end;
    }
    return entries;
}

bool ShellSafe(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_/.,+@%:=-", c) != nullptr;
}

std::string ShellQuoted(const std::string& command) {
    bool safe = !command.empty();
    for (char c : command) safe = safe && ShellSafe(c);
    if (safe) return command;
    std::string quoted = "'";
    for (char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The program an entry runs: the first word of its command, unquoted as the shell would,
// after the "-" that turns a mode off, a visual ("GL:") and a quoted name.
std::string ProgramOf(std::string_view text) {
    auto skipSpace = [&text] {
        while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    };
    skipSpace();
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
        skipSpace();
    }
    std::size_t visual = 0;
    while (visual < text.size() && text[visual] != ':' && text[visual] != '"' && !IsSpace(text[visual])) ++visual;
    if (visual < text.size() && text[visual] == ':') {
        text.remove_prefix(visual + 1);
        skipSpace();
    }
    if (!text.empty() && text.front() == '"') {
        const std::size_t close = text.find('"', 1);
        text.remove_prefix(close == std::string_view::npos ? text.size() : close + 1);
        skipSpace();
    }
    std::string word;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
            else word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '\\' && i + 1 < text.size()) {
            word += text[++i];
        } else if (IsSpace(c)) {
            break;
        } else {
            word += c;
        }
    }
    return word;
}

// Runs of blanks as one space: XScreenSaver's wrapping of long entries breaks them at blanks,
// even inside quotes, and puts its indentation there.
std::string SquashedBlanks(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (IsSpace(c)) {
            if (out.empty() || out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

bool Runs(const Entry& e, const std::string& command) {
    return SquashedBlanks(ProgramOf(e.text)) == SquashedBlanks(command);
}

// A programs resource holding the defaults: XScreenSaver's list when the user has chosen none.
std::string SeededResource(const std::string& defaultLines) {
    if (defaultLines.empty()) return "programs:\n";
    std::string resource = "programs:\t\t\\\n" + defaultLines;
    if (resource.back() != '\n') resource += '\n';
    return resource;
}

struct Edit {
    std::size_t at;
    std::size_t erase;
    std::string insert;
};

std::string Apply(std::string text, std::vector<Edit> edits) {
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at > b.at; });
    for (const Edit& e : edits) text.replace(e.at, e.erase, e.insert);
    return text;
}

// The number of the last "selected:" and where its digits lie; none when it is no plain number.
struct Selected {
    long value = 0;
    std::size_t begin = 0, end = 0;
};

std::optional<Selected> FindSelected(const std::vector<Resource>& resources) {
    const Resource* r = LastResource(resources, "selected");
    if (!r) return std::nullopt;
    const std::string& v = r->value;
    std::size_t b = 0, e = v.size();
    while (b < e && IsSpace(v[b])) ++b;
    while (e > b && IsSpace(v[e - 1])) --e;
    std::size_t digits = b + (b < e && v[b] == '-' ? 1 : 0);
    if (digits == e || e - b > 9) return std::nullopt;
    for (std::size_t k = digits; k < e; ++k)
        if (!std::isdigit(static_cast<unsigned char>(v[k]))) return std::nullopt;
    // Only digits written as they are read, so that the bytes can be replaced in place.
    if (r->atEnd[e - 1] - r->at[b] != e - b) return std::nullopt;
    return Selected{std::stol(v.substr(b, e - b)), r->at[b], r->atEnd[e - 1]};
}

// value written as the number it replaces was: leading zeros kept to its width.
std::string Renumbered(const std::string& text, const Selected& old, long value) {
    std::string digits = std::to_string(value);
    const std::size_t width = old.end - old.begin;
    if (value >= 0 && width > 1 && text[old.begin] == '0' && digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

// Where the line holding offset starts.
std::size_t LineStart(const std::string& text, std::size_t offset) {
    const std::size_t nl = offset == 0 ? std::string::npos : text.rfind('\n', offset - 1);
    return nl == std::string::npos ? 0 : nl + 1;
}

bool OnlyBlanks(const std::string& text, std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k)
        if (!IsBlank(text[k])) return false;
    return true;
}

// The bytes that go with our entry e: the whole lines it fills when it has lines of its own
// (with the blank lines XScreenSaver's wrapping put before it); else the entry with the
// separator after it, or, for the last entry, with the separator before it.
Edit RemovalOf(const std::string& text, const Resource& r, const Entry& e, bool first) {
    const std::size_t lineStart = LineStart(text, e.textBegin);
    const bool ownsLineStart = lineStart > r.begin && OnlyBlanks(text, lineStart, e.textBegin);
    if (e.sepEnd != std::string::npos) {
        std::size_t after = e.sepEnd;
        while (after < text.size() && IsBlank(text[after])) ++after;
        if (ownsLineStart && after + 1 < text.size() && text[after] == '\\' && text[after + 1] == '\n') {
            std::size_t begin = lineStart;
            // Lines of nothing but blanks and a continuation before it are its wrapping.
            while (begin > r.begin) {
                const std::size_t prev = LineStart(text, begin - 1);
                if (prev <= r.begin || begin < 2 || text[begin - 2] != '\\' || !OnlyBlanks(text, prev, begin - 2)) break;
                begin = prev;
            }
            return {begin, after + 2 - begin, {}};
        }
        const std::size_t begin = e.prevSepEnd != std::string::npos ? e.prevSepEnd : e.textBegin;
        return {begin, e.sepEnd - begin, {}};
    }
    if (!first && e.prevSepBegin != std::string::npos) return {e.prevSepBegin, e.textEnd - e.prevSepBegin, {}};
    // The only entry, on a line of its own after a continued one.
    if (ownsLineStart && lineStart >= 2 && text[lineStart - 2] == '\\' && lineStart - 2 >= r.begin)
        return {lineStart - 2, e.textEnd - (lineStart - 2), {}};
    return {e.textBegin, e.textEnd - e.textBegin, {}};
}

}  // namespace

std::string DefaultProgramLines(const std::string& defaultsContent) {
    // The defaults file is an X resource file: "*programs:" starts the resource, and its
    // lines follow up to the first that does not end with a backslash.
    std::size_t at = 0;
    bool continued = false;
    while (at < defaultsContent.size()) {
        const std::size_t nl = defaultsContent.find('\n', at);
        const std::size_t end = nl == std::string::npos ? defaultsContent.size() : nl;
        const std::string_view line(defaultsContent.data() + at, end - at);
        const bool startsResource = !continued;
        continued = !line.empty() && line.back() == '\\';
        const std::size_t next = nl == std::string::npos ? defaultsContent.size() : nl + 1;
        std::string_view head = line;
        while (!head.empty() && IsBlank(head.front())) head.remove_prefix(1);
        if (startsResource && continued && head.rfind("*programs:", 0) == 0) {
            std::string out;
            std::size_t k = next;
            bool more = true;
            while (more && k < defaultsContent.size()) {
                const std::size_t lnl = defaultsContent.find('\n', k);
                const std::size_t lend = lnl == std::string::npos ? defaultsContent.size() : lnl;
                out.append(defaultsContent, k, lend - k);
                out += '\n';
                more = lend > k && defaultsContent[lend - 1] == '\\';
                k = lnl == std::string::npos ? defaultsContent.size() : lnl + 1;
            }
            return out;
        }
        at = next;
    }
    return {};
}

std::string ProgramLine(const std::string& command) {
    if (command.find_first_of("\n\r") != std::string::npos)
        throw std::invalid_argument("The path cannot be listed for XScreenSaver: " + command);
    // A backslash is an escape in XScreenSaver's file: the shell's own are doubled.
    std::string escaped;
    for (char c : ShellQuoted(command)) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return "\t\t\t\t" + escaped + " --root";
}

bool ListsProgram(const std::string& content, const std::string& command) {
    const std::vector<Resource> resources = ParseResources(content);
    const Resource* r = LastResource(resources, "programs");
    if (!r) return false;
    for (const Entry& e : EntriesOf(*r))
        if (Runs(e, command)) return true;
    return false;
}

std::vector<std::string> ListedPrograms(const std::string& content) {
    const std::vector<Resource> resources = ParseResources(content);
    std::vector<std::string> programs;
    if (const Resource* r = LastResource(resources, "programs"))
        for (const Entry& e : EntriesOf(*r)) programs.push_back(ProgramOf(e.text));
    return programs;
}

std::optional<long> SelectedMode(const std::string& content) {
    const std::optional<Selected> s = FindSelected(ParseResources(content));
    if (!s) return std::nullopt;
    return s->value;
}

std::string AddProgram(const std::string& content, const std::string& command, const std::string& defaultLines) {
    const std::string line = ProgramLine(command);
    if (ListsProgram(content, command)) return content;
    std::string base = content;
    std::vector<Resource> resources = ParseResources(base);
    if (!LastResource(resources, "programs")) {
        if (!base.empty() && base.back() != '\n') base += '\n';
        // A last line ending with backslashes goes on into the lines after it, an empty
        // line taking one backslash each.
        std::size_t backslashes = 0;
        while (backslashes + 1 < base.size() && base[base.size() - 2 - backslashes] == '\\') ++backslashes;
        base.append(backslashes, '\n');
        base += SeededResource(defaultLines);
        resources = ParseResources(base);
        if (!LastResource(resources, "programs"))
            throw std::invalid_argument("XScreenSaver's settings cannot take a list of display modes");
    }
    const Resource& r = *LastResource(resources, "programs");
    const std::vector<Entry> entries = EntriesOf(r);
    std::vector<Edit> edits;
    if (entries.empty()) {
        std::size_t at = r.end;
        if (at > r.begin && base[at - 1] == '\r') --at;
        edits.push_back({at, 0, "\\\n" + line});
    } else if (const Entry& last = entries.back(); last.sepEnd != std::string::npos) {
        std::size_t after = last.sepEnd;
        while (after < base.size() && IsBlank(base[after])) ++after;
        if (after + 1 < base.size() && base[after] == '\\' && base[after + 1] == '\n') {
            // XScreenSaver's own layout: a line of ours after the last mode's.
            edits.push_back({after + 2, 0, line + " \\n\\\n"});
        } else {
            edits.push_back({last.sepEnd, 0, "\\\n" + line + " \\n"});
        }
    } else {
        edits.push_back({last.textEnd, 0, "\\n\\\n" + line});
    }
    // Modes XScreenSaver adds behind the file's list move one down.
    if (const std::optional<Selected> s = FindSelected(resources);
        s && s->value >= static_cast<long>(entries.size()))
        edits.push_back({s->begin, s->end - s->begin, Renumbered(base, *s, s->value + 1)});
    return Apply(base, std::move(edits));
}

std::string RemoveProgram(const std::string& content, const std::string& command, const std::string& defaultLines) {
    const std::vector<Resource> resources = ParseResources(content);
    const Resource* r = LastResource(resources, "programs");
    if (!r) return content;
    const std::vector<Entry> entries = EntriesOf(*r);
    std::vector<Edit> edits;
    std::vector<long> removed;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (!Runs(entries[k], command)) continue;
        edits.push_back(RemovalOf(content, *r, entries[k], k == 0));
        removed.push_back(static_cast<long>(k));
    }
    if (edits.empty()) return content;
    if (const std::optional<Selected> s = FindSelected(resources); s && s->value >= 0) {
        long value = s->value;
        for (long k : removed) {
            if (k == s->value) value = -1;
            else if (k < s->value && value >= 0) --value;
        }
        if (value != s->value) edits.push_back({s->begin, s->end - s->begin, Renumbered(content, *s, value)});
    }
    std::string out = Apply(content, std::move(edits));
    // A resource that AddProgram appended, holding nothing but the defaults it started from.
    if (!defaultLines.empty()) {
        const std::string seeded = SeededResource(defaultLines);
        if (out.size() >= seeded.size() && out.compare(out.size() - seeded.size(), seeded.size(), seeded) == 0 &&
            (out.size() == seeded.size() || out[out.size() - seeded.size() - 1] == '\n'))
            out.resize(out.size() - seeded.size());
    }
    return out;
}

}  // namespace xscreensaver

}  // namespace kalidrome
