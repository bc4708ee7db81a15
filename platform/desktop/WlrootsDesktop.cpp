#include "WlrootsDesktop.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <charconv>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace kalidrome::platform {

namespace {

using namespace std::chrono_literals;

// How long a swaybg we started gets to load the picture and draw before the one it replaces
// is ended. swaybg tells nobody when it has drawn; a BMP of a large screen decodes in well
// under this.
constexpr auto kSwaybgDrawTime = 400ms;
constexpr auto kSwaybgPollStep = 20ms;

const char* SwayMode(Placement placement) { return placement == Placement::Stretched ? "stretch" : "center"; }

std::string Trimmed(std::string text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

QJsonDocument ParseJson(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

// Why a tool failed, for the user: the "error" of sway's JSON reply when there is one, else
// what the runner makes of the run.
std::string Reason(const Command& command, const CommandResult& result) {
    if (result.started && !result.timedOut) {
        const QJsonDocument doc = ParseJson(result.standardOutput);
        if (doc.isArray()) {
            for (const QJsonValue& reply : doc.array()) {
                const QString error = reply.toObject().value(QStringLiteral("error")).toString();
                if (!error.isEmpty()) return command.argv.front() + ": " + error.left(300).toStdString();
            }
        }
    }
    return DescribeFailure(command, result);
}

// A 90 or 270 degree transform turns the mode's width into the output's height.
ScreenExtent Oriented(ScreenExtent mode, bool turned) {
    if (turned) std::swap(mode.width, mode.height);
    return mode;
}

std::int32_t ToExtent(const QJsonValue& value) {
    const double d = value.toDouble(0);
    return d > 0 && d < 1e6 ? static_cast<std::int32_t>(d) : 0;
}

// Whether a process is still running (not ended, not a zombie waiting to be reaped).
bool ProcessRunning(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    // "pid (comm) S ...": the state follows the last ')', as comm may hold one.
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) return false;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

}  // namespace

WlrootsDesktop::WlrootsDesktop(CommandRunner& runner, Compositor compositor, std::vector<std::string> environment)
    : m_runner(runner), m_compositor(compositor), m_environment(std::move(environment)) {}

std::string WlrootsDesktop::name() const {
    switch (m_compositor) {
    case Compositor::Sway: return "sway";
    case Compositor::Hyprland: return "hyprland";
    case Compositor::Other: return "wlroots";
    }
    return "wlroots";
}

Command WlrootsDesktop::tool(std::vector<std::string> argv) const {
    Command command;
    command.argv = std::move(argv);
    command.environment = m_environment;
    return command;
}

std::string WlrootsDesktop::QuoteForSway(const std::string& path) {
    // Inside sway's double quotes, a single-quoted word for wordexp: literal but for "'",
    // which closes the quote, adds an escaped one and opens it again.
    std::string quoted = "\"'";
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || u < 0x20 || u == 0x7F)
            throw DesktopError("sway cannot take a wallpaper path with a quote, backslash or control character: " +
                               path);
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += "'\"";
    return quoted;
}

std::vector<Monitor> WlrootsDesktop::SwayOutputs(const std::string& json) {
    std::vector<Monitor> monitors;
    const QJsonDocument doc = ParseJson(json);
    if (!doc.isArray()) return monitors;
    for (const QJsonValue& value : doc.array()) {
        const QJsonObject output = value.toObject();
        if (!output.value(QStringLiteral("active")).toBool(false)) continue;
        const QJsonObject mode = output.value(QStringLiteral("current_mode")).toObject();
        const QJsonObject rect = output.value(QStringLiteral("rect")).toObject();
        const QString transform = output.value(QStringLiteral("transform")).toString();
        const bool turned = transform.contains(QStringLiteral("90")) || transform.contains(QStringLiteral("270"));
        const ScreenExtent size = Oriented(
            {ToExtent(mode.value(QStringLiteral("width"))), ToExtent(mode.value(QStringLiteral("height")))}, turned);
        if (size.width <= 0 || size.height <= 0) continue;
        monitors.push_back({output.value(QStringLiteral("name")).toString().toStdString(),
                            ToExtent(rect.value(QStringLiteral("x"))), ToExtent(rect.value(QStringLiteral("y"))),
                            size.width, size.height, output.value(QStringLiteral("focused")).toBool(false)});
    }
    return monitors;
}

ScreenExtent WlrootsDesktop::SwayPrimaryOutput(const std::string& json) {
    const std::vector<Monitor> outputs = SwayOutputs(json);
    if (outputs.empty()) return {};
    return ScreenExtent{PrimaryOf(outputs).width, PrimaryOf(outputs).height};
}

std::vector<Monitor> WlrootsDesktop::HyprlandMonitors(const std::string& json) {
    std::vector<Monitor> monitors;
    const QJsonDocument doc = ParseJson(json);
    if (!doc.isArray()) return monitors;
    for (const QJsonValue& value : doc.array()) {
        const QJsonObject monitor = value.toObject();
        if (monitor.value(QStringLiteral("disabled")).toBool(false)) continue;
        // Hyprland's transforms 1, 3, 5 and 7 turn the monitor by 90 or 270 degrees.
        const int transform = monitor.value(QStringLiteral("transform")).toInt(0);
        const ScreenExtent size = Oriented(
            {ToExtent(monitor.value(QStringLiteral("width"))), ToExtent(monitor.value(QStringLiteral("height")))},
            transform % 2 == 1);
        if (size.width <= 0 || size.height <= 0) continue;
        monitors.push_back({monitor.value(QStringLiteral("name")).toString().toStdString(),
                            ToExtent(monitor.value(QStringLiteral("x"))), ToExtent(monitor.value(QStringLiteral("y"))),
                            size.width, size.height, monitor.value(QStringLiteral("focused")).toBool(false)});
    }
    return monitors;
}

ScreenExtent WlrootsDesktop::HyprlandPrimaryMonitor(const std::string& json) {
    const std::vector<Monitor> monitors = HyprlandMonitors(json);
    if (monitors.empty()) return {};
    return ScreenExtent{PrimaryOf(monitors).width, PrimaryOf(monitors).height};
}

ScreenExtent WlrootsDesktop::WlrRandrPrimaryOutput(const std::string& text) {
    // HEADLESS-1 "Headless output 1"
    //   Enabled: yes
    //   Modes:
    //     320x240 px, 60.000000 Hz (preferred, current)
    std::istringstream lines(text);
    std::string line;
    bool enabled = true;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != ' ') {
            enabled = true;  // a new output
            continue;
        }
        const std::string trimmed = Trimmed(line);
        if (trimmed.rfind("Enabled:", 0) == 0) {
            enabled = trimmed.find("yes") != std::string::npos;
            continue;
        }
        if (!enabled || trimmed.find("current") == std::string::npos) continue;
        std::int32_t width = 0, height = 0;
        const char* end = trimmed.data() + trimmed.size();
        const auto w = std::from_chars(trimmed.data(), end, width);
        if (w.ec != std::errc() || w.ptr == end || *w.ptr != 'x') continue;
        const auto h = std::from_chars(w.ptr + 1, end, height);
        if (h.ec == std::errc() && width > 0 && height > 0) return {width, height};
    }
    return {};
}

ScreenExtent WlrootsDesktop::primaryScreenSize() {
    Command command;
    ScreenExtent (*parse)(const std::string&) = nullptr;
    switch (m_compositor) {
    case Compositor::Sway:
        command = tool({"swaymsg", "-t", "get_outputs", "-r"});
        parse = &SwayPrimaryOutput;
        break;
    case Compositor::Hyprland:
        command = tool({"hyprctl", "-j", "monitors"});
        parse = &HyprlandPrimaryMonitor;
        break;
    case Compositor::Other:
        command = tool({"wlr-randr"});
        parse = &WlrRandrPrimaryOutput;
        break;
    }
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded()) throw DesktopError("Cannot read the screen size: " + Reason(command, result));
    const ScreenExtent size = parse(result.standardOutput);
    if (size.width <= 0 || size.height <= 0)
        throw DesktopError("Cannot read the screen size: " + command.argv.front() + " names no active output");
    return size;
}

WlrootsDesktop::Route WlrootsDesktop::route() {
    if (m_route != Route::Undecided) return m_route;
    switch (m_compositor) {
    case Compositor::Sway: m_route = Route::SwayIpc; break;
    case Compositor::Hyprland:
        // hyprctl answers for hyprpaper only while hyprpaper runs.
        m_route = m_runner.run(tool({"hyprctl", "hyprpaper", "listloaded"})).succeeded() ? Route::Hyprpaper : Route::OwnSwaybg;
        break;
    case Compositor::Other: m_route = Route::OwnSwaybg; break;
    }
    return m_route;
}

void WlrootsDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels&) {
    switch (route()) {
    case Route::SwayIpc: setThroughSway(bitmapPath, placement); break;
    case Route::Hyprpaper: setThroughHyprpaper(bitmapPath, placement); break;
    case Route::OwnSwaybg:
    case Route::Undecided: setThroughSwaybg(bitmapPath, placement); break;
    }
}

std::vector<Monitor> WlrootsDesktop::monitors() {
    if (m_compositor == Compositor::Other) return Desktop::monitors();
    const bool sway = m_compositor == Compositor::Sway;
    const Command command = sway ? tool({"swaymsg", "-t", "get_outputs", "-r"}) : tool({"hyprctl", "-j", "monitors"});
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded()) throw DesktopError("Cannot read the outputs: " + Reason(command, result));
    std::vector<Monitor> outputs = sway ? SwayOutputs(result.standardOutput) : HyprlandMonitors(result.standardOutput);
    if (outputs.empty()) throw DesktopError(command.argv.front() + " names no active output");
    // The focused output is the primary one (the first without one).
    const Monitor primary = PrimaryOf(outputs);
    for (Monitor& m : outputs) m.primary = m.name == primary.name;
    return OrderMonitors(std::move(outputs));
}

void WlrootsDesktop::setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) {
    // Output names ("DP-1", "HEADLESS-2") go to sway as they are; one sway's parser would
    // take apart is not addressed.
    auto plainName = [](const std::string& name) {
        return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == ':';
        });
    };
    const bool named = std::all_of(wallpapers.begin(), wallpapers.end(),
                                   [&](const MonitorWallpaper& w) { return plainName(w.monitor.name); });
    if (route() == Route::Hyprpaper && named && wallpapers.size() >= 2) {
        setMonitorsThroughHyprpaper(wallpapers);
        return;
    }
    if (route() != Route::SwayIpc || !named || wallpapers.size() < 2) {
        Desktop::setMonitorWallpapers(wallpapers);
        return;
    }
    // One message, so that the outputs change together; sway replies for each command.
    std::vector<std::string> argv = {"swaymsg"};
    for (const MonitorWallpaper& w : wallpapers) {
        if (argv.size() > 1) argv.push_back(";");
        for (std::string word : {std::string("output"), w.monitor.name, std::string("bg"),
                                 QuoteForSway(w.bitmapPath), std::string(SwayMode(w.placement)), std::string("#000000")})
            argv.push_back(std::move(word));
    }
    const Command command = tool(argv);
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded()) throw DesktopError("sway refused the wallpaper: " + Reason(command, result));
}

void WlrootsDesktop::setMonitorsThroughHyprpaper(const std::vector<MonitorWallpaper>& wallpapers) {
    std::vector<std::string> loaded;
    for (std::size_t i = 0; i < wallpapers.size(); ++i) {
        const std::string& bitmap = wallpapers[i].bitmapPath;
        // Fresh names, one rotation per monitor's bitmap: hyprpaper keeps pictures by path.
        const std::string path = i == 0 ? m_rotation.handOver(bitmap) : m_monitorRotations[bitmap].handOver(bitmap);
        const std::string target = wallpapers[i].placement == Placement::Centred ? "contain:" + path : path;
        for (const Command& command : {tool({"hyprctl", "hyprpaper", "preload", path}),
                                       tool({"hyprctl", "hyprpaper", "wallpaper", wallpapers[i].monitor.name + "," + target})}) {
            const CommandResult result = m_runner.run(command);
            if (!result.succeeded()) throw DesktopError("hyprpaper refused the wallpaper: " + Reason(command, result));
        }
        loaded.push_back(path);
    }
    for (const std::string& old : m_hyprpaperAlsoLoaded)
        if (std::find(loaded.begin(), loaded.end(), old) == loaded.end())
            m_runner.run(tool({"hyprctl", "hyprpaper", "unload", old}));
    if (!m_hyprpaperLoaded.empty() && std::find(loaded.begin(), loaded.end(), m_hyprpaperLoaded) == loaded.end())
        m_runner.run(tool({"hyprctl", "hyprpaper", "unload", m_hyprpaperLoaded}));
    m_hyprpaperLoaded = loaded.front();
    m_hyprpaperAlsoLoaded.assign(loaded.begin() + 1, loaded.end());
    m_rotation.removeStale();
    for (auto& [bitmap, rotation] : m_monitorRotations) rotation.removeStale();
}

void WlrootsDesktop::setThroughSway(const std::string& bitmapPath, Placement placement) {
    // sway starts a new swaybg at every `output bg`, even for the same path, and swaybg reads
    // the file when it starts: WallPaper.bmp itself will do.
    const Command command =
        tool({"swaymsg", "output", "*", "bg", QuoteForSway(bitmapPath), SwayMode(placement), "#000000"});
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded()) throw DesktopError("sway refused the wallpaper: " + Reason(command, result));
}

void WlrootsDesktop::setThroughHyprpaper(const std::string& bitmapPath, Placement placement) {
    // hyprpaper keeps pictures by path: a fresh name makes it read the new one.
    const std::string path = m_rotation.handOver(bitmapPath);
    // hyprpaper always scales to cover the monitor (it has no unscaled centre); "contain:"
    // keeps the whole picture in view, the nearest it has to centred.
    const std::string target = placement == Placement::Centred ? "contain:" + path : path;
    for (const Command& command : {tool({"hyprctl", "hyprpaper", "preload", path}),
                                   tool({"hyprctl", "hyprpaper", "wallpaper", "," + target})}) {
        const CommandResult result = m_runner.run(command);
        if (!result.succeeded()) throw DesktopError("hyprpaper refused the wallpaper: " + Reason(command, result));
    }
    if (!m_hyprpaperLoaded.empty() && m_hyprpaperLoaded != path)
        m_runner.run(tool({"hyprctl", "hyprpaper", "unload", m_hyprpaperLoaded}));
    for (const std::string& old : m_hyprpaperAlsoLoaded)
        if (old != path) m_runner.run(tool({"hyprctl", "hyprpaper", "unload", old}));
    m_hyprpaperAlsoLoaded.clear();
    m_hyprpaperLoaded = path;
    m_rotation.removeStale();
}

void WlrootsDesktop::setThroughSwaybg(const std::string& bitmapPath, Placement placement) {
    // swaybg reads the file once when it starts, so WallPaper.bmp itself will do.
    const Command command = tool({"swaybg", "-o", "*", "-i", bitmapPath, "-m", SwayMode(placement), "-c", "#000000"});
    const int started = m_runner.startDetached(command);
    if (started <= 0) throw DesktopError("swaybg could not be started");
    // The old swaybg goes only once the new one has drawn; one that ends at once (no
    // layer-shell, unreadable picture) leaves the old wallpaper in place.
    const auto deadline = std::chrono::steady_clock::now() + kSwaybgDrawTime;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!ProcessRunning(started)) {
            m_runner.stop(started);  // reaps it
            throw DesktopError("swaybg ended without showing the wallpaper");
        }
        std::this_thread::sleep_for(kSwaybgPollStep);
    }
    if (m_swaybg > 0) m_runner.stop(m_swaybg);
    m_swaybg = started;
}

void WlrootsDesktop::endBackground() {
    if (m_swaybg > 0) m_runner.stop(m_swaybg);
    m_swaybg = -1;
}

}  // namespace kalidrome::platform
