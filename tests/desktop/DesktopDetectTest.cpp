#include "CaseName.h"
#include "Desktop.h"
#include "DesktopDetect.h"
#include "RecordingRunner.h"

#include <gtest/gtest.h>

#include <map>

namespace kalidrome::test {
namespace {

using platform::DesktopKind;

struct DetectCase {
    const char* name;
    std::map<std::string, std::string> env;
    DesktopKind kind;
};

class DetectDesktopTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(DetectDesktopTest, FindsTheKind) {
    const DetectCase& c = GetParam();
    const platform::DetectedDesktop found = platform::DetectDesktop([&](const char* name) -> std::optional<std::string> {
        const auto it = c.env.find(name);
        if (it == c.env.end()) return std::nullopt;
        return it->second;
    });
    EXPECT_EQ(platform::DesktopKindName(found.kind), platform::DesktopKindName(c.kind)) << found.reason;
    EXPECT_FALSE(found.reason.empty());
}

const DetectCase kDetectCases[] = {
    {"GNOME on Wayland", {{"XDG_CURRENT_DESKTOP", "GNOME"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}},
     DesktopKind::Gnome},
    {"Ubuntu's GNOME", {{"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}}, DesktopKind::Gnome},
    {"GNOME Flashback", {{"XDG_CURRENT_DESKTOP", "GNOME-Flashback:GNOME"}}, DesktopKind::Gnome},
    {"lower-case gnome", {{"XDG_CURRENT_DESKTOP", "gnome"}}, DesktopKind::Gnome},
    {"Budgie after GNOME", {{"XDG_CURRENT_DESKTOP", "GNOME:Budgie"}}, DesktopKind::Budgie},
    {"Budgie before GNOME", {{"XDG_CURRENT_DESKTOP", "Budgie:GNOME"}}, DesktopKind::Budgie},
    {"Unity after GNOME", {{"XDG_CURRENT_DESKTOP", "GNOME:Unity:Unity7:ubuntu"}}, DesktopKind::Unity},
    {"Cinnamon", {{"XDG_CURRENT_DESKTOP", "X-Cinnamon"}}, DesktopKind::Cinnamon},
    {"MATE", {{"XDG_CURRENT_DESKTOP", "MATE"}}, DesktopKind::Mate},
    {"XFCE", {{"XDG_CURRENT_DESKTOP", "XFCE"}, {"DISPLAY", ":0"}}, DesktopKind::Xfce},
    {"KDE by name", {{"XDG_CURRENT_DESKTOP", "KDE"}}, DesktopKind::Plasma},
    {"KDE by session version", {{"KDE_SESSION_VERSION", "6"}, {"DISPLAY", ":0"}}, DesktopKind::Plasma},
    {"LXQt", {{"XDG_CURRENT_DESKTOP", "LXQt"}}, DesktopKind::Lxqt},
    {"LXDE", {{"XDG_CURRENT_DESKTOP", "LXDE"}}, DesktopKind::Lxde},
    {"sway by name", {{"XDG_CURRENT_DESKTOP", "sway"}}, DesktopKind::Sway},
    {"sway by socket", {{"SWAYSOCK", "/run/user/1000/sway.sock"}, {"WAYLAND_DISPLAY", "wayland-1"}}, DesktopKind::Sway},
    {"Hyprland by signature", {{"HYPRLAND_INSTANCE_SIGNATURE", "abc"}, {"WAYLAND_DISPLAY", "wayland-1"}},
     DesktopKind::Hyprland},
    {"other Wayland compositor", {{"XDG_CURRENT_DESKTOP", "river"}, {"WAYLAND_DISPLAY", "wayland-1"}},
     DesktopKind::Wlroots},
    {"unknown desktop on X", {{"XDG_CURRENT_DESKTOP", "Openbox"}, {"DISPLAY", ":1"}}, DesktopKind::X11Root},
    {"bare X", {{"DISPLAY", ":1"}}, DesktopKind::X11Root},
    {"empty values are unset", {{"XDG_CURRENT_DESKTOP", ""}, {"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":1"}},
     DesktopKind::X11Root},
    {"nothing", {}, DesktopKind::None},
    {"forced kind wins", {{"KALIDROME_DESKTOP", "xfce"}, {"XDG_CURRENT_DESKTOP", "GNOME"}}, DesktopKind::Xfce},
    {"forced kind any case", {{"KALIDROME_DESKTOP", "KDE"}}, DesktopKind::Plasma},
    {"forced root window", {{"KALIDROME_DESKTOP", "x11-root"}, {"XDG_CURRENT_DESKTOP", "GNOME"}},
     DesktopKind::X11Root},
    {"forced unknown name", {{"KALIDROME_DESKTOP", "amiga"}, {"DISPLAY", ":0"}}, DesktopKind::None},
};

INSTANTIATE_TEST_SUITE_P(Environments, DetectDesktopTest, ::testing::ValuesIn(kDetectCases),
                         [](const auto& param) { return CaseName(param.param.name); });

TEST(DetectDesktopReason, SaysWhyNothingWasFound) {
    const auto none = platform::DetectDesktop([](const char*) { return std::optional<std::string>(); });
    EXPECT_NE(none.reason.find("No desktop found"), std::string::npos) << none.reason;
    const auto typo = platform::DetectDesktop([](const char* name) {
        return std::string(name) == "KALIDROME_DESKTOP" ? std::optional<std::string>("gnom") : std::nullopt;
    });
    EXPECT_NE(typo.reason.find("gnom"), std::string::npos) << typo.reason;
    EXPECT_NE(typo.reason.find("gnome"), std::string::npos) << "lists the known names: " << typo.reason;
}

TEST(DesktopKindNames, RoundTrip) {
    for (DesktopKind kind : {DesktopKind::None, DesktopKind::X11Root, DesktopKind::Gnome, DesktopKind::Unity,
                             DesktopKind::Budgie, DesktopKind::Cinnamon, DesktopKind::Mate, DesktopKind::Xfce,
                             DesktopKind::Plasma, DesktopKind::Lxqt, DesktopKind::Lxde, DesktopKind::Sway,
                             DesktopKind::Hyprland, DesktopKind::Wlroots}) {
        const auto back = platform::DesktopKindFromName(platform::DesktopKindName(kind));
        ASSERT_TRUE(back.has_value()) << platform::DesktopKindName(kind);
        EXPECT_EQ(*back, kind) << platform::DesktopKindName(kind);
    }
}

// CreateDesktop hands each kind to the implementation whose name() is the kind's name.
TEST(CreateDesktopTest, PicksTheImplementationForTheKind) {
    RecordingRunner runner;
    for (DesktopKind kind : {DesktopKind::Gnome, DesktopKind::Unity, DesktopKind::Budgie, DesktopKind::Cinnamon,
                             DesktopKind::Mate, DesktopKind::Xfce, DesktopKind::X11Root, DesktopKind::Plasma,
                             DesktopKind::Lxqt, DesktopKind::Lxde, DesktopKind::Sway, DesktopKind::Hyprland,
                             DesktopKind::Wlroots}) {
        const auto desktop = platform::CreateDesktop({kind, "test"}, runner);
        EXPECT_EQ(desktop->name(), platform::DesktopKindName(kind));
    }
    const auto none = platform::CreateDesktop({DesktopKind::None, "No desktop found: test"}, runner);
    EXPECT_EQ(none->name(), "none");
    try {
        none->primaryScreenSize();
        ADD_FAILURE() << "no desktop, yet a screen size";
    } catch (const platform::DesktopError& e) {
        EXPECT_STREQ(e.what(), "No desktop found: test");
    }
    EXPECT_TRUE(runner.commands().empty()) << "creating a desktop runs no tool";
}

}  // namespace
}  // namespace kalidrome::test
