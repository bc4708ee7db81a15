#include "ProgramEntry.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "IniFile.h"
#include "InstanceChannel.h"
#include "MessageBox.h"
#include "ProcessInfo.h"
#include "Settings.h"
#include "StartupCheck.h"
#include "TerminationWatcher.h"
#include "MainWindow.h"
#include "TickCount.h"
#include "Trace.h"

namespace kalidrome {

using namespace settings;

namespace {

bool HaveDisplay() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// A later start: hand the request over and end without waiting for it to be served.
int HandOff(const std::string& systemPath, const StartDecision& decision) {
    platform::SendInstanceRequest(platform::InstanceEndpoint(systemPath, decision.handle), decision.message);
    return 0;
}

int RunInstance(int argc, char** argv, const std::string& systemPath, const std::string& firstArgument,
                IniFile& settingsIni, IniFile& startupIni) {
    if (!HaveDisplay()) {
        std::fprintf(stderr,
                     "kalidrome: no desktop session found (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                     "start Kalidrome from a graphical session.\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kalidrome");
    QApplication::setQuitOnLastWindowClosed(false);

    try {
        RecordStart(startupIni, platform::CurrentHandle());
    } catch (const IniWriteError& e) {
        ui::ShowError(nullptr, QString::fromStdString(e.what()));
        return 1;
    }

    platform::SystemTickSource clock;
    try {
        MainWindow mainWindow(StartContext{systemPath, firstArgument, &clock});
        platform::TerminationWatcher termination;
        QObject::connect(&termination, &platform::TerminationWatcher::terminationRequested, &mainWindow, [&] {
            mainWindow.setExitRequested(true);
            mainWindow.close();
        });

        if (platform::FileExists(systemPath + std::string(kOneShotMarker)) &&
            settingsIni.readBool(kCloseImmediately.section, kCloseImmediately.key, kCloseImmediately.atLoad)) {
            // The one-shot run: creation has run its single cycle; offer to save the list, end.
            ui::TraceEvent("one-shot");
            mainWindow.saveListCommand();
            mainWindow.goAway();
            return 0;
        }

        QObject::connect(&mainWindow, &MainWindow::closedForGood, &app, &QApplication::quit);
        ui::TraceEvent("running");
        int rc = QApplication::exec();
        mainWindow.goAway();
        return rc;
    } catch (const std::exception& e) {
        ui::ShowError(nullptr, QString::fromStdString(e.what()));
        return 1;
    }
}

}  // namespace

int RunProgram(int argc, char** argv) {
    const std::string firstArgument = argc > 1 ? argv[1] : "";
    const std::string systemPath = platform::SystemFolderPath();
    platform::MakeFolder(systemPath.substr(0, systemPath.size() - 1));  // a failure shows at the first write

    IniFile settingsIni(systemPath + std::string(kSettingsFile));
    IniFile startupIni(systemPath + std::string(kStartupFile));

    StartDecision decision = CheckForRunningInstance(startupIni, platform::TickCountNow(), firstArgument);
    if (decision.handOff) return HandOff(systemPath, decision);
    return RunInstance(argc, argv, systemPath, firstArgument, settingsIni, startupIni);
}

}  // namespace kalidrome
