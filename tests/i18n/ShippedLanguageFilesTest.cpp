#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "IniFile.h"
#include "LanguageFile.h"

using kalidrome::EqualsNoCase;
using kalidrome::IniFile;
using kalidrome::LanguageFile;

namespace {

// Every text the program looks up in a language file, by section: the run-time texts
// that go through Translate and the captions that applying a language walks. The files also
// keep "To enable Kalidrome's Screensaver, go to Control Panel|Display", which language
// files made for the program's original list of texts hold; on Linux the message names
// xscreensaver-settings instead.
struct SectionKeys {
    const char* section;
    std::vector<std::string> keys;
};

const std::vector<SectionKeys>& AllKeys() {
    static const std::vector<SectionKeys> keys = {
        {"MainForm",
         {"&File", "&Save FileList...", "L&oad FileList...", "C&lose", "&Edit", "&Add", "Add &Folder",
          "&Delete selected", "C&lear non existing", "&Tools", "&Preview", "Set as &Wallpaper",
          "&Edit Image", "&Create Screensaver", "&Options", "&Disable auto cycling", "Show &Tray",
          "&Preferences", "&Help", "Visit &Website...", "&Contents...", "&About", "Filename", "Path",
          "S&how", "Cl&ear All", "&Set as wallpaper", "Delete current &wallpaper", "&Cycle!",
          "&Previous", "Start with &Windows", "Set &Language", "There are", "files listed:", "&Hide",
          "Kalidrome has to be restarted in order to change the Language.",
          "Could not read Icon. Please reinstall Kalidrome.", "Kalidrome - Cycling...", "sec",
          "Saving FileList...", "The wallpaper could not be changed:", "Kalidrome is running",
          "Kalidrome lives here, in the tray. Double-click this icon to show or hide its window, right-click it for the menu.",
          "This desktop shows no tray icons, so the Kalidrome window stays open: closing it minimises it. Use Close in its "
          "File menu to end Kalidrome.",
          "To enable Kalidrome's Screensaver, go to Control Panel|Display",
          "and choose KDScreensaver from the list.",
          "Could not create the Screensaver. Please reinstall Kalidrome.",
          "Kalidrome keeps running without a tray icon. To show its window again, start Kalidrome once "
          "more or run \"kalidrome --show\".",
          "To enable Kalidrome's Screensaver, open XScreenSaver's settings (xscreensaver-settings)",
          "XScreenSaver is not installed. Please install the package xscreensaver, then create the Screensaver "
          "again.",
          "Could not create the Screensaver:",
          // Why a wallpaper change failed, and what a failed list save did.
          "The picture is missing.", "The picture is too large.", "There is no space left on the disk.",
          "The file or its folder is read-only.", "The list could not be saved:",
          "The list is kept in Kalidrome and saved again at the next save.",
          "The list file was changed by another program since Kalidrome read it, so it was left as it is:",
          "The list was saved here instead:", "It is left as it is, and the list will be saved here instead:"}},
        {"PrefForm",
         {"Basic Options", "Screensaver", "Advanced Options", "Time Based Cycling", "&Greyscale",
          "&Disable auto cycling", "Show &tray", "&Random Image", "&Stretch image when larger than",
          "Don't stretch when smaller than", "Show &Images", "Save &Images",
          "&Immediately close Kalidrome after a cycle.", "A &picture of its own for each monitor",
          "Portrait pictures for portrait &monitors", "Cycle Interval (sec):", "sec till next cycle",
          "Click here to create a new screensaver which cycles through your pictures.",
          "If you want, you can set the interval to cycle each image.", "Interval:", "sec.",
          "To add images to your ScreenSaver, just add them to the list in Kalidrome, as you normally "
          "would.",
          "All settings for Kalidrome are valid for your screensaver.",
          "If this option is checked, you cannot open the Main Window of Kalidrome anymore. To do so, "
          "delete the file named DontStartup.kdf in the System subfolder of Kalidrome.",
          "System Folder:", "If you want you can let Kalidrome cycle on definite dates.",
          "Cycle Time: every", "For example: cycle every 6th of each month...", "&Create Screensaver",
          "of each month", "--", "January", "February", "March", "April", "May", "June", "July",
          "August", "September", "October", "November", "December", "Hour", "Month", "&Delete",
          "C&lear", "&Add", "&OK", "&Cancel", "Click here to delete the Kalidrome screensaver.",
          "&Delete Screensaver", "You cannot normally run Kalidrome when you check this option.",
          "Kalidrome will automatically closedown after each cycle!",
          "If you want Kalidrome to run back normally, you need to delete the file called",
          "\"DontStartup.kdf\" in the System subdirectory of Kalidrome.",
          "Delete this file if you want to start Kalidrome.",
          "Could not create the Screensaver. Please reinstall Kalidrome.",
          "To enable Kalidrome's Screensaver, go to Control Panel|Display",
          "and choose KDScreensaver from the list.",
          "To enable Kalidrome's Screensaver, open XScreenSaver's settings (xscreensaver-settings)",
          "XScreenSaver is not installed. Please install the package xscreensaver, then create the Screensaver "
          "again.",
          "Could not create the Screensaver:", "Could not delete the Screensaver:", "of", "First minute of each",
          "First day of the"}},
        {"PreviewForm", {"Preview", "&Delete", "C&lose", "&Set as wallpaper"}},
        {"BrowseForm", {"&Add", "C&lose", "Path:", "Browse for a folder", "&Cancel", "Pictures found:"}},
    };
    return keys;
}

std::string ShippedFile(const char* name) {
    const char* source = std::getenv("KALIDROME_SOURCE_DIR");
    return std::string(source ? source : ".") + "/data/System/" + name;
}

bool IsValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

class ShippedLanguage : public ::testing::TestWithParam<const char*> {};

constexpr const char* kStartWithWindows = "Start with &Windows";

// The autostart entry is made at login, not by Windows: the key stays (so other language
// files still translate it), the shipped texts say what it does.
TEST(ShippedLanguageCaptions, StartWithWindowsSaysStartAtLogin) {
    const struct {
        const char* file;
        const char* caption;
    } cases[] = {{"English.lng", "&Start at login"}, {"Deutsch.lng", "Bei der An&meldung starten"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(LanguageFile(ShippedFile(c.file)).lookup(kStartWithWindows, "MainForm"), c.caption);
    }
}

// Each file holds exactly the program's keys, each with a translation in valid UTF-8.
TEST_P(ShippedLanguage, HoldsEveryKeyAndNothingElse) {
    const std::string path = ShippedFile(GetParam());
    IniFile ini(path);
    LanguageFile file(path);
    for (const auto& section : AllKeys()) {
        SCOPED_TRACE(section.section);
        const std::string fullSection = std::string("WordList#") + section.section;
        for (const auto& key : section.keys) {
            SCOPED_TRACE(key);
            std::string value = file.lookup(key, section.section);
            EXPECT_FALSE(value.empty());
            EXPECT_TRUE(IsValidUtf8(value));
            // English maps every text to itself, except the captions that fit Linux better.
            if (std::string(GetParam()) == "English.lng" && key != kStartWithWindows) {
                EXPECT_EQ(value, key);
            }
        }
        for (const auto& inFile : ini.readSectionKeys(fullSection)) {
            bool known = false;
            for (const auto& key : section.keys) known = known || EqualsNoCase(key, inFile);
            EXPECT_TRUE(known) << "unknown key " << inFile;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(DataSystem, ShippedLanguage, ::testing::Values("English.lng", "Deutsch.lng"),
                         [](const auto& p) {
                             std::string n = p.param;
                             return n.substr(0, n.find('.'));
                         });

}  // namespace
