#include "XfceDesktop.h"

#include "SessionMonitors.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>
#include <sstream>

namespace kalidrome::platform {

namespace {

constexpr std::chrono::milliseconds kToolTimeout{5000};
constexpr const char* kChannel = "xfce4-desktop";
constexpr std::string_view kMonitorPrefix = "/backdrop/screen0/monitor";
// Workspace numbers past this in the channel or in xfwm4's count are taken for damage, not
// for workspaces: each one costs a run of xfconf-query per monitor.
constexpr int kMaxWorkspaces = 64;

std::optional<int> ParseCount(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "/backdrop/screen0/monitor<NAME>/workspace<N>/..." -> NAME and N.
bool ParseBackdrop(const std::string& property, std::string& monitor, int& workspace) {
    if (property.compare(0, kMonitorPrefix.size(), kMonitorPrefix) != 0) return false;
    const std::size_t ws = property.find("/workspace", kMonitorPrefix.size());
    if (ws == std::string::npos) return false;
    const std::size_t digits = ws + std::string_view("/workspace").size();
    const std::size_t slash = property.find('/', digits);
    if (slash == std::string::npos) return false;
    const auto n = ParseCount(std::string_view(property).substr(digits, slash - digits));
    if (!n || *n < 0 || *n >= kMaxWorkspaces) return false;
    monitor = property.substr(kMonitorPrefix.size(), ws - kMonitorPrefix.size());
    workspace = *n;
    return !monitor.empty();
}

std::string BackdropPath(const std::string& monitor, int workspace) {
    return std::string(kMonitorPrefix) + monitor + "/workspace" + std::to_string(workspace) + "/";
}

}  // namespace

XfceDesktop::XfceDesktop(CommandRunner& runner, MonitorNameSource monitors, ScreenSizeSource screenSize)
    : m_runner(runner), m_monitors(std::move(monitors)), m_screenSize(std::move(screenSize)) {}

ScreenExtent XfceDesktop::primaryScreenSize() {
    return m_screenSize ? m_screenSize() : PrimaryMonitorSize(SessionMonitors({}));
}

// Every property of the channel with its value as xfconf-query prints it ("<<UNSUPPORTED>>"
// for arrays).
std::map<std::string, std::string> XfceDesktop::listChannel() {
    const Command command{{"xfconf-query", "-c", kChannel, "-l", "-v"}, kToolTimeout, {}};
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded())
        throw DesktopError("Cannot read XFCE's desktop settings (" + DescribeFailure(command, result) + ")");
    std::map<std::string, std::string> values;
    std::istringstream lines(result.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        // "<property><spaces><value>"
        const std::size_t gap = line.find(' ');
        if (gap == std::string::npos) {
            values[line];
            continue;
        }
        const std::size_t value = line.find_first_not_of(' ', gap);
        values[line.substr(0, gap)] = value == std::string::npos ? std::string() : line.substr(value);
    }
    return values;
}

void XfceDesktop::set(const std::string& property, const std::vector<std::string>& typedValues) {
    // -n creates the property when it is missing and sets it when it is there.
    Command command{{"xfconf-query", "-c", kChannel, "-p", property, "-n"}, kToolTimeout, {}};
    command.argv.insert(command.argv.end(), typedValues.begin(), typedValues.end());
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded())
        throw DesktopError("XFCE refused " + property + " (" + DescribeFailure(command, result) + ")");
}

int XfceDesktop::workspaceCount() {
    const Command command{{"xfconf-query", "-c", "xfwm4", "-p", "/general/workspace_count"}, kToolTimeout, {}};
    const CommandResult result = m_runner.run(command);
    // Without xfwm4 (another window manager) its count is not there: then the workspaces
    // the backdrops name are all there is.
    if (!result.succeeded()) return 0;
    const auto count = ParseCount(result.standardOutput);
    return count && *count > 0 ? std::min(*count, kMaxWorkspaces) : 0;
}

void XfceDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels& pixels) {
    setBackdrops({MonitorWallpaper{Monitor{}, bitmapPath, placement, pixels}});
}

void XfceDesktop::setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) {
    if (!wallpapers.empty()) setBackdrops(wallpapers);
}

void XfceDesktop::setBackdrops(const std::vector<MonitorWallpaper>& wallpapers) {
    // What each wallpaper is handed over as, and its style.
    std::vector<std::string> handed, styles;
    for (std::size_t i = 0; i < wallpapers.size(); ++i) {
        const std::string absolute = std::filesystem::absolute(wallpapers[i].bitmapPath).lexically_normal().string();
        handed.push_back(i == 0 ? m_rotation.handOver(absolute) : m_monitorRotations[absolute].handOver(absolute));
        styles.push_back(wallpapers[i].placement == Placement::Stretched ? "3" : "1");
    }
    // The primary's picture, unless the monitor is one of the others by name.
    auto wallpaperOf = [&](const std::string& monitor) {
        for (std::size_t i = 1; i < wallpapers.size(); ++i)
            if (wallpapers[i].monitor.name == monitor) return i;
        return std::size_t{0};
    };

    const std::map<std::string, std::string> before = listChannel();
    std::set<std::string> monitors;
    std::set<int> workspaces;
    for (const auto& [property, value] : before) {
        std::string monitor;
        int workspace = 0;
        if (ParseBackdrop(property, monitor, workspace)) {
            monitors.insert(monitor);
            workspaces.insert(workspace);
        }
    }
    for (const std::string& m : m_monitors ? m_monitors() : MonitorNames(SessionMonitors({}))) monitors.insert(m);
    // xfdesktop's name for the one monitor of a server without outputs.
    if (monitors.empty()) monitors.insert("screen");
    const int count = workspaceCount();
    for (int w = 0; w < count; ++w) workspaces.insert(w);
    if (workspaces.empty()) workspaces.insert(0);

    auto valueOf = [](const std::map<std::string, std::string>& values, const std::string& property) {
        const auto it = values.find(property);
        return it == values.end() ? std::string("nothing") : it->second;
    };
    for (const std::string& monitor : monitors) {
        const std::size_t w = wallpaperOf(monitor);
        for (int workspace : workspaces) {
            const std::string backdrop = BackdropPath(monitor, workspace);
            if (!m_borderSet.count(backdrop)) {
                // A solid black border around a centred picture, once a run (xfconf-query
                // lists no arrays, so rgba1 cannot be compared first).
                if (valueOf(before, backdrop + "color-style") != "0")
                    set(backdrop + "color-style", {"-t", "int", "-s", "0"});
                set(backdrop + "rgba1",
                    {"-t", "double", "-s", "0", "-t", "double", "-s", "0", "-t", "double", "-s", "0", "-t", "double",
                     "-s", "1"});
                m_borderSet.insert(backdrop);
            }
            if (valueOf(before, backdrop + "image-style") != styles[w])
                set(backdrop + "image-style", {"-t", "int", "-s", styles[w]});
            set(backdrop + "last-image", {"-t", "string", "-s", handed[w]});
        }
    }

    const std::map<std::string, std::string> after = listChannel();
    for (const std::string& monitor : monitors) {
        const std::size_t w = wallpaperOf(monitor);
        for (int workspace : workspaces) {
            const std::string backdrop = BackdropPath(monitor, workspace);
            const std::string image = valueOf(after, backdrop + "last-image");
            if (image != handed[w])
                throw DesktopError("XFCE kept " + backdrop + "last-image " + image + " instead of " + handed[w] +
                                   " (the property is locked, or another program set it back?)");
            const std::string held = valueOf(after, backdrop + "image-style");
            if (held != styles[w])
                throw DesktopError("XFCE kept " + backdrop + "image-style " + held + " instead of " + styles[w]);
        }
    }
    m_rotation.removeStale();
    for (auto& [path, rotation] : m_monitorRotations) rotation.removeStale();
}

}  // namespace kalidrome::platform
