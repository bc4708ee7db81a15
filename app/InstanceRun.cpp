// The window part of the program: runs the instance once the program entry (ProgramEntry)
// has decided that no other one lives. Built into the module kalidrome-ui.so, which the
// entry loads only then.
#include <QApplication>
#include <QProcess>
#include <QSystemTrayIcon>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

#include "IniFile.h"
#include "InstanceChannel.h"
#include "InstanceServer.h"
#include "InstanceStart.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "ProcessInfo.h"
#include "Settings.h"
#include "StartupCheck.h"
#include "SystemFolder.h"
#include "TerminationWatcher.h"
#include "TickCount.h"
#include "Trace.h"

namespace kalidrome {

using namespace settings;

namespace {

// On X11, asking Qt now and then for a bounded while: a tray host that starts with the
// session (a panel) is often a moment later than a program started at login. Elsewhere
// Qt's first answer is final (the D-Bus tray is looked up once; offscreen has none).
bool TrayAvailableSoon() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return QSystemTrayIcon::isSystemTrayAvailable();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(2000);
    while (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Whether QT_QPA_PLATFORM asks first for a platform that draws nowhere (the tests' offscreen
// one), which needs no display.
bool HeadlessPlatformAsked() {
    const char* v = std::getenv("QT_QPA_PLATFORM");
    if (!v) return false;
    const std::string first = std::string(v).substr(0, std::string(v).find_first_of(";:"));
    return first == "offscreen" || first == "minimal";
}

void TellNoDesktopSession(const std::string& why) {
    std::fprintf(stderr, "kalidrome: no desktop session found (%s); start Kalidrome from a graphical session.\n",
                 why.c_str());
}

// Qt ends the program with an abort when it cannot open its platform: no display, a server
// that does not answer, a platform named in QT_QPA_PLATFORM that is not installed. While the
// application object is made, that end becomes the usual message and status 2; other
// messages go to stderr as Qt would write them.
void PlatformFailureHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
        return;
    }
    TellNoDesktopSession(message.simplified().toStdString());
    std::_Exit(2);
}

// Listens for later starts: where InstanceEndpoint says, else in a private folder made for
// this run (madeFolder). Returns the endpoint listened on, or "" after saying why not.
std::string ListenForLaterStarts(platform::InstanceServer& server, const std::string& systemPath,
                                 std::string& madeFolder) {
    const std::int64_t handle = platform::CurrentHandle();
    const std::string usual = platform::InstanceEndpoint(systemPath, handle);
    if (!usual.empty() && server.listen(QString::fromStdString(usual))) return usual;
    int failure = 0;
    const std::string own = platform::PrivateEndpoint(systemPath, handle, &madeFolder, &failure);
    if (!own.empty() && server.listen(QString::fromStdString(own))) return own;
    const std::string tried = usual.empty() ? "/tmp/kalidrome-" + std::to_string(::geteuid()) + " (not ours)" : usual;
    std::fprintf(stderr,
                 "kalidrome: cannot listen for later starts at %s%s%s; a second start cannot show this one.\n",
                 tried.c_str(), own.empty() ? "" : " nor at ", own.empty() ? "" : own.c_str());
    if (own.empty()) std::fprintf(stderr, "kalidrome: no private folder in /tmp: %s\n", std::strerror(failure));
    return {};
}

// Removes the folder made for this run's socket once the socket is gone.
struct MadeFolder {
    std::string path;
    ~MadeFolder() {
        if (!path.empty()) ::rmdir(path.c_str());
    }
};

// The start lock is held from the decision to run until this run is recorded, and let go then.
int RunInstance(const KalidromeInstanceStart& start) {
    const std::string systemPath = start.systemPath;
    const std::string firstArgument = start.firstArgument;
    int argc = start.argc;
    char** argv = start.argv;
    struct StartLock {
        const KalidromeInstanceStart& start;
        bool held = true;
        void reset() {
            if (held) start.releaseStartLock(start.lockContext);
            held = false;
        }
        ~StartLock() { reset(); }
    } startLock{start};
    // Read under the start lock, as the entry read them when it decided to run.
    IniFile settingsIni(systemPath + std::string(kSettingsFile));
    IniFile startupIni(systemPath + std::string(kStartupFile));
    if (!HeadlessPlatformAsked() && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        TellNoDesktopSession("neither DISPLAY nor WAYLAND_DISPLAY is set");
        return 2;
    }
    const QtMessageHandler qtHandler = qInstallMessageHandler(PlatformFailureHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    QApplication::setApplicationName("Kalidrome");
    // Wayland compositors and task bars match the window to the installed launcher by this.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.kalidrome.Kalidrome"));
    QApplication::setQuitOnLastWindowClosed(false);

    // Listen before the record in Startup.ini tells later starts where to go: a start
    // that comes while this one is still loading waits in the socket's queue and is
    // served once the event loop runs, instead of knocking at a socket not yet there.
    MadeFolder madeFolder;  // outlives the server, which removes its socket first
    std::optional<platform::InstanceServer> instanceServer(std::in_place);
    const std::string endpoint = ListenForLaterStarts(*instanceServer, systemPath, madeFolder.path);

    try {
        RecordStart(startupIni, platform::CurrentHandle(), endpoint, platform::TickCountNow());
    } catch (const IniWriteError& e) {
        startLock.reset();
        ui::ShowError(nullptr, QString::fromStdString(e.what()));
        return 1;
    }
    // Recorded and listening: a start from now on finds this instance and hands over.
    startLock.reset();

    platform::SystemTickSource clock;
    bool restart = false;
    int rc = 0;
    try {
        StartContext context{systemPath, firstArgument, &clock};
        context.instanceServer = &*instanceServer;
        // The one-shot run shows no window whatever the tray; nobody waits for one there.
        if (!settingsIni.readBool(kCloseImmediately.section, kCloseImmediately.key, kCloseImmediately.atLoad))
            context.trayAvailable = TrayAvailableSoon();
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
            mainWindow.wallpaperChanger().finish();  // the one cycle is made on the worker
            mainWindow.saveListCommand();
            mainWindow.goAway();
            return 0;
        }

        QObject::connect(&mainWindow, &MainWindow::closedForGood, &app, &QApplication::quit);
        ui::TraceEvent("running");
        rc = QApplication::exec();
        mainWindow.goAway();
        restart = mainWindow.restartRequested();
    } catch (const std::exception& e) {
        ui::ShowError(nullptr, QString::fromStdString(e.what()));
        return 1;
    }
    if (restart) {
        // A new language takes effect in a new instance. This one has saved its list and
        // marked Startup.ini as ended (the window is gone); closing the hand-off socket
        // now leaves the new start nothing to hand itself over to, and nothing of this
        // instance runs after the new one has begun.
        instanceServer.reset();
        const QString program = QString::fromStdString(platform::ExecutablePath());
        if (QProcess::startDetached(program, {})) ui::TraceEvent("restarted");
        else std::fprintf(stderr, "kalidrome: could not start %s again\n", program.toLocal8Bit().constData());
    }
    return rc;
}

}  // namespace

}  // namespace kalidrome

extern "C" __attribute__((visibility("default"))) int kalidrome_run_instance(const KalidromeInstanceStart* start) {
    return kalidrome::RunInstance(*start);
}
