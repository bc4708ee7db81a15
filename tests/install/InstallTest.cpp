// What `cmake --install` lays out, the installed program with its System folder in the
// user's data folder, and the Debian package cpack makes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "Process.h"
#include "TempDir.h"

namespace {

using kalidrome::test::Process;
using kalidrome::test::ReadFile;
using kalidrome::test::TempDir;
using kalidrome::test::WaitFor;
namespace fs = std::filesystem;

constexpr const char* kAppId = "io.github.kalidrome.Kalidrome";
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool Installed(const std::string& program) { return ::access(program.c_str(), X_OK) == 0; }

// Runs a tool to its end; returns its exit status and leaves its output in output.
int RunTool(const std::string& program, const std::vector<std::string>& args, const std::string& outputFile,
        std::string* output = nullptr, const std::map<std::string, std::string>& env = {}) {
    Process p(program, args, env, outputFile);
    if (!p.started() || !p.waitFinished(120000)) return -1;
    if (output) *output = ReadFile(outputFile);
    return p.exitCode();
}

// Width and height from a PNG file's IHDR chunk; {0, 0} when it is no PNG.
std::pair<std::uint32_t, std::uint32_t> PngSize(const std::string& path) {
    const std::string bytes = ReadFile(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

// The value of key in a desktop entry's main group.
std::string DesktopValue(const std::string& path, const std::string& key) {
    std::istringstream in(ReadFile(path));
    std::string line;
    bool main = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') main = line == "[Desktop Entry]";
        else if (main && line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string out;
        ASSERT_EQ(RunTool(KALIDROME_CMAKE, {"--install", KALIDROME_BUILD_DIR, "--prefix", prefix()}, dir.file("install.log"),
                      &out),
                  0)
            << out;
    }
    std::string prefix() const { return dir.file("usr"); }
    std::string installed(const std::string& relative) const { return prefix() + "/" + relative; }

    TempDir dir;
};

TEST_F(InstallTest, LaysOutTheUsualFolders) {
    EXPECT_TRUE(Installed(installed("bin/kalidrome")));
    EXPECT_TRUE(Installed(installed("libexec/kalidrome/KDScreensaver"))) << "the companion screen saver";
    EXPECT_TRUE(fs::is_regular_file(installed(KALIDROME_INSTALL_LIBDIR "/kalidrome/kalidrome-ui.so")))
        << "the window part of the program";
    for (const char* data : {"English.lng", "Deutsch.lng", "Images/Bottom.bmp", "Images/Right.bmp"})
        EXPECT_TRUE(fs::is_regular_file(installed("share/kalidrome/") + data)) << data;
    EXPECT_TRUE(fs::is_regular_file(installed("share/applications/") + kAppId + ".desktop"));
    EXPECT_TRUE(fs::is_regular_file(installed("share/metainfo/") + kAppId + ".metainfo.xml"));
    EXPECT_TRUE(fs::is_regular_file(installed("share/man/man1/kalidrome.1.gz")));
    EXPECT_NE(ReadFile(installed("share/icons/hicolor/scalable/apps/kalidrome.svg")).find("<svg"), std::string::npos);
    for (int size : kIconSizes) {
        const std::string png = installed("share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                                          "/apps/kalidrome.png");
        EXPECT_EQ(PngSize(png), std::make_pair(std::uint32_t(size), std::uint32_t(size))) << png;
    }
    EXPECT_FALSE(fs::exists(installed("bin/System"))) << "the build's own System folder stays in the build";

    // The launcher starts what was installed, with the icon that was installed.
    const std::string launcher = installed("share/applications/") + kAppId + ".desktop";
    EXPECT_EQ(DesktopValue(launcher, "Exec"), "kalidrome");
    EXPECT_EQ(DesktopValue(launcher, "Icon"), "kalidrome");
}

TEST_F(InstallTest, LauncherPassesDesktopFileValidate) {
    if (!Installed("/usr/bin/desktop-file-validate"))
        GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils; scripts/install-deps.sh --test)";
    std::string out;
    EXPECT_EQ(RunTool("/usr/bin/desktop-file-validate", {installed("share/applications/") + kAppId + ".desktop"},
                  dir.file("validate.log"), &out),
              0)
        << out;
    EXPECT_EQ(out, "") << "no hints or warnings either";
}

TEST_F(InstallTest, MetainfoPassesAppstreamcliValidate) {
    if (!Installed("/usr/bin/appstreamcli"))
        GTEST_SKIP() << "appstreamcli is not installed (package appstream; scripts/install-deps.sh --test)";
    std::string out;
    EXPECT_EQ(RunTool("/usr/bin/appstreamcli",
                  {"validate", "--no-net", "--explain", installed("share/metainfo/") + kAppId + ".metainfo.xml"},
                  dir.file("validate.log"), &out),
              0)
        << out;
    // Warnings count as failures too; only the pedantic notes may remain.
    EXPECT_EQ(out.find("W: "), std::string::npos) << out;
    EXPECT_EQ(out.find("I: "), std::string::npos) << out;
}

// An installed copy keeps its System folder in the user's data folder, filled from the
// installed data, and everything that names the folder names that one.
TEST_F(InstallTest, InstalledProgramKeepsItsSystemFolderWithTheUser) {
    const std::string system = dir.file("data/kalidrome/System/");
    const std::map<std::string, std::string> env{
        {"QT_QPA_PLATFORM", "offscreen"},
        {"XDG_DATA_HOME", dir.file("data")},
        {"XDG_CONFIG_HOME", dir.file("config")},
        {"XDG_RUNTIME_DIR", dir.path()},
        {"KALIDROME_TRACE", dir.file("trace")},
        {"KALIDROME_NONINTERACTIVE", "1"},
    };
    auto traced = [&](const std::string& line) { return ReadFile(dir.file("trace")).find(line + "\n") != std::string::npos; };

    std::string help;
    ASSERT_EQ(RunTool(installed("bin/kalidrome"), {"--help"}, dir.file("help.log"), &help, env), 0) << help;
    EXPECT_NE(help.find("System folder: " + system), std::string::npos) << help;

    Process program(installed("bin/kalidrome"), {}, env, dir.file("kalidrome.log"));
    ASSERT_TRUE(WaitFor([&] { return traced("running"); }, 15000)) << ReadFile(dir.file("kalidrome.log"));
    for (const char* seeded : {"English.lng", "Deutsch.lng", "Images/Bottom.bmp", "Images/Right.bmp"})
        EXPECT_EQ(ReadFile(system + seeded), ReadFile(installed("share/kalidrome/") + seeded)) << seeded;
    EXPECT_EQ(ReadFile(system + "KDScreensaver"), ReadFile(installed("libexec/kalidrome/KDScreensaver")));
    EXPECT_EQ(::access((system + "KDScreensaver").c_str(), X_OK), 0);
    EXPECT_NE(ReadFile(system + "Startup.ini").find("Handle=" + std::to_string(program.pid())), std::string::npos);
    EXPECT_TRUE(fs::exists(system + "Settings.ini"));
    const std::string registry = ReadFile(dir.file("config/kalidrome/registry.ini"));
    EXPECT_NE(registry.find("SystemPath=" + system + "\n"), std::string::npos) << registry;
    EXPECT_NE(registry.find("Kalidrome=" + installed("bin/kalidrome") + "\n"), std::string::npos) << registry;
    EXPECT_FALSE(fs::exists(installed("bin/System")));

    // The installed launcher's actions reach it.
    std::string out;
    EXPECT_EQ(RunTool(installed("bin/kalidrome"), {"--next"}, dir.file("next.log"), &out, env), 0) << out;
    EXPECT_TRUE(WaitFor([&] { return traced("request 3026"); }, 5000));

    program.signal(SIGTERM);
    ASSERT_TRUE(program.waitFinished(5000));
    EXPECT_EQ(program.exitCode(), 0);
}

// The Debian package: lintian finds no error in it and it carries the program.
TEST_F(InstallTest, DebianPackageIsLintianClean) {
    if (KALIDROME_SANITIZED) GTEST_SKIP() << "packages are made from the plain build, not the sanitizer one";
    for (const char* tool : {"/usr/bin/lintian", "/usr/bin/dpkg-deb", "/usr/bin/dpkg-shlibdeps"})
        if (!Installed(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh --test)";
    std::string out;
    ASSERT_EQ(RunTool(KALIDROME_CPACK, {"-G", "DEB", "-B", dir.file("package"), "--config",
                                    std::string(KALIDROME_BUILD_DIR) + "/CPackConfig.cmake"},
                  dir.file("cpack.log"), &out),
              0)
        << out;
    std::string deb;
    for (const auto& e : fs::directory_iterator(dir.file("package")))
        if (e.path().extension() == ".deb") deb = e.path().string();
    ASSERT_FALSE(deb.empty()) << out;

    std::string contents;
    ASSERT_EQ(RunTool("/usr/bin/dpkg-deb", {"--contents", deb}, dir.file("contents.log"), &contents), 0) << contents;
    const std::vector<std::string> carried = {
        "./usr/bin/kalidrome",
        "./usr/libexec/kalidrome/KDScreensaver",
        "./usr/" KALIDROME_INSTALL_LIBDIR "/kalidrome/kalidrome-ui.so",
        "./usr/share/kalidrome/English.lng",
        "./usr/share/applications/" + std::string(kAppId) + ".desktop",
        "./usr/share/icons/hicolor/48x48/apps/kalidrome.png",
        "./usr/share/doc/kalidrome/copyright",
    };
    for (const std::string& path : carried)
        EXPECT_NE(contents.find(path + "\n"), std::string::npos) << path << "\n" << contents;
    std::string depends;
    ASSERT_EQ(RunTool("/usr/bin/dpkg-deb", {"--field", deb, "Depends"}, dir.file("depends.log"), &depends), 0);
    EXPECT_NE(depends.find("libqt6widgets6"), std::string::npos) << depends;
    // The companion screen saver runs in XScreenSaver, which is offered but not forced.
    std::string suggests;
    ASSERT_EQ(RunTool("/usr/bin/dpkg-deb", {"--field", deb, "Suggests"}, dir.file("suggests.log"), &suggests), 0);
    EXPECT_NE(suggests.find("xscreensaver"), std::string::npos) << suggests;
    EXPECT_EQ(depends.find("xscreensaver"), std::string::npos) << depends;
    EXPECT_NE(depends.find("qt6-wayland"), std::string::npos) << depends;

    std::string lintian;
    const int status = RunTool("/usr/bin/lintian", {"--no-tag-display-limit", deb}, dir.file("lintian.log"), &lintian);
    EXPECT_EQ(status, 0) << lintian;
    EXPECT_EQ(lintian.find("E: "), std::string::npos) << lintian;
}

}  // namespace
