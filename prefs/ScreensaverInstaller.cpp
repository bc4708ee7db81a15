#include "ScreensaverInstaller.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

// The new copy goes to a file beside the destination, made executable, and is renamed into
// place, so a half-written copy never counts as installed.
void CopyExecutable(const std::string& source, const std::string& destination) {
    const std::filesystem::path folder = std::filesystem::path(destination).parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw std::system_error(ec, folder.string());
    platform::CopyFileAtomically(source, destination, 0755);
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

// Rewrites XScreenSaver's settings through change; a file that change leaves empty, and that
// was not empty before, is removed (it was one that installing made).
void ChangeSettings(const std::string& path, const std::function<std::string(const std::string&)>& change) {
    if (path.empty()) throw std::system_error(ENOENT, std::generic_category(), "HOME");
    const std::string before = ReadSettings(path);
    const std::string after = change(before);
    if (after == before) return;
    if (after.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowErrno(path);
        return;
    }
    if (!platform::WriteFileAtomically(path, after))
        throw std::system_error(errno ? errno : EIO, std::generic_category(), path);
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
    return paths;
}

bool ScreensaverInstalled(const ScreensaverPaths& paths) {
    struct stat st {};
    return !paths.destination.empty() && ::lstat(paths.destination.c_str(), &st) == 0;
}

InstallResult InstallScreensaver(const ScreensaverPaths& paths, std::string* reason) {
    struct stat st {};
    if (::stat(paths.source.c_str(), &st) != 0) return InstallResult::SourceMissing;
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

bool RemoveScreensaver(const ScreensaverPaths& paths) {
    if (paths.destination.empty()) return false;
    if (::unlink(paths.destination.c_str()) != 0 && errno != ENOENT) return false;
    try {
        const std::string defaults = DefaultLines(paths);
        ChangeSettings(paths.xscreensaverFile, [&](const std::string& text) {
            return xscreensaver::RemoveProgram(text, paths.destination, defaults);
        });
    } catch (const std::exception&) {
        // The copy is gone, so XScreenSaver shows the leftover line as a mode that cannot run;
        // nothing the user could do about it here.
    }
    return true;
}

ScreensaverNotice InstallScreensaverAndTell(const ScreensaverPaths& paths,
                                            const std::function<std::string(std::string_view)>& translate) {
    auto tr = [&](std::string_view text) { return translate ? translate(text) : std::string(text); };
    if (InstallScreensaver(paths) != InstallResult::Installed) return {true, tr(kScreensaverFailedText)};
    return {false, tr(kScreensaverDoneText1) + "\n" + tr(kScreensaverDoneText2)};
}

namespace xscreensaver {

namespace {

constexpr std::string_view kProgramsKey = "programs:";
// The head of a programs entry this file writes: its commands start on the next line.
constexpr std::string_view kHeadContinued = "\t\t\\";

struct Line {
    std::size_t begin;  // offset of the first byte
    std::size_t end;    // offset past the text, before "\r\n" or "\n"
    std::size_t next;   // offset of the next line
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t nl = text.find('\n', at);
        const std::size_t stop = nl == std::string::npos ? text.size() : nl;
        std::size_t end = stop;
        if (end > at && text[end - 1] == '\r') --end;
        lines.push_back({at, end, nl == std::string::npos ? text.size() : nl + 1});
        at = lines.back().next;
    }
    return lines;
}

// An odd number of backslashes at the end continues the value on the next line.
bool EndsContinued(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '\\'; --i) ++count;
    return count % 2 == 1;
}

bool Continues(const std::string& text, const Line& line) {
    return EndsContinued(std::string_view(text).substr(line.begin, line.end - line.begin));
}

// The programs entry: the index of its head and of its last line; head is npos when none.
struct Entry {
    std::size_t head = std::string::npos;
    std::size_t last = std::string::npos;
    std::size_t keyEnd = 0;  // offset past "programs:" in the head line
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

Entry FindPrograms(const std::string& text, const std::vector<Line>& lines) {
    Entry entry;
    bool continued = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        const bool startsResource = !continued;
        continued = Continues(text, line);
        if (!startsResource || entry.head != std::string::npos) continue;
        // "programs", blanks allowed around it, then the colon.
        constexpr std::string_view name = kProgramsKey.substr(0, kProgramsKey.size() - 1);
        std::size_t at = line.begin;
        while (at < line.end && IsBlank(text[at])) ++at;
        if (line.end - at < name.size() || !EqualsNoCase(std::string_view(text).substr(at, name.size()), name))
            continue;
        at += name.size();
        while (at < line.end && IsBlank(text[at])) ++at;
        if (at == line.end || text[at] != ':') continue;
        entry.head = i;
        entry.keyEnd = at + 1;
        std::size_t last = i;
        while (last + 1 < lines.size() && Continues(text, lines[last])) ++last;
        entry.last = last;
    }
    return entry;
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

// The program a programs line runs: the first word of its command, unquoted as the shell
// would, after the "-" that turns a mode off, a visual ("GL:") and a quoted name.
std::string ProgramOf(std::string_view text) {
    auto skipBlanks = [&text] {
        while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    };
    skipBlanks();
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
        skipBlanks();
    }
    const std::size_t wordEnd = std::min(text.find_first_of(" \t"), text.size());
    if (wordEnd > 0 && text[wordEnd - 1] == ':' && text.front() != '"') {
        text.remove_prefix(wordEnd);
        skipBlanks();
    }
    if (!text.empty() && text.front() == '"') {
        const std::size_t close = text.find('"', 1);
        text.remove_prefix(close == std::string_view::npos ? text.size() : close + 1);
        skipBlanks();
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
        } else if (c == '\\') {
            // "\n" ends a command; a backslash at the end continues the line.
            if (i + 1 >= text.size() || text[i + 1] == 'n') break;
            word += text[++i];
        } else if (IsBlank(c)) {
            break;
        } else {
            word += c;
        }
    }
    return word;
}

// A programs line without the commands that run command. Commands on one line are
// separated by "\\n"; a backslash at the end continues the entry on the next line.
struct LineEdit {
    enum { Keep, Drop, Rewrite } fate = Keep;
    std::string text;  // for Rewrite
};

LineEdit EditLine(std::string_view text, const std::string& command) {
    const bool continues = EndsContinued(text);
    std::string_view body = continues ? text.substr(0, text.size() - 1) : text;
    std::size_t blanks = 0;
    while (blanks < body.size() && IsBlank(body[blanks])) ++blanks;
    const std::string_view prefix = body.substr(0, blanks);
    body.remove_prefix(blanks);

    std::string kept;
    bool removed = false;
    bool anyLeft = false;
    while (!body.empty()) {
        const std::size_t separator = body.find("\\n");
        const std::size_t end = separator == std::string_view::npos ? body.size() : separator + 2;
        const std::string_view segment = body.substr(0, end);
        body.remove_prefix(end);
        if (ProgramOf(segment) == command) {
            removed = true;
            continue;
        }
        std::string_view piece = segment;
        if (kept.empty()) {
            while (!piece.empty() && IsBlank(piece.front())) piece.remove_prefix(1);
        }
        if (!ProgramOf(piece).empty()) anyLeft = true;
        kept += piece;
    }
    if (!removed) return {};
    if (!anyLeft) return {LineEdit::Drop, {}};
    return {LineEdit::Rewrite, std::string(prefix) + kept + (continues ? "\\" : "")};
}

// Whether a programs line runs command, as one of its commands.
bool RunsCommand(std::string_view text, const std::string& command) { return EditLine(text, command).fate != LineEdit::Keep; }

std::string_view TextOf(const std::string& text, const Line& line) {
    return std::string_view(text).substr(line.begin, line.end - line.begin);
}

std::string_view Ending(const std::string& text, const Line& line) {
    return std::string_view(text).substr(line.end, line.next - line.end);
}

// A programs entry holding first (a line with its continuation, or nothing) and then the
// default lines.
std::string SeededEntry(const std::string& defaultLines, const std::string& first) {
    std::string entry = std::string(kProgramsKey) + std::string(kHeadContinued) + "\n" + first + defaultLines;
    if (entry.back() != '\n') entry += '\n';
    return entry;
}

}  // namespace

std::string DefaultProgramLines(const std::string& defaultsContent) {
    const std::vector<Line> lines = SplitLines(defaultsContent);
    bool continued = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool startsResource = !continued;
        continued = Continues(defaultsContent, lines[i]);
        if (!startsResource || !continued) continue;
        std::string_view text = TextOf(defaultsContent, lines[i]);
        while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
        if (text.rfind("*programs:", 0) != 0) continue;
        std::size_t last = i;
        while (last + 1 < lines.size() && Continues(defaultsContent, lines[last])) ++last;
        std::string out;
        for (std::size_t k = i + 1; k <= last; ++k) out += std::string(TextOf(defaultsContent, lines[k])) + "\n";
        return out;
    }
    return {};
}

std::string ProgramLine(const std::string& command) {
    if (command.find_first_of("\\\n\r") != std::string::npos)
        throw std::invalid_argument("The path cannot be listed for XScreenSaver: " + command);
    return "\t\t\"" + std::string(kScreensaverTitle) + "\"\t" + ShellQuoted(command) + " --root\t\t\\n";
}

bool ListsProgram(const std::string& content, const std::string& command) {
    const std::vector<Line> lines = SplitLines(content);
    const Entry entry = FindPrograms(content, lines);
    if (entry.head == std::string::npos) return false;
    for (std::size_t i = entry.head; i <= entry.last; ++i) {
        std::string_view text = TextOf(content, lines[i]);
        if (i == entry.head) text = std::string_view(content).substr(entry.keyEnd, lines[i].end - entry.keyEnd);
        if (RunsCommand(text, command)) return true;
    }
    return false;
}

std::string AddProgram(const std::string& content, const std::string& command, const std::string& defaultLines) {
    const std::string line = ProgramLine(command);
    if (ListsProgram(content, command)) return content;
    const std::vector<Line> lines = SplitLines(content);
    const Entry entry = FindPrograms(content, lines);
    if (entry.head == std::string::npos) {
        std::string out = content;
        if (!out.empty() && out.back() != '\n') out += '\n';
        if (defaultLines.empty()) return out + std::string(kProgramsKey) + std::string(kHeadContinued) + "\n" + line + "\n";
        return out + SeededEntry(defaultLines, line + "\\\n");
    }
    const Line& head = lines[entry.head];
    const std::string_view headEnding = Ending(content, head);
    const std::string newLine = headEnding.empty() ? std::string("\n") : std::string(headEnding);
    if (Continues(content, head)) {
        // Ours goes right after the head line: first, when the head holds no command of its
        // own, as XScreenSaver writes the entry.
        return content.substr(0, head.next) + line + "\\" + newLine + content.substr(head.next);
    }
    // A one-line entry continues into ours, after its command when it has one.
    const bool hasCommand = !ProgramOf(std::string_view(content).substr(entry.keyEnd, head.end - entry.keyEnd)).empty();
    return content.substr(0, head.end) + (hasCommand ? "\\n\\" : "\\") + newLine + line + std::string(headEnding) +
           content.substr(head.next);
}

std::string RemoveProgram(const std::string& content, const std::string& command, const std::string& defaultLines) {
    const std::vector<Line> lines = SplitLines(content);
    const Entry entry = FindPrograms(content, lines);
    if (entry.head == std::string::npos) return content;
    std::vector<bool> drop(lines.size(), false);
    std::vector<LineEdit> edits(lines.size());
    std::size_t last = entry.last;
    for (std::size_t i = entry.last; i > entry.head; --i) {
        edits[i] = EditLine(TextOf(content, lines[i]), command);
        if (edits[i].fate != LineEdit::Drop) continue;
        drop[i] = true;
        if (i == last) last = i - 1;
    }
    // The line that now ends the entry must not continue it into the next resource. A head
    // that AddProgram continued after its command loses the separator it was given too.
    std::size_t cut = std::string::npos;
    if (last != entry.last && Continues(content, lines[last])) {
        cut = lines[last].end - 1;
        const std::string_view text = TextOf(content, lines[last]);
        if (last == entry.head && text.size() >= 3 && text.substr(text.size() - 3) == "\\n\\") cut -= 2;
    }
    // An entry this file made, left with nothing but its head, goes as a whole.
    bool dropHead = false;
    if (last == entry.head && cut != std::string::npos) {
        const std::string_view afterKey =
            std::string_view(content).substr(entry.keyEnd, lines[entry.head].end - entry.keyEnd);
        dropHead = afterKey == kHeadContinued;
    }
    // Our command on the head line itself (moved there by hand) leaves the head alone.
    const LineEdit headEdit =
        EditLine(std::string_view(content).substr(entry.keyEnd, lines[entry.head].end - entry.keyEnd), command);
    const bool headRunsIt = headEdit.fate == LineEdit::Drop;
    std::string out;
    out.reserve(content.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (drop[i] || (dropHead && i == entry.head)) continue;
        const Line& line = lines[i];
        if (i == entry.head && headRunsIt) {
            out.append(content, line.begin, entry.keyEnd - line.begin);
            if (Continues(content, line) && !(i == last && cut != std::string::npos)) out += kHeadContinued;
            out.append(content, line.end, line.next - line.end);
            continue;
        }
        // A line that runs other commands beside ours keeps them.
        const LineEdit& edit = i == entry.head ? headEdit : edits[i];
        if (edit.fate == LineEdit::Rewrite) {
            if (i == entry.head) out.append(content, line.begin, entry.keyEnd - line.begin);
            out += edit.text;
            out.append(content, line.end, line.next - line.end);
            continue;
        }
        if (i == last && cut != std::string::npos) {
            std::size_t end = cut;
            out.append(content, line.begin, end - line.begin);
            out.append(content, line.end, line.next - line.end);
        } else {
            out.append(content, line.begin, line.next - line.begin);
        }
    }
    // A dropped last line without a line break of its own took the one before it along.
    if (!lines.empty() && drop.back() && lines.back().next == lines.back().end) {
        if (!out.empty() && out.back() == '\n') out.pop_back();
        if (!out.empty() && out.back() == '\r') out.pop_back();
    }
    // An entry that AddProgram appended, holding nothing but the defaults it started from.
    const std::string seeded = defaultLines.empty() ? std::string() : SeededEntry(defaultLines, "");
    if (!seeded.empty() && out.size() >= seeded.size() && out.compare(out.size() - seeded.size(), seeded.size(), seeded) == 0 &&
        (out.size() == seeded.size() || out[out.size() - seeded.size() - 1] == '\n'))
        out.resize(out.size() - seeded.size());
    return out;
}

}  // namespace xscreensaver

}  // namespace kalidrome
