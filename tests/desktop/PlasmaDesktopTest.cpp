#include "CaseName.h"
#include "PlasmaDesktop.h"
#include "RecordingRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
using platform::Command;
using platform::CommandResult;
using platform::DesktopError;
using platform::PlasmaDesktop;
using platform::Placement;
using platform::ScreenExtent;

// dbus-send --print-reply's output for a string reply.
CommandResult Reply(const std::string& text) {
    return RecordingRunner::Success("method return time=1702.5 sender=:1.5 -> destination=:1.9 serial=7 "
                                    "reply_serial=2\n   string \"" +
                                    text + "\"\n");
}

std::string ScriptOf(const Command& command) {
    const std::string& last = command.argv.back();
    return last.rfind("string:", 0) == 0 ? last.substr(7) : std::string();
}

bool IsReadBack(const Command& command) { return ScriptOf(command) == PlasmaDesktop::ReadBackScript(); }

std::string PercentDecoded(const std::string& url) {
    std::string out;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            out += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += url[i];
        }
    }
    return out;
}

// A shell whose desktops all take what they are given, as Plasma does: the read-back script
// answers with the plugin, fill mode and URL of the last set script.
class FakeShell {
public:
    explicit FakeShell(int desktops = 2) : m_desktops(desktops) {}
    CommandResult operator()(const Command& command) {
        const std::string script = ScriptOf(command);
        if (IsReadBack(command)) {
            std::string lines;
            for (int i = 0; i < m_desktops; ++i) lines += "org.kde.image\t" + m_fill + "\t" + m_url + "\n";
            return Reply(lines);
        }
        const auto open = script.find("var url = \"");
        if (open != std::string::npos) m_url = script.substr(open + 11, script.find('"', open + 11) - open - 11);
        const auto fill = script.find("\"FillMode\", ");
        if (fill != std::string::npos) m_fill = script.substr(fill + 12, script.find(')', fill) - fill - 12);
        return Reply("");
    }

private:
    int m_desktops;
    std::string m_url, m_fill;
};

struct PlacementCase {
    Placement placement;
    const char* fill;
};

TEST(PlasmaDesktopTest, SetsEveryDesktopThenReadsItBack) {
    for (const PlacementCase c : {PlacementCase{Placement::Stretched, "0"}, PlacementCase{Placement::Centred, "6"}}) {
        TempDir dir;
        const std::string bitmap = dir.file("WallPaper.bmp");
        WriteFile(bitmap, "BM");
        RecordingRunner runner(FakeShell{});
        PlasmaDesktop desktop(runner, {"DBUS_SESSION_BUS_ADDRESS=unix:path=/run/bus"});
        desktop.setWallpaper(bitmap, c.placement, {});

        ASSERT_EQ(runner.commands().size(), 2u);
        const Command& set = runner.commands()[0];
        const std::vector<std::string> head(set.argv.begin(), set.argv.end() - 1);
        EXPECT_EQ(head, (std::vector<std::string>{"dbus-send", "--session", "--print-reply", "--reply-timeout=9000",
                                                  "--dest=org.kde.plasmashell", "/PlasmaShell",
                                                  "org.kde.PlasmaShell.evaluateScript"}));
        EXPECT_EQ(set.environment, std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=unix:path=/run/bus"});
        const std::string script = ScriptOf(set);
        const std::string url = PlasmaDesktop::FileUrl(dir.file("WallPaper-a.bmp"));
        for (const std::string& part :
             {std::string("desktops()"), std::string("d.wallpaperPlugin = \"org.kde.image\""),
              std::string("[\"Wallpaper\", \"org.kde.image\", \"General\"]"),
              "d.writeConfig(\"FillMode\", " + std::string(c.fill) + ")", std::string("d.writeConfig(\"Image\", url)"),
              "var url = \"" + url + "\";"})
            EXPECT_NE(script.find(part), std::string::npos) << part << "\nin\n" << script;
        EXPECT_TRUE(IsReadBack(runner.commands()[1]));
        // Plasma reloads only for a new URL: each change names a fresh file, and the one
        // before is removed once the shell holds the new one.
        runner.clear();
        desktop.setWallpaper(bitmap, c.placement, {});
        EXPECT_NE(ScriptOf(runner.commands()[0]).find(PlasmaDesktop::FileUrl(dir.file("WallPaper-b.bmp"))),
                  std::string::npos);
        EXPECT_FALSE(fs::exists(dir.file("WallPaper-a.bmp")));
    }
}

TEST(PlasmaDesktopTest, NoPathCanBreakOutOfTheScriptsString) {
    const std::string hostile[] = {
        "/home/u/a\";print(1);//.bmp", "/home/u/it's/W.bmp", "/home/u/back\\slash\\\".bmp",
        "/home/u/line\nbreak\u2028.bmp", "/home/u/</script>${x}`y`.bmp", "/home/u/Bilder/Zürich 100%.bmp",
        "/home/u/a#b?c&d.bmp"};
    const std::string benign = PlasmaDesktop::SetScript("file:///x", Placement::Centred);
    for (const std::string& path : hostile) {
        const std::string url = PlasmaDesktop::FileUrl(path);
        EXPECT_EQ(PercentDecoded(url.substr(7)), path);
        for (const char ch : url)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch)) || std::string("/:._~%-").find(ch) != std::string::npos)
                << path;
        // The script differs from a benign one only inside the string literal.
        std::string script = PlasmaDesktop::SetScript(url, Placement::Centred);
        const std::string literal = PlasmaDesktop::JsString(url);
        ASSERT_NE(script.find(literal), std::string::npos);
        script.replace(script.find(literal), literal.size(), PlasmaDesktop::JsString("file:///x"));
        EXPECT_EQ(script, benign) << path;
    }
    // JsString itself keeps any text inside its quotes.
    const std::string literal = PlasmaDesktop::JsString("a\"b'c\\d\ne</f");
    EXPECT_EQ(literal, "\"a\\u0022b\\u0027c\\u005cd\\u000ae\\u003c/f\"");
}

struct ErrorCase {
    const char* name;
    std::function<CommandResult(const Command&)> answer;
    const char* reason;  // expected in the message
};

class PlasmaErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(PlasmaErrorTest, SaysWhyTheWallpaperDidNotChange) {
    TempDir dir;
    WriteFile(dir.file("WallPaper.bmp"), "BM");
    RecordingRunner runner(GetParam().answer);
    PlasmaDesktop desktop(runner);
    try {
        desktop.setWallpaper(dir.file("WallPaper.bmp"), Placement::Stretched, {});
        FAIL() << "no DesktopError";
    } catch (const DesktopError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().reason), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PlasmaErrorTest,
    ::testing::Values(
        ErrorCase{"kiosk lock",
                  [](const Command&) {
                      return RecordingRunner::Failure(1, "Error org.freedesktop.DBus.Error.Failed: Widgets are locked\n");
                  },
                  "Plasma refused the wallpaper: Widgets are locked"},
        ErrorCase{"no shell on the bus",
                  [](const Command&) {
                      return RecordingRunner::Failure(1, "Error org.freedesktop.DBus.Error.ServiceUnknown: The name "
                                                         "org.kde.plasmashell was not provided by any .service files\n");
                  },
                  "org.kde.plasmashell was not provided"},
        ErrorCase{"dbus-send missing",
                  [](const Command&) {
                      CommandResult r;
                      r.standardError = "cannot start dbus-send: No such file or directory";
                      return r;
                  },
                  "cannot start dbus-send"},
        ErrorCase{"a desktop kept its picture",
                  [](const Command& c) {
                      return IsReadBack(c) ? Reply("org.kde.image\t0\tfile:///old.png\n") : Reply("");
                  },
                  "a desktop holds org.kde.image 0 file:///old.png"},
        ErrorCase{"a desktop kept another plugin",
                  [](const Command& c) { return IsReadBack(c) ? Reply("org.kde.color\t0\t\n") : Reply(""); },
                  "org.kde.color"},
        ErrorCase{"no desktops", [](const Command&) { return Reply(""); }, "no desktop"}),
    [](const auto& p) { return CaseName(p.param.name); });

TEST(PlasmaDesktopTest, ReadsThePrimaryScreenFromTheShell) {
    RecordingRunner runner([](const Command&) { return Reply("1920\t1080\n"); });
    PlasmaDesktop desktop(runner);
    EXPECT_EQ(desktop.primaryScreenSize(), (ScreenExtent{1920, 1080}));
    EXPECT_EQ(ScriptOf(runner.commands().at(0)), PlasmaDesktop::ScreenScript());

    for (const std::string bad : {"", "0\t0", "wide\ttall", "1920", "99999999999\t1"}) {
        runner.setAnswer([&](const Command&) { return Reply(bad); });
        EXPECT_THROW(desktop.primaryScreenSize(), DesktopError) << bad;
    }
}

TEST(PlasmaDesktopTest, TakesTheTextOutOfDbusSendsReply) {
    const std::pair<std::string, std::string> cases[] = {
        {"method return time=1 sender=:1.5 -> destination=:1.9 serial=7 reply_serial=2\n   string \"a\tb\nc\"\n",
         "a\tb\nc"},
        {"method return time=1 sender=:1.5 -> destination=:1.9 serial=7 reply_serial=2\n   string \"\"\n", ""},
        {"", ""},
        {"method return only\n", ""},
        {"method return\n   string \"unterminated", ""},
    };
    for (const auto& [output, text] : cases) EXPECT_EQ(PlasmaDesktop::ReplyText(output), text) << output;
}

}  // namespace
}  // namespace kalidrome::test
