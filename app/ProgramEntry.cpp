#include "ProgramEntry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <dlfcn.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "AtomicFile.h"
#include "IniFile.h"
#include "InstanceChannel.h"
#include "InstanceStart.h"
#include "ProcessInfo.h"
#include "Settings.h"
#include "StartupCheck.h"
#include "SystemFolder.h"
#include "TickCount.h"

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

// The absolute folders the dynamic loader searches for this executable's libraries: its run
// path (a copy of the build tree's executable elsewhere finds that tree's module there), then
// LD_LIBRARY_PATH and the system's. Asked of the loader, as a lookup by bare name would go
// wrong where dlopen is intercepted (the sanitizers), which hides whose run path counts.
std::vector<std::string> LibraryFolders() {
    std::vector<std::string> folders;
    void* self = ::dlopen(nullptr, RTLD_NOW);
    if (!self) return folders;
    Dl_serinfo size{};
    if (::dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_cnt > 0) {
        std::vector<std::max_align_t> storage(size.dls_size / sizeof(std::max_align_t) + 1);
        auto* info = reinterpret_cast<Dl_serinfo*>(storage.data());
        info->dls_size = size.dls_size;
        info->dls_cnt = size.dls_cnt;
        if (::dlinfo(self, RTLD_DI_SERINFO, info) == 0)
            for (unsigned i = 0; i < info->dls_cnt; ++i)
                if (info->dls_serpath[i].dls_name && info->dls_serpath[i].dls_name[0] == '/')
                    folders.emplace_back(info->dls_serpath[i].dls_name);
    }
    ::dlclose(self);
    return folders;
}

// The window part of the program, loaded only by a start that runs as the instance: beside
// the executable (the build tree, a portable copy), in the installed layout, or in a folder
// the executable's libraries come from. Null after saying why not.
KalidromeRunInstance LoadWindowPart() {
    const std::string folder = platform::ExecutableFolder() + "/";
    std::vector<std::string> candidates = {folder + kWindowModuleName,
                                           folder + KALIDROME_MODULE_FROM_BIN "/" + kWindowModuleName};
    for (const std::string& libraries : LibraryFolders()) candidates.push_back(libraries + "/" + kWindowModuleName);
    std::string failures;
    for (const std::string& candidate : candidates) {
        // Only a file that is there is worth the loader's message.
        if (!platform::FileExists(candidate)) continue;
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            failures += std::string("\n  ") + ::dlerror();
            continue;
        }
        if (void* entry = ::dlsym(module, kRunInstanceSymbol)) return reinterpret_cast<KalidromeRunInstance>(entry);
        failures += "\n  " + candidate + ": no " + kRunInstanceSymbol;
    }
    if (failures.empty()) failures = " no such file";
    std::fprintf(stderr,
                 "kalidrome: cannot load the window part of the program, %s (looked beside %s, in %s%s and where "
                 "its libraries are):%s\n",
                 kWindowModuleName, folder.c_str(), folder.c_str(), KALIDROME_MODULE_FROM_BIN, failures.c_str());
    return nullptr;
}

void ReleaseStartLock(void* lock) { static_cast<std::optional<platform::FileLock>*>(lock)->reset(); }

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

    // Deciding to run and recording the run happen under one lock ("Instance.lock"), so that
    // two starts at the same moment (after a crash, say) cannot both find no instance and
    // both run: the second decides once the first has recorded itself, and hands over.
    std::optional<platform::FileLock> startLock(std::in_place, systemPath + "Instance", kStartLockWait);
    const IniFile startupIni(systemPath + std::string(kStartupFile));
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
    const KalidromeRunInstance runInstance = LoadWindowPart();
    if (!runInstance) return 2;
    const KalidromeInstanceStart start{argc, argv, systemPath.c_str(), firstArgument.c_str(), &ReleaseStartLock, &startLock};
    return runInstance(&start);
}

}  // namespace kalidrome
