#include "BmpCodec.h"
#include "CaseName.h"
#include "Process.h"
#include "GSettingsDesktop.h"
#include "RecordingRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

namespace kalidrome::test {
namespace {

namespace fs = std::filesystem;
using platform::Command;
using platform::CommandResult;
using platform::DesktopKind;
using platform::GSettingsDesktop;
using platform::Placement;
using Argv = std::vector<std::string>;

platform::ScreenExtent FixedScreen() { return {1280, 1024}; }

// The schema dconf keeps at a path.
std::string SchemaAt(const std::string& path) {
    if (path == "/org/gnome/desktop/background/") return "org.gnome.desktop.background";
    if (path == "/org/cinnamon/desktop/background/") return "org.cinnamon.desktop.background";
    if (path == "/org/mate/desktop/background/") return "org.mate.background";
    return "unknown";
}

// Answers dconf and gsettings the way a desktop that takes every value does: what was
// loaded or set is what list-recursively reports.
class SettingsHeld {
public:
    CommandResult operator()(const Command& c) {
        if (c.argv.size() == 5 && c.argv[1] == "set") {
            m_values[c.argv[2]][c.argv[3]] = c.argv[4];
            return RecordingRunner::Success();
        }
        if (c.argv.size() == 3 && c.argv[0] == "dconf" && c.argv[1] == "load") {
            std::istringstream lines(c.standardInput);
            for (std::string line; std::getline(lines, line);)
                if (const std::size_t eq = line.find('='); eq != std::string::npos)
                    m_values[SchemaAt(c.argv[2])][line.substr(0, eq)] = line.substr(eq + 1);
            return RecordingRunner::Success();
        }
        if (c.argv.size() == 3 && c.argv[1] == "list-recursively") {
            std::string out;
            for (const auto& [key, value] : m_values[c.argv[2]]) out += c.argv[2] + " " + key + " " + value + "\n";
            return RecordingRunner::Success(out);
        }
        return RecordingRunner::Failure(1, "unexpected command");
    }

private:
    std::map<std::string, std::map<std::string, std::string>> m_values;
};

struct CommandCase {
    const char* name;
    DesktopKind kind;
    Placement placement;
    // {schema, its dconf path, picture key, picture value as a URI?, dark key or ""}, options value
    const char* schema;
    const char* path;
    const char* pictureKey;
    bool uri;
    const char* darkKey;
    const char* options;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class GSettingsCommandsTest : public ::testing::TestWithParam<CommandCase> {
protected:
    TempDir m_dir;
};

// What one change loads into dconf: picture and placement, and the black border for a
// centred picture, all in one dconf change.
std::string Loaded(const CommandCase& c, Placement placement, const std::string& picture) {
    std::string text = std::string("[/]\npicture-options='") +
                       (placement == Placement::Stretched ? "stretched" : "centered") + "'\n" + c.pictureKey + "=" +
                       picture + "\n";
    if (*c.darkKey) text += std::string(c.darkKey) + "=" + picture + "\n";
    if (placement == Placement::Centred) text += "primary-color='#000000'\n";
    return text;
}

// The whole sequence of a change: one dconf load of every key, then one read-back of the
// schema; the colour shading is never written.
TEST_P(GSettingsCommandsTest, LoadsPictureAndPlacementInOneChangeThenReadsBack) {
    const CommandCase& c = GetParam();
    const std::string bitmap = m_dir.file("WallPaper.bmp");
    WriteFile(bitmap, "BM");
    SettingsHeld desktop;
    RecordingRunner runner(std::ref(desktop));
    GSettingsDesktop gsettings(runner, c.kind, FixedScreen);

    const Placement other = c.placement == Placement::Stretched ? Placement::Centred : Placement::Stretched;
    const struct {
        Placement placement;
        const char* handed;
    } changes[] = {{c.placement, "WallPaper-a.bmp"}, {c.placement, "WallPaper-b.bmp"}, {other, "WallPaper-a.bmp"}};
    for (const auto& change : changes) {
        runner.clear();
        gsettings.setWallpaper(bitmap, change.placement, {});
        const std::string handed = m_dir.file(change.handed);
        const std::string picture = c.uri ? "'file://" + handed + "'" : "'" + handed + "'";
        const std::vector<Argv> expected = {{"dconf", "load", c.path}, {"gsettings", "list-recursively", c.schema}};
        EXPECT_EQ(runner.argvs(), expected);
        ASSERT_EQ(runner.commands().size(), 2u);
        EXPECT_EQ(runner.commands()[0].standardInput, Loaded(c, change.placement, picture));
        for (const Command& command : runner.commands()) {
            EXPECT_GT(command.timeout.count(), 0);
            EXPECT_LE(command.timeout.count(), 10000);
        }
    }
    EXPECT_FALSE(fs::exists(m_dir.file("WallPaper-b.bmp"))) << "the name shown before is removed once the desktop holds the new one";
}

TEST(GSettingsPlacement, ChangedInTheDesktopsOwnSettingsIsPutBack) {
    TempDir dir;
    const std::string bitmap = dir.file("WallPaper.bmp");
    WriteFile(bitmap, "BM");
    SettingsHeld desktop;
    RecordingRunner runner(std::ref(desktop));
    GSettingsDesktop gnome(runner, DesktopKind::Gnome, FixedScreen);
    gnome.setWallpaper(bitmap, Placement::Centred, {});
    // The user picks "zoom" in GNOME's settings.
    desktop(Command{{"gsettings", "set", "org.gnome.desktop.background", "picture-options", "'zoom'"}, {}, {}, {}});
    EXPECT_NO_THROW(gnome.setWallpaper(bitmap, Placement::Centred, {}));
    const CommandResult held = desktop(Command{{"gsettings", "list-recursively", "org.gnome.desktop.background"}, {}, {}, {}});
    EXPECT_NE(held.standardOutput.find("picture-options 'centered'"), std::string::npos) << held.standardOutput;
}

const CommandCase kCommandCases[] = {
    {"GNOME stretched", DesktopKind::Gnome, Placement::Stretched, "org.gnome.desktop.background", "/org/gnome/desktop/background/", "picture-uri", true,
     "picture-uri-dark", "stretched"},
    {"GNOME centred", DesktopKind::Gnome, Placement::Centred, "org.gnome.desktop.background", "/org/gnome/desktop/background/", "picture-uri", true,
     "picture-uri-dark", "centered"},
    {"Budgie centred", DesktopKind::Budgie, Placement::Centred, "org.gnome.desktop.background", "/org/gnome/desktop/background/", "picture-uri", true,
     "picture-uri-dark", "centered"},
    {"Unity stretched", DesktopKind::Unity, Placement::Stretched, "org.gnome.desktop.background", "/org/gnome/desktop/background/", "picture-uri", true,
     "", "stretched"},
    {"Cinnamon stretched", DesktopKind::Cinnamon, Placement::Stretched, "org.cinnamon.desktop.background",
     "/org/cinnamon/desktop/background/", "picture-uri", true, "", "stretched"},
    {"Cinnamon centred", DesktopKind::Cinnamon, Placement::Centred, "org.cinnamon.desktop.background", "/org/cinnamon/desktop/background/", "picture-uri",
     true, "", "centered"},
    {"MATE stretched", DesktopKind::Mate, Placement::Stretched, "org.mate.background", "/org/mate/desktop/background/", "picture-filename", false, "",
     "stretched"},
    {"MATE centred", DesktopKind::Mate, Placement::Centred, "org.mate.background", "/org/mate/desktop/background/", "picture-filename", false, "",
     "centered"},
};

INSTANTIATE_TEST_SUITE_P(Kinds, GSettingsCommandsTest, ::testing::ValuesIn(kCommandCases),
                         [](const auto& param) { return CaseName(param.param.name); });

TEST(GSettingsText, QuotesAndEscapes) {
    EXPECT_EQ(platform::FileUri("/home/ana/My Pictures/it's 100%.bmp"),
              "file:///home/ana/My%20Pictures/it%27s%20100%25.bmp");
    EXPECT_EQ(platform::FileUri("/a/\xc3\xa9t\xc3\xa9.bmp"), "file:///a/%C3%A9t%C3%A9.bmp");
    const std::string tricky = "/tmp/it's a \\ \"test\".bmp";
    EXPECT_EQ(platform::GVariantString(tricky), "'/tmp/it\\'s a \\\\ \"test\".bmp'");
    EXPECT_EQ(platform::ParseGVariantString(platform::GVariantString(tricky)), tricky);
    // gsettings prints a string holding ' between double quotes.
    EXPECT_EQ(platform::ParseGVariantString("\"it's\""), "it's");
    EXPECT_EQ(platform::ParseGVariantString("'tab\\there'"), "tab\there");
    EXPECT_EQ(platform::ParseGVariantString("uint32 5"), "uint32 5");
    EXPECT_EQ(platform::ParseGVariantString("'unterminated\\"), "unterminated\\");
}

// What the user is told when the desktop does not take the picture.
struct RefusalCase {
    const char* name;
    std::function<CommandResult(const Command&)> answer;
    std::vector<std::string> reasonParts;
};

TEST(GSettingsRefusal, SaysWhyAndKeepsTheShownFile) {
    auto refuseLoad = [](CommandResult result) {
        return [result, held = std::make_shared<SettingsHeld>()](const Command& c) {
            if (c.argv[0] == "dconf") return result;
            return (*held)(c);
        };
    };
    CommandResult timedOut;
    timedOut.started = true;
    timedOut.timedOut = true;
    CommandResult missing;
    missing.standardError = "cannot start gsettings: No such file or directory";
    const RefusalCase cases[] = {
        {"locked key", refuseLoad(RecordingRunner::Failure(1, "error: The operation attempted to modify one or more non-writable keys\n")),
         {"GNOME refused picture-options, picture-uri, picture-uri-dark", "non-writable keys"}},
        {"hung tool", refuseLoad(timedOut), {"dconf did not answer within 5 s"}},
        {"tool not installed", [missing](const Command&) { return missing; }, {"cannot start gsettings"}},
        {"value set back",
         [held = std::make_shared<SettingsHeld>()](const Command& c) {
             if (c.argv[1] == "list-recursively")
                 return RecordingRunner::Success(
                     "org.gnome.desktop.background picture-options 'stretched'\n"
                     "org.gnome.desktop.background picture-uri 'file:///usr/share/backgrounds/old.png'\n"
                     "org.gnome.desktop.background picture-uri-dark 'file:///usr/share/backgrounds/old.png'\n");
             return (*held)(c);
         },
         {"GNOME kept picture-uri file:///usr/share/backgrounds/old.png instead of file://", "locked"}},
        {"read-back fails",
         [held = std::make_shared<SettingsHeld>()](const Command& c) {
             if (c.argv[1] == "list-recursively") return RecordingRunner::Failure(1, "dconf gone\n");
             return (*held)(c);
         },
         {"Cannot read back the GNOME wallpaper", "dconf gone"}},
    };
    for (const RefusalCase& c : cases) {
        TempDir dir;
        const std::string bitmap = dir.file("WallPaper.bmp");
        WriteFile(bitmap, "BM");
        RecordingRunner runner(c.answer);
        GSettingsDesktop gnome(runner, DesktopKind::Gnome, FixedScreen);
        try {
            gnome.setWallpaper(bitmap, Placement::Stretched, {});
            ADD_FAILURE() << c.name << ": no error";
        } catch (const platform::DesktopError& e) {
            for (const std::string& part : c.reasonParts)
                EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << c.name << ": " << e.what();
        }
        // Nothing is lost: the file handed over stays for the next try.
        EXPECT_TRUE(fs::exists(dir.file("WallPaper.bmp"))) << c.name;
    }
}

// ---- Real runs: dconf (its service on a private session bus) and the installed schemas ----

class GSettingsDconfTest : public ::testing::TestWithParam<CommandCase> {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/dbus-daemon", "/usr/bin/dconf", "/usr/bin/gsettings", "/usr/libexec/dconf-service"})
            if (!fs::exists(tool)) GTEST_SKIP() << tool << " is not installed (packages dbus, dconf-cli, libglib2.0-bin)";
        fs::create_directories(m_config);
        fs::create_directories(m_system);
        fs::create_directories(m_dir.file("run"));
        // The bus activates dconf-service with its own environment: the temporary folders.
        const std::map<std::string, std::string> env{{"XDG_CONFIG_HOME", m_config},
                                                     {"XDG_RUNTIME_DIR", m_dir.file("run")},
                                                     {"HOME", m_dir.path()}};
        m_bus = std::make_unique<Process>("/usr/bin/dbus-daemon",
                                          std::vector<std::string>{"--session", "--nofork", "--print-address=1"}, env,
                                          m_dir.file("bus.txt"));
        ASSERT_TRUE(WaitFor([&] { return ReadFile(m_dir.file("bus.txt")).find('\n') != std::string::npos; }, 10000))
            << "the session bus did not come up";
        std::string address = ReadFile(m_dir.file("bus.txt"));
        address.resize(address.find('\n'));
        m_env = {"DBUS_SESSION_BUS_ADDRESS=" + address, "XDG_CONFIG_HOME=" + m_config,
                 "XDG_RUNTIME_DIR=" + m_dir.file("run"), "GSETTINGS_BACKEND=dconf"};
        m_runner = std::make_unique<EnvironmentRunner>(platform::SystemCommandRunner(), m_env);
    }
    std::string get(const char* schema, const char* key) {
        const CommandResult r = m_runner->run(Command{{"gsettings", "get", schema, key}, std::chrono::seconds(10), {}, {}});
        EXPECT_TRUE(r.succeeded()) << platform::DescribeFailure(Command{{"gsettings"}, std::chrono::seconds(10), {}, {}}, r);
        std::string out = r.standardOutput;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return platform::ParseGVariantString(out);
    }
    void preset(const char* schema, const char* key, const std::string& value) {
        const CommandResult r = m_runner->run(Command{{"gsettings", "set", schema, key, value}, std::chrono::seconds(10), {}, {}});
        ASSERT_TRUE(r.succeeded()) << r.standardError;
    }
    std::map<std::string, std::string> processEnv() const {
        std::map<std::string, std::string> env;
        for (const std::string& entry : m_env) env[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
        return env;
    }

    TempDir m_dir;
    // A folder name that needs escaping in a URI and quoting in GVariant text.
    std::string m_system = m_dir.file("Kali's System 100%");
    std::string m_config = m_dir.file("config");
    std::vector<std::string> m_env;
    std::unique_ptr<Process> m_bus;
    std::unique_ptr<EnvironmentRunner> m_runner;
};

// Three changes (stretched, centred, stretched) as dconf tells them to its watchers (as
// GNOME Shell hears them): each change is one notification that carries picture and
// placement together, so no frame of a mixed state can be drawn. The user's colour shading
// is left alone.
TEST_P(GSettingsDconfTest, EachChangeReachesTheDesktopInOneStep) {
    const CommandCase& c = GetParam();
    GSettingsDesktop desktop(*m_runner, c.kind, FixedScreen);
    if (!desktop.schemaInstalled()) GTEST_SKIP() << c.schema << " is not installed";
    // MATE names its shadings otherwise.
    const std::string shading = std::string(c.schema) == "org.mate.background" ? "vertical-gradient" : "vertical";
    preset(c.schema, "color-shading-type", "'" + shading + "'");
    preset(c.schema, "picture-options", "'zoom'");

    Process watch("/usr/bin/dconf", {"watch", c.path}, processEnv(), m_dir.file("watch.txt"));
    // dconf watch listens once it has subscribed; a preset change shows that it does.
    ASSERT_TRUE(WaitFor(
        [&] {
            preset(c.schema, "secondary-color", "'#123456'");
            preset(c.schema, "secondary-color", "'#654321'");
            return ReadFile(m_dir.file("watch.txt")).find("secondary-color") != std::string::npos;
        },
        10000))
        << "dconf watch heard nothing";
    const std::size_t watchedBefore = ReadFile(m_dir.file("watch.txt")).size();

    const std::string bitmap = m_system + "/WallPaper.bmp";
    std::vector<std::string> shown;
    const Placement placements[] = {Placement::Stretched, Placement::Centred, Placement::Stretched};
    for (Placement placement : placements) {
        WriteFile(bitmap, "BM" + std::to_string(shown.size()));
        ASSERT_NO_THROW(desktop.setWallpaper(bitmap, placement, {}));
        // Two names in turn beside WallPaper.bmp.
        const std::string path = m_system + (shown.size() % 2 == 0 ? "/WallPaper-a.bmp" : "/WallPaper-b.bmp");
        const std::string picture = get(c.schema, c.pictureKey);
        EXPECT_EQ(picture, c.uri ? platform::FileUri(path) : path);
        EXPECT_EQ(ReadFile(path), "BM" + std::to_string(shown.size())) << "the desktop holds the new picture";
        if (*c.darkKey) {
            EXPECT_EQ(get(c.schema, c.darkKey), picture);
        }
        EXPECT_EQ(get(c.schema, "picture-options"), placement == Placement::Stretched ? "stretched" : "centered");
        shown.push_back(picture);
    }
    EXPECT_EQ(get(c.schema, "primary-color"), "#000000") << "a centred picture has black around it";
    EXPECT_EQ(get(c.schema, "color-shading-type"), shading) << "the user's shading was overwritten";

    // dconf watch writes one block per change, blocks apart by an empty line.
    std::string watched;
    ASSERT_TRUE(WaitFor(
        [&] {
            watched = ReadFile(m_dir.file("watch.txt")).substr(watchedBefore);
            return watched.find(shown.back()) != std::string::npos;
        },
        10000))
        << watched;
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at < watched.size();) {
        std::size_t end = watched.find("\n\n", at);
        if (end == std::string::npos) end = watched.size();
        // (The probe's last writes may still come in after its first was heard.)
        if (end > at && watched.substr(at, end - at).find("secondary-color") == std::string::npos)
            blocks.push_back(watched.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(blocks.size(), std::size(placements)) << watched;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE(blocks[i]);
        EXPECT_NE(blocks[i].find(std::string(c.path) + "picture-options\n"), std::string::npos);
        EXPECT_NE(blocks[i].find(std::string(c.path) + c.pictureKey + "\n"), std::string::npos);
        EXPECT_NE(blocks[i].find(shown[i]), std::string::npos);
        EXPECT_EQ(blocks[i].find("color-shading-type"), std::string::npos);
    }
    EXPECT_EQ(blocks[0].find("primary-color"), std::string::npos) << "stretched needs no border colour";
    EXPECT_NE(blocks[1].find("primary-color"), std::string::npos);
}

TEST_P(GSettingsDconfTest, UnknownSchemaIsRefusedWithTheToolsReason) {
    const CommandCase& c = GetParam();
    // A schema folder holding no schema: gsettings itself says what is wrong.
    const std::string emptySchemas = m_dir.file("schemas");
    fs::create_directories(emptySchemas);
    EnvironmentRunner noSchemas(*m_runner, {"GSETTINGS_SCHEMA_DIR=" + emptySchemas, "XDG_DATA_DIRS=" + emptySchemas});
    GSettingsDesktop desktop(noSchemas, c.kind, FixedScreen);
    WriteFile(m_system + "/WallPaper.bmp", "BM");
    try {
        desktop.setWallpaper(m_system + "/WallPaper.bmp", c.placement, {});
        ADD_FAILURE() << "set without a schema";
    } catch (const platform::DesktopError& e) {
        // dconf takes any key; gsettings, reading back, names the missing schema.
        EXPECT_NE(std::string(e.what()).find("Cannot read back"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("schema"), std::string::npos) << e.what();
    }
}

// A picture per monitor on a desktop with one wallpaper for all: one picture of the layout
// (a 40 x 30 landscape monitor left, a 30 x 40 portrait one right and lower, the layout's box
// 70 x 50), handed over spanned under a new name at each change.
TEST_P(GSettingsDconfTest, APicturePerMonitorIsComposedAndSpanned) {
    const CommandCase& c = GetParam();
    GSettingsDesktop desktop(*m_runner, c.kind, FixedScreen);
    if (!desktop.schemaInstalled()) GTEST_SKIP() << c.schema << " is not installed";
    auto solid = [](std::int32_t w, std::int32_t h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        render::Image image(w, h);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x) {
                std::uint8_t* p = image.row(y) + 3 * x;
                p[0] = b;
                p[1] = g;
                p[2] = r;
            }
        return image;
    };
    const std::string land = m_system + "/WallPaper.bmp", port = m_system + "/WallPaper-2.bmp";
    std::string before;
    for (int change = 0; change < 2; ++change) {
        SCOPED_TRACE(change);
        render::WriteBmpFile(land, solid(4, 3, 255, 0, 0));             // stretched to 40 x 30
        render::WriteBmpFile(port, solid(10, 20, 0, 0, change ? 200 : 255));  // centred in 30 x 40
        ASSERT_NO_THROW(desktop.setMonitorWallpapers(
            {{{"L", 0, 0, 40, 30, true}, land, Placement::Stretched, {}},
             {{"P", 40, 10, 30, 40, false}, port, Placement::Centred, {}}}));
        EXPECT_EQ(get(c.schema, "picture-options"), "spanned");
        EXPECT_EQ(get(c.schema, "primary-color"), "#000000");
        std::string picture = get(c.schema, c.pictureKey);
        EXPECT_NE(picture, before) << "a new name at each change";
        before = picture;
        const std::string prefix = c.uri ? platform::FileUri(m_system) : m_system;
        ASSERT_EQ(picture.compare(0, prefix.size(), prefix), 0) << picture;
        const render::Image spanned = render::LoadBmpFile(m_system + picture.substr(prefix.size()));
        ASSERT_EQ(spanned.width(), 70);
        ASSERT_EQ(spanned.height(), 50);
        auto rgb = [&](int x, int y) {
            const std::uint8_t* p = spanned.row(y) + 3 * x;
            return std::to_string(p[2]) + "," + std::to_string(p[1]) + "," + std::to_string(p[0]);
        };
        EXPECT_EQ(rgb(0, 0), "255,0,0");
        EXPECT_EQ(rgb(39, 29), "255,0,0");
        EXPECT_EQ(rgb(10, 40), "0,0,0") << "below the landscape monitor";
        EXPECT_EQ(rgb(60, 5), "0,0,0") << "above the portrait monitor";
        // The 10 x 20 picture sits at (10, 10) of the portrait monitor: (50, 20) of the box.
        EXPECT_EQ(rgb(50, 20), "0,0," + std::to_string(change ? 200 : 255));
        EXPECT_EQ(rgb(59, 39), "0,0," + std::to_string(change ? 200 : 255));
        EXPECT_EQ(rgb(49, 20), "0,0,0");
        EXPECT_EQ(rgb(60, 39), "0,0,0");
    }
}

// One case per schema: Unity and Budgie use GNOME's.
const CommandCase kSchemaCases[] = {kCommandCases[0], kCommandCases[4], kCommandCases[7]};

INSTANTIATE_TEST_SUITE_P(Schemas, GSettingsDconfTest, ::testing::ValuesIn(kSchemaCases),
                         [](const auto& param) { return CaseName(param.param.name); });

}  // namespace
}  // namespace kalidrome::test
