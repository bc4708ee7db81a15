#include "PlasmaDesktop.h"

#include <charconv>
#include <functional>
#include <sstream>
#include <utility>

namespace kalidrome::platform {

namespace {

using namespace std::chrono_literals;

// The shell answers once the script has run; a busy shell can take a few seconds.
constexpr auto kScriptTimeout = 10s;

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Splits printed text into lines, dropping empty ones (print() may or may not end a line).
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

// The message of a D-Bus error reply as dbus-send writes it ("Error org.freedesktop.DBus.
// Error.Failed: Widgets are locked"), without the error's name.
std::string ErrorMessage(const Command& command, const CommandResult& result) {
    const std::string& text = result.standardError;
    if (result.started && !result.timedOut && text.rfind("Error ", 0) == 0) {
        const auto colon = text.find(": ");
        std::string message = text.substr(colon == std::string::npos ? 6 : colon + 2);
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
        if (message.size() > 300) message.resize(300);
        if (!message.empty()) return message;
    }
    return DescribeFailure(command, result);
}

// Throws when a read-back line (one desktop) is not what it should hold.
void CheckHeld(const std::vector<std::string>& lines, const std::function<bool(const std::vector<std::string>&)>& holds) {
    if (lines.empty()) throw DesktopError("Plasma has no desktop to show the wallpaper on");
    for (const std::string& line : lines) {
        if (holds(Fields(line))) continue;
        std::string held = line;
        for (char& c : held)
            if (c == '\t') c = ' ';
        if (held.size() > 200) held.resize(200);
        throw DesktopError("Plasma did not take the wallpaper: a desktop holds " + held);
    }
}

}  // namespace

PlasmaDesktop::PlasmaDesktop(CommandRunner& runner, std::vector<std::string> environment)
    : m_runner(runner), m_environment(std::move(environment)) {}

std::string PlasmaDesktop::FileUrl(const std::string& absolutePath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : absolutePath) {
        const auto u = static_cast<unsigned char>(c);
        if (Unreserved(u) || c == '/') {
            url += c;
        } else {
            url += '%';
            url += kHex[u >> 4];
            url += kHex[u & 0xF];
        }
    }
    return url;
}

std::string PlasmaDesktop::JsString(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string literal = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        // Bytes of UTF-8 sequences pass as they are: none of them is JavaScript syntax.
        if (Unreserved(u) || u >= 0x80 || c == ' ' || c == '/' || c == ':' || c == '%') {
            literal += c;
        } else {
            literal += "\\u00";
            literal += kHex[u >> 4];
            literal += kHex[u & 0xF];
        }
    }
    literal += '"';
    return literal;
}

std::string PlasmaDesktop::SetScript(const std::string& fileUrl, Placement placement) {
    const int fill = placement == Placement::Stretched ? kFillStretch : kFillPad;
    return "var url = " + JsString(fileUrl) + ";\n"
           "var ds = desktops();\n"
           "for (var i = 0; i < ds.length; i++) {\n"
           "    var d = ds[i];\n"
           "    d.wallpaperPlugin = \"org.kde.image\";\n"
           "    d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];\n"
           "    d.writeConfig(\"FillMode\", " + std::to_string(fill) + ");\n"
           "    d.writeConfig(\"Color\", \"#000000\");\n"
           "    d.writeConfig(\"Image\", url);\n"
           "}\n";
}

namespace {

// The pictures as a script array and the function that picks a desktop's: its screen's rank
// among the screens, the primary (screen 0) first, then by x, then by y.
std::string PickScript(const std::vector<std::pair<std::string, Placement>>& pictures) {
    std::string walls = "var walls = [";
    for (std::size_t i = 0; i < pictures.size(); ++i)
        walls += (i ? ", " : "") + std::string("[") + PlasmaDesktop::JsString(pictures[i].first) + ", " +
                 std::to_string(pictures[i].second == Placement::Stretched ? PlasmaDesktop::kFillStretch
                                                                          : PlasmaDesktop::kFillPad) +
                 "]";
    return walls + "];\n"
           "function rank(s) {\n"
           "    if (s <= 0) return 0;\n"
           "    var g = screenGeometry(s), r = 1;\n"
           "    for (var o = 1; o < screenCount; o++) {\n"
           "        if (o == s) continue;\n"
           "        var h = screenGeometry(o);\n"
           "        if (h.x < g.x || (h.x == g.x && (h.y < g.y || (h.y == g.y && o < s)))) r++;\n"
           "    }\n"
           "    return r;\n"
           "}\n"
           "function pick(d) {\n"
           "    var r = rank(d.screen);\n"
           "    return walls[r < walls.length ? r : 0];\n"
           "}\n"
           "var ds = desktops();\n";
}

}  // namespace

std::string PlasmaDesktop::SetScreensScript(const std::vector<std::pair<std::string, Placement>>& pictures) {
    return PickScript(pictures) +
           "for (var i = 0; i < ds.length; i++) {\n"
           "    var d = ds[i];\n"
           "    var w = pick(d);\n"
           "    d.wallpaperPlugin = \"org.kde.image\";\n"
           "    d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];\n"
           "    d.writeConfig(\"FillMode\", w[1]);\n"
           "    d.writeConfig(\"Color\", \"#000000\");\n"
           "    d.writeConfig(\"Image\", w[0]);\n"
           "}\n";
}

std::string PlasmaDesktop::ReadBackScreensScript(const std::vector<std::pair<std::string, Placement>>& pictures) {
    return PickScript(pictures) +
           "for (var i = 0; i < ds.length; i++) {\n"
           "    var d = ds[i];\n"
           "    var w = pick(d);\n"
           "    d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];\n"
           "    print(d.wallpaperPlugin + \"\\t\" + d.readConfig(\"FillMode\") + \"\\t\" + d.readConfig(\"Image\") + "
           "\"\\t\" + w[1] + \"\\t\" + w[0] + \"\\n\");\n"
           "}\n";
}

void PlasmaDesktop::setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) {
    if (wallpapers.size() < 2) {
        Desktop::setMonitorWallpapers(wallpapers);
        return;
    }
    std::vector<std::pair<std::string, Placement>> pictures;
    for (std::size_t i = 0; i < wallpapers.size(); ++i) {
        const std::string& path = wallpapers[i].bitmapPath;
        pictures.emplace_back(FileUrl(i == 0 ? m_rotation.handOver(path) : m_monitorRotations[path].handOver(path)),
                              wallpapers[i].placement);
    }
    evaluate(SetScreensScript(pictures), "Plasma refused the wallpaper");
    const std::vector<std::string> lines =
        Lines(evaluate(ReadBackScreensScript(pictures), "Cannot read the wallpaper back from Plasma"));
    CheckHeld(lines, [](const std::vector<std::string>& fields) {
        return fields.size() == 5 && fields[0] == "org.kde.image" && fields[1] == fields[3] && fields[2] == fields[4];
    });
    m_rotation.removeStale();
    for (auto& [path, rotation] : m_monitorRotations) rotation.removeStale();
}

std::string PlasmaDesktop::ReadBackScript() {
    return "var ds = desktops();\n"
           "for (var i = 0; i < ds.length; i++) {\n"
           "    var d = ds[i];\n"
           "    d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];\n"
           "    print(d.wallpaperPlugin + \"\\t\" + d.readConfig(\"FillMode\") + \"\\t\" + d.readConfig(\"Image\") + "
           "\"\\n\");\n"
           "}\n";
}

std::string PlasmaDesktop::ScreenScript() {
    // Plasma numbers the primary screen 0.
    return "var g = screenGeometry(0);\n"
           "print(Math.round(g.width) + \"\\t\" + Math.round(g.height) + \"\\n\");\n";
}

std::string PlasmaDesktop::ReplyText(const std::string& dbusSendOutput) {
    // method return time=... sender=:1.5 -> destination=:1.9 serial=7 reply_serial=2
    //    string "text"
    const auto header = dbusSendOutput.find('\n');
    if (header == std::string::npos) return {};
    const std::string marker = "string \"";
    const auto open = dbusSendOutput.find(marker, header);
    const auto close = dbusSendOutput.rfind('"');
    if (open == std::string::npos || close == std::string::npos || close < open + marker.size()) return {};
    return dbusSendOutput.substr(open + marker.size(), close - open - marker.size());
}

std::string PlasmaDesktop::evaluate(const std::string& script, const std::string& failure) {
    Command command;
    command.argv = {"dbus-send",
                    "--session",
                    "--print-reply",
                    "--reply-timeout=" + std::to_string(std::chrono::milliseconds(kScriptTimeout).count() - 1000),
                    "--dest=org.kde.plasmashell",
                    "/PlasmaShell",
                    "org.kde.PlasmaShell.evaluateScript",
                    "string:" + script};
    command.timeout = kScriptTimeout;
    command.environment = m_environment;
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded()) throw DesktopError(failure + ": " + ErrorMessage(command, result));
    return ReplyText(result.standardOutput);
}

ScreenExtent PlasmaDesktop::primaryScreenSize() {
    const std::vector<std::string> lines = Lines(evaluate(ScreenScript(), "Cannot read the screen size from Plasma"));
    if (!lines.empty()) {
        const std::vector<std::string> fields = Fields(lines.front());
        std::int32_t width = 0, height = 0;
        if (fields.size() == 2 &&
            std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), width).ec == std::errc() &&
            std::from_chars(fields[1].data(), fields[1].data() + fields[1].size(), height).ec == std::errc() &&
            width > 0 && height > 0)
            return {width, height};
    }
    throw DesktopError("Plasma names no primary screen");
}

void PlasmaDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels&) {
    const std::string url = FileUrl(m_rotation.handOver(bitmapPath));
    evaluate(SetScript(url, placement), "Plasma refused the wallpaper");

    // What each desktop holds now: a desktop that kept another plugin or picture (a locked
    // containment, a script that failed half-way) is reported.
    const std::vector<std::string> lines = Lines(evaluate(ReadBackScript(), "Cannot read the wallpaper back from Plasma"));
    const std::string fill = std::to_string(placement == Placement::Stretched ? kFillStretch : kFillPad);
    CheckHeld(lines, [&](const std::vector<std::string>& fields) {
        return fields.size() == 3 && fields[0] == "org.kde.image" && fields[1] == fill && fields[2] == url;
    });
    m_rotation.removeStale();
}

}  // namespace kalidrome::platform
