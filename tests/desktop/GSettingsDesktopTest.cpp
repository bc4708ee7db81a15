#include "CaseName.h"
#include "GSettingsDesktop.h"
#include "RecordingRunner.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

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

// Answers gsettings the way a desktop that takes every value does: what was set is what
// list-recursively reports.
class SettingsHeld {
public:
    CommandResult operator()(const Command& c) {
        if (c.argv.size() == 5 && c.argv[1] == "set") {
            m_values[c.argv[2]][c.argv[3]] = c.argv[4];
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
    // {schema, picture key, picture value as a URI?, dark key or ""}, options value
    const char* schema;
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

// The whole sequence of one change: border, placement, picture (and its dark twin), then one
// read-back of the schema; a second change leaves the border alone.
TEST_P(GSettingsCommandsTest, SetsThePlacementAndThePictureThenReadsBack) {
    const CommandCase& c = GetParam();
    const std::string bitmap = m_dir.file("WallPaper.bmp");
    WriteFile(bitmap, "BM");
    SettingsHeld desktop;
    RecordingRunner runner(std::ref(desktop));
    GSettingsDesktop gsettings(runner, c.kind, FixedScreen);

    gsettings.setWallpaper(bitmap, c.placement, {});
    const std::string handed = m_dir.file("WallPaper-a.bmp");
    const std::string picture = c.uri ? "'file://" + handed + "'" : "'" + handed + "'";
    std::vector<Argv> expected = {
        {"gsettings", "set", c.schema, "color-shading-type", "'solid'"},
        {"gsettings", "set", c.schema, "primary-color", "'#000000'"},
        {"gsettings", "set", c.schema, "picture-options", std::string("'") + c.options + "'"},
        {"gsettings", "set", c.schema, c.pictureKey, picture},
    };
    if (*c.darkKey) expected.push_back({"gsettings", "set", c.schema, c.darkKey, picture});
    expected.push_back({"gsettings", "list-recursively", c.schema});
    EXPECT_EQ(runner.argvs(), expected);
    for (const Command& command : runner.commands()) {
        EXPECT_GT(command.timeout.count(), 0);
        EXPECT_LE(command.timeout.count(), 10000);
    }

    // The next change with the same placement: only the picture, under the other name; the
    // border and the placement the desktop holds already are not sent again.
    runner.clear();
    gsettings.setWallpaper(bitmap, c.placement, {});
    const std::string next = m_dir.file("WallPaper-b.bmp");
    const std::string nextPicture = c.uri ? "'file://" + next + "'" : "'" + next + "'";
    std::vector<Argv> again = {{"gsettings", "set", c.schema, c.pictureKey, nextPicture}};
    if (*c.darkKey) again.push_back({"gsettings", "set", c.schema, c.darkKey, nextPicture});
    again.push_back({"gsettings", "list-recursively", c.schema});
    EXPECT_EQ(runner.argvs(), again);
    EXPECT_FALSE(fs::exists(handed)) << "the name shown before is removed once the desktop holds the new one";

    // The other placement is sent again.
    runner.clear();
    const Placement other = c.placement == Placement::Stretched ? Placement::Centred : Placement::Stretched;
    gsettings.setWallpaper(bitmap, other, {});
    ASSERT_FALSE(runner.argvs().empty());
    EXPECT_EQ(runner.argvs()[0][3], "picture-options");
    EXPECT_NE(runner.argvs()[0][4], std::string("'") + c.options + "'");
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
    desktop(Command{{"gsettings", "set", "org.gnome.desktop.background", "picture-options", "'zoom'"}, {}, {}});
    runner.clear();
    EXPECT_NO_THROW(gnome.setWallpaper(bitmap, Placement::Centred, {}));
    const std::vector<Argv> argvs = runner.argvs();
    ASSERT_EQ(argvs.size(), 5u);
    EXPECT_EQ(argvs[3], (Argv{"gsettings", "set", "org.gnome.desktop.background", "picture-options", "'centered'"}));
    EXPECT_EQ(argvs[4][1], "list-recursively");
}

const CommandCase kCommandCases[] = {
    {"GNOME stretched", DesktopKind::Gnome, Placement::Stretched, "org.gnome.desktop.background", "picture-uri", true,
     "picture-uri-dark", "stretched"},
    {"GNOME centred", DesktopKind::Gnome, Placement::Centred, "org.gnome.desktop.background", "picture-uri", true,
     "picture-uri-dark", "centered"},
    {"Budgie centred", DesktopKind::Budgie, Placement::Centred, "org.gnome.desktop.background", "picture-uri", true,
     "picture-uri-dark", "centered"},
    {"Unity stretched", DesktopKind::Unity, Placement::Stretched, "org.gnome.desktop.background", "picture-uri", true,
     "", "stretched"},
    {"Cinnamon stretched", DesktopKind::Cinnamon, Placement::Stretched, "org.cinnamon.desktop.background",
     "picture-uri", true, "", "stretched"},
    {"Cinnamon centred", DesktopKind::Cinnamon, Placement::Centred, "org.cinnamon.desktop.background", "picture-uri",
     true, "", "centered"},
    {"MATE stretched", DesktopKind::Mate, Placement::Stretched, "org.mate.background", "picture-filename", false, "",
     "stretched"},
    {"MATE centred", DesktopKind::Mate, Placement::Centred, "org.mate.background", "picture-filename", false, "",
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
    auto refuseKey = [](const std::string& key, CommandResult result) {
        return [key, result, held = std::make_shared<SettingsHeld>()](const Command& c) {
            if (c.argv.size() > 3 && c.argv[3] == key) return result;
            return (*held)(c);
        };
    };
    CommandResult timedOut;
    timedOut.started = true;
    timedOut.timedOut = true;
    CommandResult missing;
    missing.standardError = "cannot start gsettings: No such file or directory";
    const RefusalCase cases[] = {
        {"locked key", refuseKey("picture-uri", RecordingRunner::Failure(1, "The key is not writable\n")),
         {"GNOME refused picture-uri", "The key is not writable"}},
        {"no such schema", refuseKey("picture-options", RecordingRunner::Failure(1, "No such schema \u201corg.gnome\u201d\n")),
         {"GNOME refused picture-options", "No such schema"}},
        {"hung tool", refuseKey("primary-color", timedOut), {"gsettings did not answer within 5 s"}},
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

// ---- Real runs: gsettings against the installed schemas through the keyfile backend ----

class GSettingsKeyfileTest : public ::testing::TestWithParam<CommandCase> {
protected:
    void SetUp() override {
        fs::create_directories(m_config);
        fs::create_directories(m_system);
    }
    std::string get(const char* schema, const char* key) {
        const CommandResult r = m_runner.run(Command{{"gsettings", "get", schema, key}, std::chrono::seconds(10), {}});
        EXPECT_TRUE(r.succeeded()) << platform::DescribeFailure(Command{{"gsettings"}, std::chrono::seconds(10), {}}, r);
        std::string out = r.standardOutput;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return platform::ParseGVariantString(out);
    }

    TempDir m_dir;
    // A folder name that needs escaping in a URI and quoting in GVariant text.
    std::string m_system = m_dir.file("Kali's System 100%");
    std::string m_config = m_dir.file("config");
    EnvironmentRunner m_runner{platform::SystemCommandRunner(),
                               {"GSETTINGS_BACKEND=keyfile", "XDG_CONFIG_HOME=" + m_config}};
};

TEST_P(GSettingsKeyfileTest, DesktopHoldsEachChange) {
    const CommandCase& c = GetParam();
    GSettingsDesktop desktop(m_runner, c.kind, FixedScreen);
    if (!desktop.schemaInstalled()) GTEST_SKIP() << c.schema << " is not installed (or gsettings is missing)";

    const std::string bitmap = m_system + "/WallPaper.bmp";
    std::vector<std::string> shown;
    for (Placement placement : {Placement::Stretched, Placement::Centred, Placement::Stretched}) {
        WriteFile(bitmap, "BM" + std::to_string(shown.size()));
        ASSERT_NO_THROW(desktop.setWallpaper(bitmap, placement, {}));
        // Two names in turn beside WallPaper.bmp.
        const std::string path = m_system + (shown.size() % 2 == 0 ? "/WallPaper-a.bmp" : "/WallPaper-b.bmp");
        const std::string picture = get(c.schema, c.pictureKey);
        EXPECT_EQ(picture, c.uri ? platform::FileUri(path) : path);
        ASSERT_TRUE(fs::exists(path)) << picture;
        EXPECT_EQ(ReadFile(path), "BM" + std::to_string(shown.size())) << "the desktop holds the new picture";
        if (*c.darkKey) {
            EXPECT_EQ(get(c.schema, c.darkKey), picture);
        }
        EXPECT_EQ(get(c.schema, "picture-options"), placement == Placement::Stretched ? "stretched" : "centered");
        EXPECT_EQ(get(c.schema, "primary-color"), "#000000");
        if (!shown.empty()) {
            EXPECT_NE(picture, shown.back());
        }
        shown.push_back(picture);
    }
    // The keyfile really was written where the backend was pointed.
    EXPECT_TRUE(fs::exists(m_config + "/glib-2.0/settings/keyfile"));
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(m_system)) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"WallPaper-a.bmp", "WallPaper.bmp"}));
}

TEST_P(GSettingsKeyfileTest, UnknownSchemaIsRefusedWithTheToolsReason) {
    const CommandCase& c = GetParam();
    // A schema folder holding no schema: gsettings itself says what is wrong.
    const std::string emptySchemas = m_dir.file("schemas");
    fs::create_directories(emptySchemas);
    EnvironmentRunner noSchemas(m_runner, {"GSETTINGS_SCHEMA_DIR=" + emptySchemas, "XDG_DATA_DIRS=" + emptySchemas});
    GSettingsDesktop desktop(noSchemas, c.kind, FixedScreen);
    WriteFile(m_system + "/WallPaper.bmp", "BM");
    try {
        desktop.setWallpaper(m_system + "/WallPaper.bmp", c.placement, {});
        ADD_FAILURE() << "set without a schema";
    } catch (const platform::DesktopError& e) {
        // gsettings names the missing schema or says that there are none.
        EXPECT_NE(std::string(e.what()).find("refused"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("schema"), std::string::npos) << e.what();
    }
}

// One case per schema: Unity and Budgie use GNOME's.
const CommandCase kSchemaCases[] = {kCommandCases[0], kCommandCases[4], kCommandCases[7]};

INSTANTIATE_TEST_SUITE_P(Schemas, GSettingsKeyfileTest, ::testing::ValuesIn(kSchemaCases),
                         [](const auto& param) { return CaseName(param.param.name); });

}  // namespace
}  // namespace kalidrome::test
