#include "PcmanfmDesktop.h"

#include "X11RootDesktop.h"

#include <QSettings>
#include <QString>

#include <chrono>
#include <cstdlib>
#include <filesystem>
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
    if (!m_screenSize) m_screenSize = [] { return X11RootDesktop().primaryScreenSize(); };
}

ScreenExtent PcmanfmDesktop::primaryScreenSize() { return m_screenSize(); }

std::string PcmanfmDesktop::environmentValue(const std::string& name) const {
    const std::string prefix = name + "=";
    for (const std::string& entry : m_environment)
        if (entry.rfind(prefix, 0) == 0) return entry.substr(prefix.size());
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

std::string PcmanfmDesktop::SettingsWallpaper(const std::string& settingsFile) {
    const QSettings settings(QString::fromStdString(settingsFile), QSettings::IniFormat);
    return settings.value(QStringLiteral("Desktop/Wallpaper")).toString().toStdString();
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
