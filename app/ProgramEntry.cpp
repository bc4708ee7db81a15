#include "ProgramEntry.h"

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

#include "AtomicFile.h"
#include "IniFile.h"
#include "InstanceChannel.h"
#include "InstanceServer.h"
#include "MessageBox.h"
#include "ProcessInfo.h"
#include "Settings.h"
#include "StartupCheck.h"
#include "SystemFolder.h"
#include "TerminationWatcher.h"
#include "MainWindow.h"
#include "TickCount.h"
#include "Trace.h"

namespace kalidrome {

using namespace settings;

namespace {

// What the command line asks for; only the first argument is looked at.
enum class Command { Start, Show, Next, Previous, Help, Unknown };

Command ParseCommand(const std::string& first) {
    if (first == "--show") return Command::Show;
    if (first == "--next") return Command::Next;
    if (first == "--previous") return Command::Previous;
    if (first == "--help" || first == "-h") return Command::Help;
    // Anything else, "/c" included, is a start as it always was; only a misspelt option
    // of the new kind is refused, so that "--nxet" does not start a second window.
    if (first.size() > 1 && first[0] == '-') return Command::Unknown;
    return Command::Start;
}

void PrintUsage(std::FILE* to, const std::string& systemPath) {
    std::fprintf(to,
                 "Usage: kalidrome [OPTION]\n"
                 "Changes the desktop wallpaper from a list of pictures.\n"
                 "\n"
                 "With no option, starts Kalidrome, or shows the window of the one that runs.\n"
                 "  --show       show the running Kalidrome's window\n"
                 "  --next       change the wallpaper now\n"
                 "  --previous   go back to the previous wallpaper\n"
                 "  /c           start or show Kalidrome with the screen-saver preferences open\n"
                 "  -h, --help   show this help\n"
                 "\n"
                 "--show, --next and --previous are served by the running Kalidrome and end at\n"
                 "once; when none runs they say so and end with status 1.\n"
                 "\n"
                 "System folder: %s\n",
                 systemPath.c_str());
}

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

// How long a start waits for another start to finish deciding and recording itself.
constexpr std::chrono::milliseconds kStartLockWait{5000};

// Hands a request to the recorded instance without waiting for it to be served. A socket
// that takes the connection belongs to a live instance, however busy or stopped (the
// request waits in its queue). When none does, the instance counts as gone only when that
// is certain (the socket refused, or no socket and no process of this program under that
// id) or when nothing else says it lives (no fresh heartbeat, no such process); its dead
// socket is removed then. Otherwise it lives but cannot be reached, and the reason is told.
enum class Delivery { Delivered, InstanceGone, NotTaken };

Delivery Deliver(const std::string& systemPath, const StartDecision& decision, int message) {
    // A record without Socket comes from an older version: its socket lies where it did then.
    const std::string endpoint =
        decision.endpointRecorded ? decision.endpoint : platform::InstanceEndpoint(systemPath, decision.handle);
    int failure = 0;
    if (platform::SendInstanceRequest(endpoint, message, &failure)) return Delivery::Delivered;
    const bool gone = platform::InstanceIsGone(failure, decision.handle) ||
                      (!decision.heartbeatFresh && !platform::ProcessRunsThisProgram(decision.handle));
    if (gone) {
        platform::RemoveDeadEndpoint(endpoint);
        return Delivery::InstanceGone;
    }
    if (endpoint.empty())
        std::fprintf(stderr,
                     "kalidrome: Kalidrome runs (process %lld, System folder %s) but has no hand-off socket, so "
                     "it cannot take the request; its own messages say why it could not listen.\n",
                     static_cast<long long>(decision.handle), systemPath.c_str());
    else
        std::fprintf(stderr, "kalidrome: the running instance (process %lld) did not take the request at %s: %s\n",
                     static_cast<long long>(decision.handle), endpoint.c_str(), std::strerror(failure));
    return Delivery::NotTaken;
}

// "--show", "--next", "--previous": only the running instance can serve them.
int SendRequest(const std::string& systemPath, const IniFile& startupIni, const std::string& option, int message) {
    // A start that is deciding and recording itself right now is waited for (the lock is
    // free at once otherwise, so it costs a hand-off nothing).
    const platform::FileLock startLock(systemPath + "Instance", kStartLockWait);
    const StartDecision decision = CheckForRunningInstance(startupIni, platform::TickCountNow(), option);
    if (decision.recorded) {
        const Delivery delivery = Deliver(systemPath, decision, message);
        if (delivery != Delivery::InstanceGone) return delivery == Delivery::Delivered ? 0 : 1;
    }
    std::fprintf(stderr, "kalidrome: Kalidrome is not running (System folder %s); %s needs it running.\n",
                 systemPath.c_str(), option.c_str());
    return 1;
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

// startLock is held from the decision to run until this run is recorded, and let go then.
int RunInstance(int argc, char** argv, const std::string& systemPath, const std::string& firstArgument,
                IniFile& settingsIni, IniFile& startupIni, std::optional<platform::FileLock>& startLock) {
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

int RunProgram(int argc, char** argv) {
    const std::string firstArgument = argc > 1 ? argv[1] : "";
    const Command command = ParseCommand(firstArgument);
    const platform::SystemFolderChoice choice = platform::ChooseSystemFolder(platform::ExecutableFolder());
    const std::string& systemPath = choice.path;
    switch (command) {
        case Command::Help:
            PrintUsage(stdout, systemPath);
            return 0;
        case Command::Unknown:
            std::fprintf(stderr, "kalidrome: unknown option %s\n\n", firstArgument.c_str());
            PrintUsage(stderr, systemPath);
            return 2;
        case Command::Show:
        case Command::Next:
        case Command::Previous: {
            const int message = command == Command::Show   ? platform::kRequestShow
                                : command == Command::Next ? platform::kRequestNext
                                                           : platform::kRequestPrevious;
            return SendRequest(systemPath, IniFile(systemPath + std::string(kStartupFile)), firstArgument, message);
        }
        case Command::Start: break;
    }
    platform::PrepareSystemFolder(choice);  // a failure shows at the first write

    IniFile settingsIni(systemPath + std::string(kSettingsFile));
    IniFile startupIni(systemPath + std::string(kStartupFile));

    // Deciding to run and recording the run happen under one lock ("Instance.lock"), so that
    // two starts at the same moment (after a crash, say) cannot both find no instance and
    // both run: the second decides once the first has recorded itself, and hands over.
    std::optional<platform::FileLock> startLock(std::in_place, systemPath + "Instance", kStartLockWait);
    const StartDecision decision = CheckForRunningInstance(startupIni, platform::TickCountNow(), firstArgument);
    // A later start hands its request over and ends; when the recorded instance is gone,
    // this start takes its place. One that lives but cannot be reached is not started
    // beside: the start says why and fails.
    if (decision.recorded) {
        switch (Deliver(systemPath, decision, decision.message)) {
            case Delivery::Delivered: return 0;
            case Delivery::NotTaken: return 1;
            case Delivery::InstanceGone: break;
        }
    }
    return RunInstance(argc, argv, systemPath, firstArgument, settingsIni, startupIni, startLock);
}

}  // namespace kalidrome
