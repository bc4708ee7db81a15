#include "Autostart.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "AtomicFile.h"

namespace kalidrome::platform {

namespace {

std::string DefaultEntryPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && *config == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || *home != '/') return {};
        base = std::string(home) + "/.config";
    }
    return base + "/autostart/kalidrome.desktop";
}

std::string Folder(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!MakeFolders(Folder(path))) return false;
    return ::mkdir(path.c_str(), 0700) == 0 || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

}  // namespace

XdgAutostart::XdgAutostart() : m_entryPath(DefaultEntryPath()) {}

XdgAutostart::XdgAutostart(std::string entryPath) : m_entryPath(std::move(entryPath)) {}

bool XdgAutostart::available() const { return !m_entryPath.empty(); }

bool XdgAutostart::isEnabled() const {
    struct stat st {};
    return available() && ::stat(m_entryPath.c_str(), &st) == 0;
}

std::string XdgAutostart::ExecLine(const std::string& executablePath) {
    // Inside double quotes '"', '`', '$' and '\' are escaped with a backslash; the
    // string-level escaping of desktop files then doubles every backslash, and '%'
    // (a field code otherwise) is written "%%".
    std::string quoted = "\"";
    for (char c : executablePath) {
        if (c == '"' || c == '`' || c == '$') {
            quoted += "\\\\";
            quoted += c;
        } else if (c == '\\') {
            quoted += "\\\\\\\\";
        } else if (c == '%') {
            quoted += "%%";
        } else if (c == '\n' || c == '\r') {
            quoted += ' ';
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

bool XdgAutostart::enable(const std::string& executablePath) {
    if (!available() || !MakeFolders(Folder(m_entryPath))) return false;
    const std::string content =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Kalidrome\n"
        "Comment=Wallpaper cycler\n"
        "Exec=" + ExecLine(executablePath) + "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    return WriteFileAtomically(m_entryPath, content);
}

bool XdgAutostart::disable() { return available() && ::unlink(m_entryPath.c_str()) == 0; }

}  // namespace kalidrome::platform
