#include "HackArguments.h"

#include <gtest/gtest.h>

namespace kalidrome::test {
namespace {

using screensaver::HackArguments;
using Target = HackArguments::Target;

TEST(HackArgumentsTest, TargetFromCommandLineAndEnvironment) {
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* environment;  // XSCREENSAVER_WINDOW
        Target target;
        unsigned long windowId;
    } cases[] = {
        {"nothing: own window", {}, nullptr, Target::OwnWindow, 0},
        {"nothing, inside XScreenSaver: its window", {}, "0x400007", Target::Window, 0x400007},
        {"-root alone: the root window", {"-root"}, nullptr, Target::Root, 0},
        {"--root inside XScreenSaver: its window", {"--root"}, "4194311", Target::Window, 4194311},
        {"-window beats the environment", {"-window"}, "0x400007", Target::OwnWindow, 0},
        {"-window-id hexadecimal", {"-window-id", "0x1a00003"}, nullptr, Target::Window, 0x1a00003},
        {"--window-id decimal beats the environment", {"--window-id", "77"}, "0x400007", Target::Window, 77},
        {"the last choice wins", {"-window-id", "0x10", "-root"}, nullptr, Target::Root, 0},
        {"an unusable environment is ignored", {"-root"}, "junk", Target::Root, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HackArguments a = screensaver::ParseHackArguments(c.args, c.environment);
        EXPECT_EQ(a.error, "");
        EXPECT_EQ(a.target, c.target);
        if (c.target == Target::Window) {
            EXPECT_EQ(a.windowId, c.windowId);
        }
    }
}

TEST(HackArgumentsTest, DisplayIsTaken) {
    const HackArguments a = screensaver::ParseHackArguments({"-display", ":5", "-root"}, nullptr);
    EXPECT_EQ(a.error, "");
    EXPECT_EQ(a.display, ":5");
}

TEST(HackArgumentsTest, UnusableCommandLinesAreRefusedWithAReason) {
    const std::vector<std::vector<std::string>> cases = {
        {"-window-id"}, {"-window-id", "0"},  {"-window-id", "0xZZ"}, {"-window-id", "-5"},
        {"-display"},   {"-fullscreen"},      {"-window-id", "0x100000000"}};
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        SCOPED_TRACE(joined);
        EXPECT_NE(screensaver::ParseHackArguments(args, nullptr).error, "");
    }
}

}  // namespace
}  // namespace kalidrome::test
