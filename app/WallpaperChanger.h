#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <utility>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Desktop.h"
#include "Registry.h"
#include "Wallpaper.h"

namespace kalidrome {

// Runs wallpaper changes off the user-interface thread. Decoding, conversion, writing the
// bitmap (WallPaper.next.bmp) and the choice of placement happen on one worker thread, one
// change after the other; the thread that owns this object (the user-interface thread) only
// asks the desktop for its screen, moves the bitmap over WallPaper.bmp and hands it to the
// desktop.
//
// It also makes the picture that is due next ready before its turn ("ahead"): decoded,
// converted into WallPaper.next.bmp and cut down to one screen-sized bitmap, and drawn ahead
// by desktops that can (Desktop::stageWallpaper), so that a timed change only renames a file
// and hands the pixels (or what was drawn) over. What is ready ahead is used only
// when the picture, its file (size and time), the options and the screen are still the
// same; invalidate() drops it (the list, the options or the screen changed) and asks the
// provider again after a pause.
class WallpaperChanger : public QObject {
    Q_OBJECT
public:
    struct Outcome {
        std::string path;
        bool changed = false;
        std::string failure;    // why the desktop refused, or the picture could not be shown; empty otherwise
        bool fromAhead = false;  // the picture had been made ready ahead
    };
    using Done = std::function<void(const Outcome&)>;

    // What should be made ready ahead: a picture and the options to show it with, or
    // nothing (auto cycling off, nothing due).
    struct Upcoming {
        std::string path;
        render::WallpaperOptions options;
    };
    using UpcomingProvider = std::function<std::optional<Upcoming>()>;

    static constexpr int kAheadDelayMs = 1500;

    WallpaperChanger(std::string systemPath, platform::Desktop& desktop, platform::Registry& registry,
                     QObject* parent = nullptr);
    // Waits for the worker's present step (a decode cannot be cut short), drops whatever
    // else was queued without calling its Done, and removes the file made ahead.
    ~WallpaperChanger() override;

    // Starts a change; done runs on this thread once it is over (at once when the picture
    // was ready ahead, or when the desktop cannot be asked for its screen).
    void change(const std::string& path, const render::WallpaperOptions& options, Done done);

    // A change with a picture per monitor: paths[i] for monitors[i] (in monitor order, the
    // primary first; fewer paths are repeated). Nothing is made ready ahead for it.
    void changeSet(const std::vector<std::string>& paths, const std::vector<platform::Monitor>& monitors,
                   const render::WallpaperOptions& options, Done done);

    void setUpcomingProvider(UpcomingProvider provider) { m_upcoming = std::move(provider); }
    // Drops what is ready ahead and asks the provider again after kAheadDelayMs.
    void invalidate();
    // Asks the provider now and starts making its picture ready (tests and benchmarks).
    void prepareUpcomingNow();

    // Whether a change is queued or running.
    bool busy() const { return m_changesInFlight > 0; }
    // Whether a picture is ready ahead (for the path given, when not empty).
    bool readyAhead(const std::string& path = {}) const;
    // Runs the event loop until no change is left (the one-shot run ends only then).
    void finish();
    // Ends changes for good, as the program closes: whatever is queued, running or ready is
    // thrown away without its Done, and nothing more reaches WallPaper.bmp or the desktop
    // (a change still on the worker only writes the file made ahead, removed at the end).
    void close();

    const std::string& stagedPath() const { return m_stagedPath; }

signals:
    void aheadReady(const QString& path);

private:
    enum class Kind { Change, Ahead };
    struct Job {
        Kind kind;
        std::uint64_t id;
        std::string path;
        render::WallpaperOptions options;
        render::DesktopTraits traits;
        // A picture per monitor: every monitor's picture (path is the primary's).
        std::vector<std::string> paths;
        std::vector<platform::Monitor> monitors;
    };
    struct FileStamp {
        std::int64_t size = -1;
        std::int64_t mtimeNs = 0;
        std::uint64_t inode = 0;
        bool operator==(const FileStamp&) const = default;
    };
    struct Ahead {
        std::uint64_t id = 0;
        std::string path;
        render::WallpaperOptions options;
        render::DesktopTraits traits;
        FileStamp stamp;
        std::optional<render::PreparedWallpaper> prepared;  // set once the worker is done
        Done promoted;  // a change that came for this picture while it was being made
        bool promotedSet = false;
    };

    static FileStamp StampOf(const std::string& path);
    static bool SameOptions(const render::WallpaperOptions& a, const render::WallpaperOptions& b);
    bool matches(const Ahead& ahead, const std::string& path, const render::WallpaperOptions& options,
                 const render::DesktopTraits& traits) const;

    // A picture missing, or a desktop that cannot be asked: told through done, and true.
    // Otherwise traits := the desktop's, and false.
    bool refusedAtOnce(const std::string& path, const Done& done, render::DesktopTraits& traits);
    void start(Job job, Done done);
    void startNext();
    void run();
    // failure: what to tell of a picture that could not be prepared ("" when nothing).
    void finished(Kind kind, std::uint64_t id, std::shared_ptr<render::PreparedWallpaper> prepared,
                  const std::string& failure);
    void apply(render::PreparedWallpaper& prepared, const Done& done, bool fromAhead);
    void dropAhead();

    std::string m_systemPath;
    std::string m_stagedPath;
    platform::Desktop& m_desktop;
    platform::Registry& m_registry;
    UpcomingProvider m_upcoming;
    QTimer m_aheadTimer;

    // This thread's side. The worker holds one job at a time, and a change's bitmap is
    // handed to the desktop before the next job starts, so no job writes a bitmap that the
    // desktop is being given.
    std::uint64_t m_nextId = 1;
    std::optional<std::pair<Job, Done>> m_running;
    std::deque<std::pair<Job, Done>> m_waiting;  // changes, in the order they came
    int m_changesInFlight = 0;
    std::optional<Ahead> m_ahead;
    bool m_closed = false;

    // Shared with the worker.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Job> m_job;
    bool m_stopping = false;
    std::atomic<bool> m_cancel{false};  // set at close: the worker's decode ends early
    std::thread m_worker;
};

}  // namespace kalidrome
