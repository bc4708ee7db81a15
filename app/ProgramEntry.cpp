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

// Hands a request to the recorded instance without waiting for it to be served. An
// instance that is certainly gone (killed or crashed before its exit bookkeeping) has its
// socket removed; one that is alive but did not take the request is told on stderr.
enum class Delivery { Delivered, InstanceGone, NotTaken };

Delivery Deliver(const std::string& systemPath, std::int64_t handle, int message) {
    const std::string endpoint = platform::InstanceEndpoint(systemPath, handle);
    int failure = 0;
    if (platform::SendInstanceRequest(endpoint, message, &failure)) return Delivery::Delivered;
    if (platform::InstanceIsGone(failure, handle)) {
        platform::RemoveDeadEndpoint(endpoint);
        return Delivery::InstanceGone;
    }
    std::fprintf(stderr, "kalidrome: the running instance (process %lld) did not take the request at %s: %s\n",
                 static_cast<long long>(handle), endpoint.c_str(), std::strerror(failure));
    return Delivery::NotTaken;
}

// "--show", "--next", "--previous": only the running instance can serve them.
int SendRequest(const std::string& systemPath, const IniFile& startupIni, const std::string& option, int message) {
    // A start that is deciding and recording itself right now is waited for.
    const platform::FileLock startLock(systemPath + "Instance", kStartLockWait);
    const StartDecision decision = CheckForRunningInstance(startupIni, platform::TickCountNow(), option);
    if (decision.handOff) {
        const Delivery delivery = Deliver(systemPath, decision.handle, message);
        if (delivery != Delivery::InstanceGone) return delivery == Delivery::Delivered ? 0 : 1;
    }
    std::fprintf(stderr, "kalidrome: Kalidrome is not running (System folder %s); %s needs it running.\n",
                 systemPath.c_str(), option.c_str());
    return 1;
}

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
    std::optional<platform::InstanceServer> instanceServer(std::in_place);
    const std::string endpoint = platform::InstanceEndpoint(systemPath, platform::CurrentHandle());
    if (!instanceServer->listen(QString::fromStdString(endpoint)))
        std::fprintf(stderr, "kalidrome: cannot listen for later starts at %s\n", endpoint.c_str());

    try {
        RecordStart(startupIni, platform::CurrentHandle(), platform::TickCountNow());
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
    StartDecision decision = CheckForRunningInstance(startupIni, platform::TickCountNow(), firstArgument);
    // A later start hands its request over and ends; when the recorded instance is gone,
    // this start takes its place.
    if (decision.handOff && Deliver(systemPath, decision.handle, decision.message) != Delivery::InstanceGone) return 0;
    return RunInstance(argc, argv, systemPath, firstArgument, settingsIni, startupIni, startLock);
}

}  // namespace kalidrome
