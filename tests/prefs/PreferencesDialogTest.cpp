// The three option pages of the preferences dialog: load, OK, Cancel, the two boxes that
// act at once, the interval checks.
#include <QFontMetrics>
#include <map>

#include "CaseName.h"
#include "PrefsFixture.h"
#include "Settings.h"

namespace {

using namespace kalidrome;
using kalidrome::test::PrefsFixture;
using kalidrome::test::ReadFile;

using Keys = std::vector<std::pair<std::string, std::string>>;

// Section Options as the file holds it, in file order.
Keys OptionsSection(const IniFile& ini) {
    Keys out;
    for (const std::string& key : ini.readSectionKeys("Options")) out.emplace_back(key, ini.readString("Options", key, "?"));
    return out;
}

// The boxes of the Basic page and the key each stands for, spelt as the main window reads it.
struct BoxKey {
    const char* box;
    const char* key;
    bool shownOpposite;
};
constexpr BoxKey kBasicBoxes[] = {
    {"chkDisableCycling1", "DisableCycling", false}, {"chkRandom1", "Random", false},
    {"chkGreyscale1", "GreyScale", false},           {"chkStretchLarger1", "StretchLarger", false},
    {"chkStretchSmaller1", "StretchSmaller", true},  {"chkShowTray1", "ShowTray", false},
    {"chkShowImages1", "ShowImages", false},         {"chkSaveImage1", "SaveImage", false},
};

class PreferencesDialogTest : public PrefsFixture {};

// A missing key shows what the main window uses when it is missing, so OK without a
// change stores exactly the program's behaviour and hands over the values it already has.
TEST_F(PreferencesDialogTest, AFreshSettingsFileShowsTheValuesTheProgramUses) {
    PreferencesDialog& d = open();
    const std::map<std::string, bool> shown = {
        {"chkDisableCycling1", false}, {"chkRandom1", true},   {"chkGreyscale1", false},  {"chkStretchLarger1", true},
        {"chkStretchSmaller1", true},  {"chkShowTray1", true}, {"chkShowImages1", true}, {"chkSaveImage1", true},
        {"chkCloseImmediately1", false}};
    for (const auto& [name, ticked] : shown) EXPECT_EQ(box(name.c_str())->isChecked(), ticked) << name;
    EXPECT_EQ(combo("cbxResolutions1")->currentText(), "1024x768");
    EXPECT_EQ(combo("cbxResolutions2")->currentText(), "1024x768");
    EXPECT_EQ(field("edtInterval1")->text(), "600");
    EXPECT_EQ(field("edtSSInterval1")->text(), "20");
    EXPECT_EQ(child<QLabel>("lblTimer1")->text(), "---");
    EXPECT_EQ(d.currentPage(), PreferencesDialog::kBasicPage);
    EXPECT_EQ(settingsText(), "<none>");  // the load writes nothing

    d.okClicked();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(OptionsSection(settings()),
              (Keys{{"DisableCycling", "0"}, {"ShowTray", "1"}, {"Random", "1"}, {"GreyScale", "0"},
                    {"StretchLarger", "1"}, {"StretchSmaller", "0"}, {"ShowImages", "1"}, {"SaveImage", "1"},
                    {"Res1", "1"}, {"Res2", "1"}, {"Interval", "600"}, {"ScreenSaverInterval", "20"}}));
    // What the main window reads for the missing keys.
    using namespace settings;
    ASSERT_EQ(applied.size(), 1u);
    const Options& v = applied[0];
    EXPECT_EQ(v.DisableCycling, kDisableCycling.atLoad);
    EXPECT_EQ(v.ShowTray, kShowTray.atLoad);
    EXPECT_EQ(v.Random, kRandom.atLoad);
    EXPECT_EQ(v.GreyScale, kGreyScale.atLoad);
    EXPECT_EQ(v.StretchLarger, kStretchLarger.atLoad);
    EXPECT_EQ(v.StretchSmaller, kStretchSmaller.atLoad);
    EXPECT_EQ(v.ShowImages, kShowImages.atLoad);
    EXPECT_EQ(v.SaveImage, kSaveImage.atLoad);
    EXPECT_EQ(v.Res1, ResolutionRow(kResDefault));
    EXPECT_EQ(v.Res2, ResolutionRow(kResDefault));
    EXPECT_EQ(std::to_string(v.Interval), kIntervalDefault);
    EXPECT_TRUE(disableCyclingCalls.empty());
    EXPECT_TRUE(errors.empty());
}

// Each box reads and writes the key named after it: a box with a misspelt name would
// read a key nobody writes.
TEST_F(PreferencesDialogTest, EachBasicBoxReadsTheKeyItIsNamedAfter) {
    for (const BoxKey& b : kBasicBoxes) {
        SCOPED_TRACE(b.box);
        for (bool stored : {false, true}) {
            writeSettings(std::string("[Options]\n") + b.key + "=" + (stored ? "1" : "0") + "\n");
            open();
            EXPECT_EQ(box(b.box)->isChecked(), b.shownOpposite ? !stored : stored);
            dialog->okClicked();
            EXPECT_EQ(settings().readString("Options", b.key, "?"), stored ? "1" : "0");
        }
    }
}

TEST_F(PreferencesDialogTest, OkWritesTheChangedValuesInOrderAndHandsThemOver) {
    writeSettings("[Options]\nDisableCycling=0\nRandom=1\nGreyscale=0\nStretchSmaller=1\nRes1=0\nRes2=3\n"
                  "Interval=600\nScreenSaverInterval=20\nCloseImmediately=0\nList=/x/Files.kdl\n[DefiniteDate]\nCount=0\n");
    PreferencesDialog& d = open();
    EXPECT_EQ(combo("cbxResolutions1")->currentIndex(), 0);
    EXPECT_EQ(combo("cbxResolutions2")->currentIndex(), 3);
    box("chkRandom1")->click();
    box("chkGreyscale1")->click();
    box("chkStretchSmaller1")->click();  // ticked: don't stretch smaller, StretchSmaller 0
    box("chkSaveImage1")->click();
    combo("cbxResolutions1")->setCurrentIndex(2);
    field("edtInterval1")->setText(QString());
    typeText(field("edtInterval1"), "45");
    field("edtSSInterval1")->setText("7");
    d.okClicked();

    EXPECT_EQ(d.result(), QDialog::Accepted);
    // GreyScale takes the main window's spelling; the earlier "Greyscale" line is that key.
    EXPECT_EQ(OptionsSection(settings()),
              (Keys{{"DisableCycling", "0"}, {"Random", "0"}, {"Greyscale", "1"}, {"StretchSmaller", "0"},
                    {"Res1", "2"}, {"Res2", "3"}, {"Interval", "45"}, {"ScreenSaverInterval", "7"},
                    {"CloseImmediately", "0"}, {"List", "/x/Files.kdl"}, {"ShowTray", "1"}, {"StretchLarger", "1"},
                    {"ShowImages", "1"}, {"SaveImage", "0"}}));
    ASSERT_EQ(applied.size(), 1u);
    const Options& v = applied[0];
    EXPECT_FALSE(v.Random);
    EXPECT_TRUE(v.GreyScale);
    EXPECT_FALSE(v.StretchSmaller);
    EXPECT_FALSE(v.SaveImage);
    EXPECT_EQ(v.Res1, settings::kResolutionTable[2]);
    EXPECT_EQ(v.Res2, settings::kResolutionTable[3]);
    EXPECT_EQ(v.Interval, 45);
}

TEST_F(PreferencesDialogTest, CancelWritesNothingAndHandsNothingOver) {
    writeSettings("[Options]\nRandom=1\nInterval=600\n; a comment\n[DefiniteDate]\nCount=1\nCmd0=6th of each month\n"
                  "Day0=6\nMonth0=-2\nHour0=-2\n");
    const std::string before = settingsText();
    PreferencesDialog& d = open();
    box("chkRandom1")->click();
    box("chkShowTray1")->click();
    combo("cbxResolutions2")->setCurrentIndex(0);
    field("edtInterval1")->setText("5");
    d.reject();
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(settingsText(), before);
    EXPECT_TRUE(applied.empty());
}

// Setting the boxes from Settings.ini runs neither box's handler: nothing is handed to
// the main window, no warning shows, nothing is written.
TEST_F(PreferencesDialogTest, LoadingRunsNoClickHandler) {
    writeSettings("[Options]\nDisableCycling=1\nCloseImmediately=1\n");
    const std::string before = settingsText();
    open();
    EXPECT_TRUE(box("chkDisableCycling1")->isChecked());
    EXPECT_TRUE(box("chkCloseImmediately1")->isChecked());
    EXPECT_TRUE(disableCyclingCalls.empty());
    EXPECT_TRUE(confirmTexts.empty());
    EXPECT_EQ(settingsText(), before);
    EXPECT_FALSE(std::filesystem::exists(system + "DontStartup.kdf"));
    // The enabling rule holds all the same.
    EXPECT_FALSE(field("edtInterval1")->isEnabled());
    EXPECT_FALSE(child<QLabel>("lblCycle1")->isEnabled());
    EXPECT_FALSE(child<QLabel>("lblTimer1")->isEnabled());
}

// The Disable box acts at once; Cancel does not undo it.
TEST_F(PreferencesDialogTest, DisableCyclingActsAtOnce) {
    PreferencesDialog& d = open();
    box("chkDisableCycling1")->click();
    EXPECT_EQ(disableCyclingCalls, std::vector<bool>{true});
    EXPECT_FALSE(field("edtInterval1")->isEnabled());
    box("chkDisableCycling1")->click();
    EXPECT_EQ(disableCyclingCalls, (std::vector<bool>{true, false}));
    EXPECT_TRUE(field("edtInterval1")->isEnabled());
    d.reject();
    EXPECT_TRUE(applied.empty());
}

struct CloseCase {
    const char* name;
    const char* stored;       // CloseImmediately before; nullptr: absent
    bool answer;              // to the warning, when it shows
    bool shownAfter;
    const char* storedAfter;  // nullptr: absent
    bool marker;
};

TEST_F(PreferencesDialogTest, TheCloseImmediatelyBox) {
    const CloseCase cases[] = {
        {"ticked and confirmed", "0", true, true, "1", true},
        {"ticked and cancelled: unticked again, nothing stored", "0", false, false, "0", false},
        {"ticked and cancelled with no key", nullptr, false, false, nullptr, false},
        {"unticked: stored at once, marker written all the same", "1", true, false, "0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(system + "DontStartup.kdf");
        writeSettings(c.stored ? std::string("[Options]\nCloseImmediately=") + c.stored + "\n" : "");
        open();
        const bool wasTicked = box("chkCloseImmediately1")->isChecked();
        if (!wasTicked) answers.push_back(c.answer);
        box("chkCloseImmediately1")->click();
        EXPECT_TRUE(answers.empty());
        EXPECT_EQ(box("chkCloseImmediately1")->isChecked(), c.shownAfter);
        EXPECT_EQ(settings().keyExists("Options", "CloseImmediately"), c.storedAfter != nullptr);
        if (c.storedAfter) {
            EXPECT_EQ(settings().readString("Options", "CloseImmediately", "?"), c.storedAfter);
        }
        ASSERT_EQ(std::filesystem::exists(system + "DontStartup.kdf"), c.marker);
        if (c.marker) {
            EXPECT_EQ(ReadFile(system + "DontStartup.kdf"), "Delete this file if you want to start Kalidrome.\r\n");
        }
        dialog->reject();
        // OK does not store it either way; the next opening shows what is stored.
        open();
        EXPECT_EQ(box("chkCloseImmediately1")->isChecked(), c.storedAfter && std::string(c.storedAfter) == "1");
    }
    ASSERT_FALSE(confirmTexts.empty());
    EXPECT_EQ(confirmTexts[0].toStdString(),
              "You cannot normally run Kalidrome when you check this option.\n"
              "Kalidrome will automatically closedown after each cycle!\n\n"
              "If you want Kalidrome to run back normally, you need to delete the file called\n"
              "\"DontStartup.kdf\" in the System subdirectory of Kalidrome.");
}

struct MonitorBoxesCase {
    const char* name;
    const char* stored;  // section Options before
    bool perMonitorShown, matchShown;
    bool clickPerMonitor, clickMatch;
    const char* perMonitorAfter;  // nullptr: the key stays absent
    const char* matchAfter;
};

// The two monitor options: shown as stored (absent: off, and matching on), the matching
// box usable only with a picture per monitor, and written by OK only when changed, so an
// OK without a change leaves a Settings.ini without them as it was.
TEST_F(PreferencesDialogTest, ThePerMonitorBoxes) {
    const MonitorBoxesCase cases[] = {
        {"absent, unchanged", "", false, true, false, false, nullptr, nullptr},
        {"absent, per monitor ticked", "", false, true, true, false, "1", nullptr},
        {"absent, both changed", "", false, true, true, true, "1", "0"},
        {"stored on, unticked", "PicturePerMonitor=1\nMatchOrientation=0\n", true, false, true, false, "0", "0"},
        {"stored on, kept", "PicturePerMonitor=1\nMatchOrientation=0\n", true, false, false, false, "1", "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeSettings(std::string("[Options]\n") + c.stored);
        applied.clear();
        PreferencesDialog& d = open();
        QCheckBox* perMonitor = box("chkPicturePerMonitor1");
        QCheckBox* match = box("chkMatchOrientation1");
        EXPECT_EQ(perMonitor->isChecked(), c.perMonitorShown);
        EXPECT_EQ(match->isChecked(), c.matchShown);
        EXPECT_EQ(match->isEnabled(), c.perMonitorShown);
        if (c.clickPerMonitor) perMonitor->click();
        EXPECT_EQ(match->isEnabled(), perMonitor->isChecked());
        if (c.clickMatch) match->click();
        d.okClicked();
        for (auto [key, after] : {std::pair{"PicturePerMonitor", c.perMonitorAfter}, {"MatchOrientation", c.matchAfter}}) {
            SCOPED_TRACE(key);
            EXPECT_EQ(settings().keyExists("Options", key), after != nullptr);
            if (after) {
                EXPECT_EQ(settings().readString("Options", key, "?"), after);
            }
        }
        ASSERT_EQ(applied.size(), 1u);
        EXPECT_EQ(applied[0].PicturePerMonitor, perMonitor->isChecked());
        EXPECT_EQ(applied[0].MatchOrientation, match->isChecked());
    }
}

struct IntervalCase {
    const char* name;
    const char* field;
    const char* text;
    int page;
};

// An interval that is empty or does not fit a whole number is refused, nothing is
// written, and the dialog stays open on the field's page.
TEST_F(PreferencesDialogTest, IntervalsThatDoNotConvertAreRefused) {
    const IntervalCase cases[] = {
        {"empty interval", "edtInterval1", "", PreferencesDialog::kBasicPage},
        {"interval over 32 bits", "edtInterval1", "2147483648", PreferencesDialog::kBasicPage},
        {"interval of many digits", "edtInterval1", "99999999999999999999", PreferencesDialog::kBasicPage},
        {"empty screen-saver interval", "edtSSInterval1", "", PreferencesDialog::kScreensaverPage},
        {"screen-saver interval over 32 bits", "edtSSInterval1", "4294967296", PreferencesDialog::kScreensaverPage},
        {"stored text that is no number", "edtInterval1", "ten", PreferencesDialog::kBasicPage},
    };
    writeSettings("[Options]\nInterval=600\n");
    const std::string before = settingsText();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        PreferencesDialog& d = open();
        d.selectPage(PreferencesDialog::kAdvancedPage);
        field(c.field)->setText(QString::fromLatin1(c.text));
        d.okClicked();
        EXPECT_EQ(errors, std::vector<std::string>{"'" + std::string(c.text) + "' is not a valid integer value"});
        EXPECT_EQ(d.result(), 0);  // still open
        EXPECT_EQ(d.currentPage(), c.page);
        EXPECT_EQ(settingsText(), before);
        EXPECT_TRUE(applied.empty());
    }
}

TEST_F(PreferencesDialogTest, IntervalsAtTheLimitsAreTaken) {
    for (const char* text : {"0", "2147483647", "007"}) {
        SCOPED_TRACE(text);
        applied.clear();
        PreferencesDialog& d = open();
        field("edtInterval1")->setText(text);
        field("edtSSInterval1")->setText(text);
        d.okClicked();
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(settings().readString("Options", "Interval", "?"), text);
        EXPECT_EQ(settings().readString("Options", "ScreenSaverInterval", "?"), text);
        ASSERT_EQ(applied.size(), 1u);
        EXPECT_EQ(applied[0].Interval, std::stoll(text));
    }
}

TEST_F(PreferencesDialogTest, IntervalFieldsTakeDigitsOnly) {
    open();
    for (const char* name : {"edtInterval1", "edtSSInterval1"}) {
        QLineEdit* f = field(name);
        f->setText(QString());
        typeText(f, "1a2 3");
        EXPECT_EQ(f->text(), "123") << name;
        type(f, Qt::Key_Backspace, QString());
        EXPECT_EQ(f->text(), "12") << name;
    }
}

// A stored row outside the table shows, and OK stores, the row the main window uses
// for it.
TEST_F(PreferencesDialogTest, StoredSizeRowsOutsideTheTableShowTheRowInUse) {
    struct Case {
        const char* stored;
        int shown;
    };
    const Case cases[] = {{"0", 0}, {"3", 3}, {"-1", 1}, {"4", 1}, {"99", 1}, {"x", 1}, {"", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        writeSettings(std::string("[Options]\nRes1=") + c.stored + "\nRes2=" + c.stored + "\n");
        open();
        EXPECT_EQ(combo("cbxResolutions1")->currentIndex(), c.shown);
        EXPECT_EQ(combo("cbxResolutions2")->currentIndex(), c.shown);
        dialog->okClicked();
        EXPECT_EQ(settings().readInteger("Options", "Res1", -9), c.shown);
        EXPECT_EQ(settings().readInteger("Options", "Res2", -9), c.shown);
    }
    EXPECT_EQ(combo("cbxResolutions1")->count(), 4);
    QStringList items;
    for (int i = 0; i < 4; ++i) items << combo("cbxResolutions1")->itemText(i);
    EXPECT_EQ(items, (QStringList{"800x600", "1024x768", "1052x864", "1280x1024"}));
}

TEST_F(PreferencesDialogTest, TheSystemFolderLabelIsShortenedToFit) {
    open();
    QLabel* label = child<QLabel>("lblSystemPath1");
    EXPECT_EQ(label->text().toStdString(), system);  // a short path as it is
    const QFontMetrics metrics(label->font());
    const int room = label->width() - 5;

    system = dir.file(std::string(3, 'x') + "/" + std::string(80, 'a') + "/" + std::string(60, 'b') + "/System/");
    std::filesystem::create_directories(system);
    open();
    label = child<QLabel>("lblSystemPath1");
    const QString shown = label->text();
    EXPECT_TRUE(shown.startsWith("/.../")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("/System/")) << shown.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(shown), room);
    // Only as much as needed is cut: one folder more would not have fitted.
    EXPECT_TRUE(shown.contains(QString(60, 'b')) || !shown.contains(QString(80, 'a')));
}

TEST_F(PreferencesDialogTest, CountdownLabel) {
    PreferencesDialog& d = open();
    d.showCountdown(599);
    EXPECT_EQ(child<QLabel>("lblTimer1")->text(), "599");
    d.showCountdown(-1);
    EXPECT_EQ(child<QLabel>("lblTimer1")->text(), "-1");
}

}  // namespace
