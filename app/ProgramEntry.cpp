#include "ProgramEntry.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "IniFile.h"
#include "InstanceChannel.h"
#include "InstanceServer.h"
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
// Returns false when the recorded instance is certainly gone (it was killed or crashed
// before its exit bookkeeping): this start then takes its place, and its socket goes.
bool HandOff(const std::string& systemPath, const StartDecision& decision) {
    const std::string endpoint = platform::InstanceEndpoint(systemPath, decision.handle);
    int failure = 0;
    if (platform::SendInstanceRequest(endpoint, decision.message, &failure)) return true;
    if (platform::InstanceIsGone(failure, decision.handle)) {
        platform::RemoveDeadEndpoint(endpoint);
        return false;
    }
    std::fprintf(stderr, "kalidrome: the running instance (process %lld) did not take the request at %s: %s\n",
                 static_cast<long long>(decision.handle), endpoint.c_str(), std::strerror(failure));
    return true;
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

    // Listen before the record in Startup.ini tells later starts where to go: a start
    // that comes while this one is still loading waits in the socket's queue and is
    // served once the event loop runs, instead of knocking at a socket not yet there.
    platform::InstanceServer instanceServer;
    const std::string endpoint = platform::InstanceEndpoint(systemPath, platform::CurrentHandle());
    if (!instanceServer.listen(QString::fromStdString(endpoint)))
        std::fprintf(stderr, "kalidrome: cannot listen for later starts at %s\n", endpoint.c_str());

    try {
        RecordStart(startupIni, platform::CurrentHandle());
    } catch (const IniWriteError& e) {
        ui::ShowError(nullptr, QString::fromStdString(e.what()));
        return 1;
    }

    platform::SystemTickSource clock;
    try {
        StartContext context{systemPath, firstArgument, &clock};
        context.instanceServer = &instanceServer;
        MainWindow mainWindow(context);
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
    if (decision.handOff && HandOff(systemPath, decision)) return 0;
    return RunInstance(argc, argv, systemPath, firstArgument, settingsIni, startupIni);
}

}  // namespace kalidrome
