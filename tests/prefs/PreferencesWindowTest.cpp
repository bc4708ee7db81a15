// The preferences dialog opened by the main window: the countdown, OK's hand-over, the
// screen-saver page for "/c", and a calendar rule made in the dialog firing in the running
// program. Qt's offscreen platform, an in-memory desktop and registry.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "Autostart.h"
#include "EnvOverride.h"
#include "FakeDesktop.h"
#include "FakeRegistry.h"
#include "FileDialogs.h"
#include "IniFile.h"
#include "LocalClock.h"
#include "MainMenus.h"
#include "MainWindow.h"
#include "MainWindowFixture.h"
#include "QtWait.h"
#include "RuleEditor.h"
#include "ScreensaverInstaller.h"
#include "TempDir.h"

namespace {

using namespace kalidrome;
using kalidrome::test::ProcessEventsUntil;
using kalidrome::test::TempDir;
using kalidrome::test::WriteFile;

class PreferencesWindowTest : public kalidrome::test::MainWindowFixture {
protected:
    PreferencesWindowTest() : MainWindowFixture(LocalDateTime{2026, 12, 10, 11, 59, 0}) {}

    // Opens the preferences dialog on page and runs inside while it is open (the dialog
    // is modal); inside closes it.
    void withPreferences(int page, const std::function<void(PreferencesDialog&)>& inside) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            PreferencesDialog* d = window->preferencesDialog();
            ASSERT_NE(d, nullptr);
            ran = true;
            inside(*d);
            if (d->isVisible()) d->reject();
        });
        window->openPreferences(page);
        EXPECT_TRUE(ran);
    }

};

TEST_F(PreferencesWindowTest, TheCountdownLabelFollowsTheTimerAndOkRestartsIt) {
    WriteFile(system + "Settings.ini", "[Options]\nInterval=600\n");
    MainWindow& w = create();
    withPreferences(PreferencesDialog::kBasicPage, [&](PreferencesDialog& d) {
        auto* label = d.findChild<QLabel*>("lblTimer1");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), "---");
        w.cycleTimer().SetCountdown(42);
        for (int expected : {41, 40, 39}) {
            w.cycleTimer().Tick();
            EXPECT_EQ(label->text(), QString::number(expected));
        }
        auto* interval = d.findChild<QLineEdit*>("edtInterval1");
        interval->setText("90");
        d.findChild<QComboBox*>("cbxResolutions1")->setCurrentIndex(3);
        d.findChild<QPushButton*>("btnOK1")->click();
    });
    EXPECT_EQ(w.optionState().options().Interval, 90);
    EXPECT_EQ(w.cycleTimer().Countdown(), 90);
    EXPECT_EQ(w.optionState().options().Res1, settings::kResolutionTable[3]);
    EXPECT_EQ(settings().readString("Options", "Interval", "?"), "90");
    // Once the dialog is gone a tick only reaches the title.
    ProcessEventsUntil([&] { return w.preferencesDialog() == nullptr; });
    EXPECT_EQ(w.preferencesDialog(), nullptr);
    w.cycleTimer().Tick();
    EXPECT_EQ(w.windowTitle(), "Kalidrome - 89 sec");
}

TEST_F(PreferencesWindowTest, DisableCyclingInTheDialogActsAtOnceAndCancelKeepsIt) {
    MainWindow& w = create();
    ASSERT_TRUE(w.cycleTimer().running());
    withPreferences(PreferencesDialog::kBasicPage, [&](PreferencesDialog& d) {
        d.findChild<QCheckBox*>("chkDisableCycling1")->click();
        EXPECT_FALSE(w.cycleTimer().running());
    });
    EXPECT_TRUE(w.optionState().options().DisableCycling);
    EXPECT_EQ(settings().readString("Options", "DisableCycling", "?"), "1");
}

TEST_F(PreferencesWindowTest, SlashCOpensTheScreensaverPage) {
    MainWindow& w = create("/c");
    // The dialog runs its own modal loop: it is looked for from a timer that runs there.
    int page = -1;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (PreferencesDialog* d = w.preferencesDialog(); d && d->isVisible()) {
            page = d->currentPage();
            d->reject();
        }
    });
    poll.start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return page >= 0; }));
    EXPECT_EQ(page, PreferencesDialog::kScreensaverPage);
}

// A rule made in the dialog fires in the running program: the main window's own
// five-second check finds it at its hour and changes the wallpaper.
TEST_F(PreferencesWindowTest, ARuleMadeInTheDialogFiresInTheRunningProgram) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(QColor(20, 200, 40));
    const std::string picture = dir.file("green.png");
    ASSERT_TRUE(image.save(QString::fromStdString(picture)));
    WriteFile(system + "Settings.ini", "[Options]\nDisableCycling=1\n");  // no timed cycles in the way
    MainWindow& w = create();
    ui::SetNextFileNames({QString::fromStdString(picture)});
    w.addCommand();
    ASSERT_EQ(w.list().count(), 1u);

    withPreferences(PreferencesDialog::kTimeBasedPage, [&](PreferencesDialog& d) {
        d.findChild<QComboBox*>("cbNr1")->setEditText("12");
        d.findChild<QComboBox*>("cbList1")->setCurrentIndex(15);  // Hour
        d.findChild<QPushButton*>("btnAdd1")->click();
        d.findChild<QPushButton*>("btnOK1")->click();
    });
    EXPECT_EQ(settings().readString("DefiniteDate", "Cmd0", ""), "First minute of each 12th Hour");

    const std::size_t before = desktop.calls().size();
    localClock.set({2026, 12, 10, 12, 0, 1});
    ASSERT_TRUE(ProcessEventsUntil([&] { return desktop.calls().size() > before; }, 15000));
    EXPECT_EQ(desktop.calls().size(), before + 1);
    EXPECT_EQ(settings().readInteger("DefiniteDate", "LastChangeHourFirstMin0", -9), 12);
}

}  // namespace

namespace {

using namespace kalidrome;

TEST_F(PreferencesWindowTest, CreateScreensaverInstallsAgainAndNeverRemoves) {
    kalidrome::test::EnvOverride home("HOME", dir.file("home").c_str());
    kalidrome::test::EnvOverride data("XDG_DATA_HOME", nullptr);
    kalidrome::test::EnvOverride quiet("KALIDROME_NONINTERACTIVE", "1");  // boxes go to standard error
    // XScreenSaver, as far as the installer looks: its daemon on PATH.
    std::filesystem::create_directories(dir.file("bin"));
    kalidrome::test::WriteFile(dir.file("bin/xscreensaver"), "#!/bin/sh\n");
    std::filesystem::permissions(dir.file("bin/xscreensaver"), std::filesystem::perms::owner_all);
    kalidrome::test::EnvOverride path("PATH", dir.file("bin").c_str());
    MainWindow& w = create();
    const ScreensaverPaths paths = ScreensaverPaths::For(system);
    const std::string done = "kalidrome: To enable Kalidrome's Screensaver, open XScreenSaver's settings "
                             "(xscreensaver-settings)\n"
                             "and choose KDScreensaver from the list.\n";
    const std::string failed = "kalidrome: Could not create the Screensaver. Please reinstall Kalidrome.\n";
    const struct {
        const char* name;
        const char* source;  // nullptr: none in the System folder
        const char* told;
        const char* installedCopy;
    } steps[] = {
        {"no companion in the System folder", nullptr, failed.c_str(), nullptr},
        {"installs", "first", done.c_str(), "first"},
        {"installs again over the copy", "second", done.c_str(), "second"},
        {"the source gone: the copy stays", nullptr, failed.c_str(), "second"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.source) WriteFile(paths.source, s.source);
        else std::filesystem::remove(paths.source);
        testing::internal::CaptureStderr();
        w.menus().actCreateScreensaver1->trigger();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), s.told);
        EXPECT_EQ(ScreensaverInstalled(paths), s.installedCopy != nullptr);
        if (s.installedCopy) {
            EXPECT_EQ(kalidrome::test::ReadFile(paths.destination), s.installedCopy);
        }
    }
}

}  // namespace
