#include "GSettingsDesktop.h"

#include "BmpCodec.h"
#include "SessionMonitors.h"
#include "SpannedPicture.h"

#include <filesystem>
#include <sstream>

namespace kalidrome::platform {

struct GSettingsSchema {
    const char* label;     // the desktop's name in messages
    const char* id;        // the schema
    const char* path;      // where dconf keeps it
    const char* pictureKey;
    bool pictureIsUri;     // a file URI, else a plain path
    const char* darkKey;   // the same picture for the dark style, or null
};

namespace {

constexpr std::chrono::milliseconds kToolTimeout{5000};

// Unity's schema (Ubuntu 16.04's) predates the dark-style key; Budgie reads GNOME's schema.
constexpr const char* kGnomePath = "/org/gnome/desktop/background/";
const GSettingsSchema kGnome{"GNOME", "org.gnome.desktop.background", kGnomePath, "picture-uri", true, "picture-uri-dark"};
const GSettingsSchema kUnity{"Unity", "org.gnome.desktop.background", kGnomePath, "picture-uri", true, nullptr};
const GSettingsSchema kBudgie{"Budgie", "org.gnome.desktop.background", kGnomePath, "picture-uri", true,
                              "picture-uri-dark"};
const GSettingsSchema kCinnamon{"Cinnamon", "org.cinnamon.desktop.background", "/org/cinnamon/desktop/background/",
                                "picture-uri", true, nullptr};
const GSettingsSchema kMate{"MATE", "org.mate.background", "/org/mate/desktop/background/", "picture-filename", false,
                            nullptr};

const GSettingsSchema& SchemaFor(DesktopKind kind) {
    switch (kind) {
        case DesktopKind::Unity: return kUnity;
        case DesktopKind::Budgie: return kBudgie;
        case DesktopKind::Cinnamon: return kCinnamon;
        case DesktopKind::Mate: return kMate;
        case DesktopKind::Gnome:
        default: return kGnome;
    }
}

constexpr const char* kBorderColour = "#000000";
constexpr const char* kSpannedFile = "WallPaper-spanned.bmp";

const char* OptionsValue(Placement placement) {
    return placement == Placement::Stretched ? "stretched" : "centered";
}

}  // namespace

std::string FileUri(const std::string& absolutePath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : absolutePath) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

std::string GVariantString(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    out += '\'';
    return out;
}

std::string ParseGVariantString(const std::string& text) {
    if (text.size() < 2 || (text.front() != '\'' && text.front() != '"')) return text;
    const char quote = text.front();
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == quote) break;
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const char e = text[++i];
        switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            default: out += e; break;  // \\ \' \" stand for themselves
        }
    }
    return out;
}

GSettingsDesktop::GSettingsDesktop(CommandRunner& runner, DesktopKind kind, ScreenSizeSource screenSize)
    : m_runner(runner), m_kind(kind), m_schema(SchemaFor(kind)), m_screenSize(std::move(screenSize)) {}

std::string GSettingsDesktop::name() const { return std::string(DesktopKindName(m_kind)); }

ScreenExtent GSettingsDesktop::primaryScreenSize() {
    return m_screenSize ? m_screenSize() : PrimaryMonitorSize(SessionMonitors({}));
}

bool GSettingsDesktop::schemaInstalled() {
    const CommandResult r = m_runner.run({{"gsettings", "list-schemas"}, kToolTimeout, {}});
    if (!r.succeeded()) return false;
    std::istringstream lines(r.standardOutput);
    for (std::string line; std::getline(lines, line);)
        if (line == m_schema.id) return true;
    return false;
}

void GSettingsDesktop::write(const std::vector<std::pair<std::string, std::string>>& values) {
    // One dconf change for all keys: the desktop hears of them together and never draws the
    // old picture under the new placement, or the new one under the old.
    std::string keyfile = "[/]\n";
    for (const auto& [key, value] : values) keyfile += key + "=" + value + "\n";
    Command command{{"dconf", "load", m_schema.path}, kToolTimeout, {}};
    command.standardInput = keyfile;
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded()) {
        std::string keys;
        for (const auto& [key, value] : values) keys += (keys.empty() ? "" : ", ") + key;
        throw DesktopError(std::string(m_schema.label) + " refused " + keys + " (" + DescribeFailure(command, result) +
                           (result.started ? ")" : "; the dconf tool comes with the package dconf-cli)"));
    }
}

// Every key of the schema with its value, in gsettings' text form.
std::map<std::string, std::string> GSettingsDesktop::readBack() {
    const Command command{{"gsettings", "list-recursively", m_schema.id}, kToolTimeout, {}};
    const CommandResult result = m_runner.run(command);
    if (!result.succeeded())
        throw DesktopError(std::string("Cannot read back the ") + m_schema.label + " wallpaper (" +
                           DescribeFailure(command, result) + ")");
    std::map<std::string, std::string> values;
    std::istringstream lines(result.standardOutput);
    for (std::string line; std::getline(lines, line);) {
        // "<schema> <key> <value>"
        const std::size_t a = line.find(' ');
        const std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
        if (b == std::string::npos) continue;
        values[line.substr(a + 1, b - a - 1)] = line.substr(b + 1);
    }
    return values;
}

void GSettingsDesktop::setWallpaper(const std::string& bitmapPath, Placement placement, const WallpaperPixels&) {
    const std::string absolute = std::filesystem::absolute(bitmapPath).lexically_normal().string();
    hand(m_rotation.handOver(absolute), OptionsValue(placement), placement == Placement::Centred);
    m_rotation.removeStale();
}

void GSettingsDesktop::setMonitorWallpapers(const std::vector<MonitorWallpaper>& wallpapers) {
    if (wallpapers.size() < 2) {
        Desktop::setMonitorWallpapers(wallpapers);
        return;
    }
    const std::filesystem::path primary = std::filesystem::absolute(wallpapers.front().bitmapPath).lexically_normal();
    const std::string spanned = (primary.parent_path() / kSpannedFile).string();
    render::WriteBmpFile(spanned, ComposeSpannedPicture(wallpapers));
    // The composed picture has black wherever a monitor's own picture does not reach.
    hand(m_spannedRotation.next(spanned), "spanned", true);
    m_spannedRotation.removeStale();
}

void GSettingsDesktop::hand(const std::string& handed, const std::string& options, bool border) {
    const std::string picture = m_schema.pictureIsUri ? FileUri(handed) : handed;

    // The picture, its placement and, for a centred one, the black around it, in one step.
    // The user's colour shading stays as it is; a stretched picture shows no border.
    std::vector<std::pair<std::string, std::string>> values{{"picture-options", GVariantString(options)},
                                                            {m_schema.pictureKey, GVariantString(picture)}};
    if (m_schema.darkKey) values.emplace_back(m_schema.darkKey, GVariantString(picture));
    if (border) values.emplace_back("primary-color", GVariantString(kBorderColour));
    write(values);

    const std::map<std::string, std::string> now = readBack();
    auto held = [&](const char* key) {
        const auto it = now.find(key);
        return it == now.end() ? std::string("nothing") : ParseGVariantString(it->second);
    };
    auto check = [&](const char* key, const std::string& wanted) {
        const std::string value = held(key);
        if (value != wanted)
            throw DesktopError(std::string(m_schema.label) + " kept " + key + " " + value + " instead of " + wanted +
                               " (the key is locked, or another program set it back?)");
    };
    check(m_schema.pictureKey, picture);
    if (m_schema.darkKey) check(m_schema.darkKey, picture);
    check("picture-options", options);
    if (border) check("primary-color", kBorderColour);
}

}  // namespace kalidrome::platform
