#include "PcmanfmDesktop.h"

#include "SessionMonitors.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

namespace kalidrome::platform {

namespace {

using namespace std::chrono_literals;

// pcmanfm-qt hands the request to the running desktop instance over D-Bus and returns; the
// instance saves its settings a moment later.
constexpr auto kSaveWait = 1000ms;
constexpr auto kSavePoll = 50ms;

}  // namespace

PcmanfmDesktop::PcmanfmDesktop(CommandRunner& runner, Flavour flavour, std::function<ScreenExtent()> screenSize,
                               std::vector<std::string> environment)
    : m_runner(runner), m_flavour(flavour), m_screenSize(std::move(screenSize)), m_environment(std::move(environment)) {
    if (!m_screenSize) m_screenSize = [] { return PrimaryMonitorSize(SessionMonitors({})); };
}

ScreenExtent PcmanfmDesktop::primaryScreenSize() { return m_screenSize(); }

std::string PcmanfmDesktop::environmentValue(const std::string& name) const {
    const std::string prefix = name + "=";
    for (const std::string& entry : m_environment)
        if (entry.rfind(prefix, 0) == 0) return entry.substr(prefix.size());
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

std::string PcmanfmDesktop::UnescapeQtIniValue(const std::string& raw) {
    // QSettings writes a value in double quotes when it holds ',', ';' or '=' or starts or
    // ends with a blank, escapes '\\' and '"' with a backslash and control characters as
    // \xHHHH or the C letters; everything else (UTF-8 included) stands as it is.
    std::size_t begin = raw.find_first_not_of(" \t");
    std::size_t end = raw.find_last_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    std::string out;
    bool quoted = false;
    for (std::size_t i = begin; i <= end; ++i) {
        const char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c != '\\' || i == end) {
            if (!quoted && (c == ';' || c == ',')) break;  // a list or a comment follows
            out += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'v': out += '\v'; break;
        case '0': out += '\0'; break;
        case 'x': {
            unsigned code = 0;
            std::size_t digits = 0;
            while (i + 1 <= end && digits < 4 && std::isxdigit(static_cast<unsigned char>(raw[i + 1]))) {
                const char h = static_cast<char>(std::tolower(static_cast<unsigned char>(raw[++i])));
                code = code * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : h - 'a' + 10);
                ++digits;
            }
            // Only control characters come this way; anything wider is kept as UTF-8.
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else if (code < 0x800) {
                out += static_cast<char>(0xC0 | (code >> 6));
                out += static_cast<char>(0x80 | (code & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (code >> 12));
                out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (code & 0x3F));
            }
            break;
        }
        default: out += e; break;  // '\\', '"' and anything unknown stand for themselves
        }
    }
    return out;
}

std::string PcmanfmDesktop::SettingsWallpaper(const std::string& settingsFile) {
    // Read the file itself each time: QSettings keeps a parsed copy per path and reads the file
    // again only when its size or time stamp changed, and the desktop rewrites it with a name
    // of the same length, often within one tick of the file system's clock.
    std::ifstream in(settingsFile, std::ios::binary);
    if (!in) return {};
    constexpr std::size_t kMaxLine = 64 * 1024;
    constexpr int kMaxLines = 10000;
    bool inDesktop = false;
    std::string line;
    for (int n = 0; n < kMaxLines && std::getline(in, line); ++n) {
        if (line.size() > kMaxLine) continue;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        if (line[first] == '[') {
            const std::size_t close = line.find(']', first);
            inDesktop = close != std::string::npos && line.substr(first + 1, close - first - 1) == "Desktop";
            continue;
        }
        if (!inDesktop) continue;
        const std::size_t eq = line.find('=', first);
        if (eq == std::string::npos) continue;
        std::string key = line.substr(first, eq - first);
        key.erase(key.find_last_not_of(" \t") + 1);
        if (key == "Wallpaper") return UnescapeQtIniValue(line.substr(eq + 1));
    }
    return {};
}

void PcmanfmDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels&) {
    const std::string path = m_rotation.handOver(bitmapPath);
    const std::string program = m_flavour == Flavour::Lxqt ? "pcmanfm-qt" : "pcmanfm";
    Command command;
    command.argv = {program, "--set-wallpaper=" + path,
                    std::string("--wallpaper-mode=") + (placement == Placement::Stretched ? "stretch" : "center")};
    command.environment = m_environment;
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded())
        throw DesktopError(program + " refused the wallpaper: " + DescribeFailure(command, result));

    // LXQt's desktop (pcmanfm-qt --desktop --profile=lxqt) saves the wallpaper it shows; a
    // pcmanfm-qt without a desktop running saves nothing, and the screen did not change.
    // pcmanfm (LXDE) keeps per-monitor files whose layout varies between versions: its
    // answer is taken as it is.
    if (m_flavour == Flavour::Lxqt) {
        std::string config = environmentValue("XDG_CONFIG_HOME");
        if (config.empty()) config = environmentValue("HOME") + "/.config";
        const std::string settingsFile = config + "/pcmanfm-qt/lxqt/settings.conf";
        std::error_code ec;
        if (std::filesystem::exists(settingsFile, ec)) {
            const auto deadline = std::chrono::steady_clock::now() + kSaveWait;
            std::string held = SettingsWallpaper(settingsFile);
            while (held != path && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(kSavePoll);
                held = SettingsWallpaper(settingsFile);
            }
            if (held != path)
                throw DesktopError("pcmanfm-qt did not take the wallpaper (is its desktop running?); it holds " +
                                   (held.empty() ? std::string("none") : held));
        }
    }
    m_rotation.removeStale();
}

}  // namespace kalidrome::platform
