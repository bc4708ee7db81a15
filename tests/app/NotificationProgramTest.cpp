// The real program on a private X server with no tray, and a real notification service
// (dunst, package dunst) on a private session bus: what the tray would have shown in a
// balloon (the first start's hint, a desktop that refuses the wallpaper) reaches the user as
// a desktop notification, in the user's language, each refusal once. With no notification
// service either, the message goes to stderr (and the window's status line).
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "BmpCodec.h"
#include "Image.h"
#include "ListFile.h"
#include "Process.h"
#include "TempDir.h"
#include "XvfbServer.h"

namespace {

using namespace kalidrome;
using kalidrome::test::Process;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WaitFor;
using kalidrome::test::WriteFile;

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// The notifications dunst -print reported, as "summary|body" lines.
std::vector<std::string> Notifications(const std::string& printed) {
    std::vector<std::string> out;
    auto field = [&](std::size_t from, const std::string& name) {
        const std::size_t at = printed.find("\t" + name + ": '", from);
        if (at == std::string::npos) return std::string();
        const std::size_t start = at + name.size() + 4;
        return printed.substr(start, printed.find("'\n", start) - start);
    };
    for (std::size_t at = printed.find("{\n"); at != std::string::npos; at = printed.find("{\n", at + 2))
        out.push_back(field(at, "summary") + "|" + field(at, "body"));
    return out;
}

// A program folder on a private X server without a tray, on a private session bus that
// starts no services of its own; the desktop is XFCE with no xfconfd, which refuses every
// change.
class NotificationSession {
public:
    NotificationSession(const std::string& language, bool firstStart) {
        const char* bin = std::getenv("KALIDROME_BIN_DIR");
        const char* source = std::getenv("KALIDROME_SOURCE_DIR");
        std::filesystem::copy_file(std::string(bin) + "/kalidrome", dir.file("kalidrome"));
        system = dir.file("System/");
        std::filesystem::create_directory(system);
        for (const char* name : {"Deutsch.lng", "English.lng"})
            std::filesystem::copy_file(std::string(source) + "/data/System/" + name, system + name);
        for (const auto& [name, red] : {std::pair{"red.bmp", 255}, std::pair{"blue.bmp", 0}}) {
            render::Image image(32, 24);
            for (std::int32_t y = 0; y < image.height(); ++y)
                for (std::int32_t x = 0; x < image.width(); ++x) image.row(y)[3 * x + 2] = static_cast<std::uint8_t>(red);
            render::WriteBmpFile(dir.file(name), image);
        }
        WallpaperList list;
        std::string current;
        list.AddFiles({dir.file("red.bmp"), dir.file("blue.bmp")}, current);
        WriteListFile(system + "Files.kdl", list, false, false);
        // No Settings.ini makes the very first start; the list is the default one.
        if (!firstStart)
            WriteFile(system + "Settings.ini", "[Options]\nDisableCycling=1\nRandom=0\nShowTray=1\n[Languages]\n"
                                               "CurrLanguage=" + language + "\n");
        WriteFile(dir.file("bus.conf"),
                  "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig><type>session</type><listen>unix:path=" + dir.file("bus") +
                      "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                      "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n");
        env = {{"DISPLAY", xvfb.display()},
               {"QT_QPA_PLATFORM", "xcb"},
               {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.file("bus")},
               {"HOME", dir.path()},
               {"XDG_RUNTIME_DIR", dir.path()},
               {"XDG_CONFIG_HOME", dir.file("config")},
               {"XDG_CURRENT_DESKTOP", ""},
               {"KALIDROME_DESKTOP", "xfce"},
               {"KALIDROME_TRACE", dir.file("trace")},
               {"KALIDROME_NONINTERACTIVE", "1"}};
        bus = std::make_unique<Process>("/usr/bin/dbus-daemon",
                                        std::vector<std::string>{"--config-file=" + dir.file("bus.conf"), "--nofork"},
                                        env, dir.file("dbus.log"));
        busUp = WaitFor([&] { return std::filesystem::exists(dir.file("bus")); }, 10000);
    }

    // dunst, printing what it receives.
    bool startNotifier() {
        notifier = std::make_unique<Process>("/usr/bin/dunst", std::vector<std::string>{"-print"}, env, dir.file("dunst.out"));
        return WaitFor(
            [&] {
                Process ask("/usr/bin/dbus-send",
                            {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.Notifications"},
                            env, dir.file("ask.log"));
                return ask.waitFinished(5000) && ReadFile(dir.file("ask.log")).find("boolean true") != std::string::npos;
            },
            10000);
    }

    std::unique_ptr<Process> start(const std::vector<std::string>& args, const std::string& log) {
        return std::make_unique<Process>(dir.file("kalidrome"), args, env, dir.file(log));
    }
    std::string trace() const { return ReadFile(dir.file("trace")); }
    std::vector<std::string> received() const { return Notifications(ReadFile(dir.file("dunst.out"))); }
    // The reason the program gave for the refusal, as its trace has it.
    std::string refusal() const {
        const std::string t = trace();
        const std::size_t at = t.find("desktop refused ");
        return at == std::string::npos ? std::string() : t.substr(at + 16, t.find('\n', at) - at - 16);
    }

    test::XvfbServer xvfb{640, 480};
    TempDir dir;
    std::string system;
    std::map<std::string, std::string> env;
    std::unique_ptr<Process> bus, notifier;
    bool busUp = false;
};

bool ToolsMissing(std::string& which) {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/dbus-daemon", "/usr/bin/dbus-send", "/usr/bin/dunst",
                             "/usr/bin/xfconf-query"})
        if (::access(tool, X_OK) != 0) {
            which = tool;
            return true;
        }
    return false;
}

// The markup-escaped form a plain text takes in the notification's body.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

TEST(NotificationProgram, WithoutATrayTheNotificationServiceTellsTheHintAndEachRefusalOnce) {
    std::string missing;
    if (ToolsMissing(missing)) GTEST_SKIP() << missing << " is not installed (scripts/install-deps.sh --test)";
    struct Case {
        const char* language;
        bool firstStart;
        const char* welcomeTitle;  // null: no hint expected
        const char* failureTitle;  // null: the very first start has no list to cycle
    };
    const Case cases[] = {
        {"English", true, "Kalidrome is running", nullptr},
        {"English", false, nullptr, "The wallpaper could not be changed:"},
        {"Deutsch", false, nullptr, "Das Hintergrundbild konnte nicht gewechselt werden:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        NotificationSession session(c.language, c.firstStart);
        ASSERT_TRUE(session.xvfb.ok()) << session.xvfb.reason();
        ASSERT_TRUE(session.busUp) << ReadFile(session.dir.file("dbus.log"));
        ASSERT_TRUE(session.startNotifier()) << ReadFile(session.dir.file("dunst.out"));

        auto program = session.start({}, "kalidrome.log");
        ASSERT_TRUE(WaitFor([&] { return session.trace().find("running\n") != std::string::npos; }, 15000))
            << session.trace() << ReadFile(session.dir.file("kalidrome.log"));
        if (c.welcomeTitle) {
            ASSERT_TRUE(WaitFor([&] { return !session.received().empty(); }, 10000)) << session.trace();
            const std::string hint = session.received().front();
            EXPECT_EQ(hint.substr(0, hint.find('|')), c.welcomeTitle);
            EXPECT_NE(hint.find("no tray icons"), std::string::npos) << hint;
        }
        if (!c.failureTitle) continue;
        const std::size_t before = session.received().size();
        EXPECT_EQ(before, 0u) << "a later start gives no hint";

        // The same refusal twice: told once.
        for (int i = 0; i < 2; ++i) {
            auto next = session.start({"--next"}, "next.log");
            ASSERT_TRUE(next->waitFinished(5000));
            ASSERT_TRUE(WaitFor([&] { return Count(session.trace(), "request 3026\n") == std::size_t(i + 1); }, 5000));
            ASSERT_TRUE(WaitFor([&] { return Count(session.trace(), "wallpaper unchanged") == std::size_t(i + 1); },
                                10000))
                << session.trace();
        }
        const std::string reason = session.refusal();
        ASSERT_FALSE(reason.empty()) << session.trace();
        ASSERT_TRUE(WaitFor([&] { return session.received().size() > before; }, 10000))
            << ReadFile(session.dir.file("dunst.out")) << session.trace() << ReadFile(session.dir.file("kalidrome.log"));
        ::usleep(500 * 1000);  // a second notification would have come by now
        const std::vector<std::string> received = session.received();
        ASSERT_EQ(received.size(), before + 1) << ReadFile(session.dir.file("dunst.out"));
        EXPECT_EQ(received.back(), std::string(c.failureTitle) + "|" + Escaped(reason));
        EXPECT_NE(session.trace().find("notified\n"), std::string::npos) << session.trace();
        program->signal(SIGTERM);
        ASSERT_TRUE(program->waitFinished(10000));
    }
}

// The program's own reasons reach the user in the user's language: here a listed picture
// deleted while the program runs, in German.
TEST(NotificationProgram, AMissingPictureIsToldInTheUsersLanguage) {
    std::string missing;
    if (ToolsMissing(missing)) GTEST_SKIP() << missing << " is not installed (scripts/install-deps.sh --test)";
    NotificationSession session("Deutsch", false);
    ASSERT_TRUE(session.xvfb.ok()) << session.xvfb.reason();
    ASSERT_TRUE(session.busUp) << ReadFile(session.dir.file("dbus.log"));
    ASSERT_TRUE(session.startNotifier()) << ReadFile(session.dir.file("dunst.out"));
    auto program = session.start({}, "kalidrome.log");
    ASSERT_TRUE(WaitFor([&] { return session.trace().find("running\n") != std::string::npos; }, 15000))
        << session.trace() << ReadFile(session.dir.file("kalidrome.log"));
    std::filesystem::remove(session.dir.file("red.bmp"));
    std::filesystem::remove(session.dir.file("blue.bmp"));
    auto next = session.start({"--next"}, "next.log");
    ASSERT_TRUE(next->waitFinished(5000));
    ASSERT_TRUE(WaitFor([&] { return !session.received().empty(); }, 10000))
        << session.trace() << ReadFile(session.dir.file("kalidrome.log"));
    EXPECT_EQ(session.refusal(), "The picture is missing.");
    EXPECT_EQ(session.received().front(), "Das Hintergrundbild konnte nicht gewechselt werden:|Das Bild fehlt.");
    program->signal(SIGTERM);
    ASSERT_TRUE(program->waitFinished(10000));
}

TEST(NotificationProgram, WithNoNotificationServiceStderrTells) {
    std::string missing;
    if (ToolsMissing(missing)) GTEST_SKIP() << missing << " is not installed (scripts/install-deps.sh --test)";
    NotificationSession session("English", false);
    ASSERT_TRUE(session.xvfb.ok()) << session.xvfb.reason();
    ASSERT_TRUE(session.busUp) << ReadFile(session.dir.file("dbus.log"));
    auto program = session.start({}, "kalidrome.log");
    ASSERT_TRUE(WaitFor([&] { return session.trace().find("running\n") != std::string::npos; }, 15000))
        << session.trace() << ReadFile(session.dir.file("kalidrome.log"));
    auto next = session.start({"--next"}, "next.log");
    ASSERT_TRUE(next->waitFinished(5000));
    ASSERT_TRUE(WaitFor([&] { return !session.refusal().empty(); }, 10000)) << session.trace();
    const std::string line = "kalidrome: The wallpaper could not be changed: " + session.refusal() + "\n";
    EXPECT_TRUE(WaitFor([&] { return ReadFile(session.dir.file("kalidrome.log")).find(line) != std::string::npos; },
                        10000))
        << ReadFile(session.dir.file("kalidrome.log"));
    EXPECT_NE(session.trace().find("no notification service"), std::string::npos) << session.trace();
    program->signal(SIGTERM);
    ASSERT_TRUE(program->waitFinished(10000));
}

}  // namespace
