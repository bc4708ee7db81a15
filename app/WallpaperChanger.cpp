#include "WallpaperChanger.h"

#include <filesystem>

#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>
#include <sys/stat.h>

#include "Cancel.h"
#include "Settings.h"

namespace kalidrome {

namespace {
constexpr const char* kStagedFile = "WallPaper.next.bmp";

WallpaperChanger::Outcome Unchanged(const std::string& path) { return WallpaperChanger::Outcome{path, false, {}, false}; }
}

WallpaperChanger::WallpaperChanger(std::string systemPath, platform::Desktop& desktop, platform::Registry& registry,
                                   QObject* parent)
    : QObject(parent),
      m_systemPath(std::move(systemPath)),
      m_stagedPath(m_systemPath + kStagedFile),
      m_desktop(desktop),
      m_registry(registry) {
    m_aheadTimer.setSingleShot(true);
    m_aheadTimer.setInterval(kAheadDelayMs);
    connect(&m_aheadTimer, &QTimer::timeout, this, &WallpaperChanger::prepareUpcomingNow);
    m_worker = std::thread([this] { run(); });
}

WallpaperChanger::~WallpaperChanger() {
    m_cancel = true;  // a picture being decoded now is given up, not waited for
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_job.reset();
    }
    m_wake.notify_all();
    m_worker.join();
    std::remove(m_stagedPath.c_str());
}

WallpaperChanger::FileStamp WallpaperChanger::StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return FileStamp{static_cast<std::int64_t>(st.st_size),
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     static_cast<std::uint64_t>(st.st_ino)};
}

bool WallpaperChanger::SameOptions(const render::WallpaperOptions& a, const render::WallpaperOptions& b) {
    return a.GreyScale == b.GreyScale && a.UseMask == b.UseMask && a.StretchLarger == b.StretchLarger &&
           a.StretchSmaller == b.StretchSmaller && a.Res1 == b.Res1 && a.Res2 == b.Res2;
}

bool WallpaperChanger::matches(const Ahead& ahead, const std::string& path, const render::WallpaperOptions& options,
                               const render::DesktopTraits& traits) const {
    return ahead.path == path && SameOptions(ahead.options, options) && ahead.traits.screen == traits.screen &&
           ahead.traits.drawsScreenSizedPixels == traits.drawsScreenSizedPixels &&
           ahead.traits.placesFileAsTold == traits.placesFileAsTold && ahead.stamp == StampOf(path);
}

bool WallpaperChanger::readyAhead(const std::string& path) const {
    return m_ahead && m_ahead->prepared && (path.empty() || m_ahead->path == path);
}

bool WallpaperChanger::refusedAtOnce(const std::string& path, const Done& done, render::DesktopTraits& traits) {
    if (m_closed) return true;  // closing for good: nothing more is changed, nor told
    if (StampOf(path).size < 0) {
        // A missing picture changes nothing, and the desktop is not even asked; one gone
        // since it was listed is told.
        Outcome outcome = Unchanged(path);
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) outcome.failure = render::kPictureMissing;
        if (done) done(outcome);
        return true;
    }
    try {
        traits = render::TraitsOf(m_desktop);
    } catch (const platform::DesktopError& error) {
        if (done) done(Outcome{path, false, error.what(), false});
        return true;
    }
    return false;
}

void WallpaperChanger::change(const std::string& path, const render::WallpaperOptions& options, Done done) {
    render::DesktopTraits traits;
    if (refusedAtOnce(path, done, traits)) return;
    if (m_ahead && m_waiting.empty() && !m_ahead->promotedSet && matches(*m_ahead, path, options, traits)) {
        if (m_ahead->prepared) {
            render::PreparedWallpaper prepared = std::move(*m_ahead->prepared);
            m_ahead.reset();
            ++m_changesInFlight;
            apply(prepared, done, true);
            return;
        }
        // Being made right now: it becomes this change when it is done.
        m_ahead->promoted = std::move(done);
        m_ahead->promotedSet = true;
        ++m_changesInFlight;
        return;
    }
    dropAhead();
    ++m_changesInFlight;
    m_waiting.emplace_back(Job{Kind::Change, m_nextId++, path, options, traits, {}, {}}, std::move(done));
    startNext();
}

void WallpaperChanger::changeSet(const std::vector<std::string>& paths, const std::vector<platform::Monitor>& monitors,
                                 const render::WallpaperOptions& options, Done done) {
    if (paths.empty() || monitors.empty()) {
        if (done) done(Unchanged(paths.empty() ? std::string() : paths.front()));
        return;
    }
    const std::string& primary = paths.front();
    render::DesktopTraits traits;
    if (refusedAtOnce(primary, done, traits)) return;
    dropAhead();
    ++m_changesInFlight;
    m_waiting.emplace_back(Job{Kind::Change, m_nextId++, primary, options, traits, paths, monitors}, std::move(done));
    startNext();
}

void WallpaperChanger::invalidate() {
    dropAhead();
    if (!m_closed) m_aheadTimer.start();
}

void WallpaperChanger::close() {
    m_closed = true;
    m_cancel = true;
    m_aheadTimer.stop();
    m_waiting.clear();
    m_running.reset();
    if (m_ahead) m_ahead->promotedSet = false;  // its change is dropped with it
    dropAhead();
    m_changesInFlight = 0;
    {
        std::lock_guard lock(m_mutex);
        m_job.reset();
    }
}

void WallpaperChanger::prepareUpcomingNow() {
    m_aheadTimer.stop();
    if (m_closed || !m_upcoming || m_ahead) return;
    const std::optional<Upcoming> upcoming = m_upcoming();
    if (!upcoming) return;
    const FileStamp stamp = StampOf(upcoming->path);
    if (stamp.size < 0) return;
    render::DesktopTraits traits;
    try {
        traits = render::TraitsOf(m_desktop);
    } catch (const platform::DesktopError&) {
        return;
    }
    Ahead ahead;
    ahead.id = m_nextId++;
    ahead.path = upcoming->path;
    ahead.options = upcoming->options;
    ahead.traits = traits;
    ahead.stamp = stamp;
    m_ahead = std::move(ahead);
    startNext();
}

void WallpaperChanger::dropAhead() {
    if (!m_ahead || m_ahead->promotedSet) return;
    // A finished one has its file; one still being made leaves it to be written over.
    if (m_ahead->prepared && !m_ahead->prepared->stagedPath.empty()) std::remove(m_stagedPath.c_str());
    m_ahead.reset();
}

void WallpaperChanger::startNext() {
    if (m_closed || m_running) return;
    if (!m_waiting.empty()) {
        m_running = std::move(m_waiting.front());
        m_waiting.pop_front();
    } else if (m_ahead && !m_ahead->prepared) {
        m_running = std::make_pair(Job{Kind::Ahead, m_ahead->id, m_ahead->path, m_ahead->options, m_ahead->traits, {}, {}},
                                   Done{});
    } else {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_job = m_running->first;
    }
    m_wake.notify_all();
}

void WallpaperChanger::run() {
    const render::CancelScope cancel(&m_cancel);
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_job; });
            if (m_stopping) return;
            job = std::move(*m_job);
            m_job.reset();
        }
        std::shared_ptr<render::PreparedWallpaper> prepared;
        std::string failure;
        try {
            if (job.monitors.empty()) {
                // Written beside WallPaper.bmp and moved over it when the desktop is given it,
                // so that the shown file changes at once and never after the program closed.
                prepared = std::make_shared<render::PreparedWallpaper>(
                    render::PrepareWallpaper(job.path, m_systemPath, job.options, job.traits, m_stagedPath));
            } else {
                prepared = std::make_shared<render::PreparedWallpaper>(render::PrepareMonitorWallpapers(
                    job.paths, job.monitors, m_systemPath, job.options, job.traits));
            }
            if (job.kind == Kind::Ahead) {
                render::KeepScreenSizedOnly(*prepared, job.traits);
                // Drawn on the display server too where the desktop can, so that its tick
                // only switches the picture shown.
                render::StageWallpaper(*prepared, m_desktop);
            }
        } catch (const std::exception& error) {
            // An unreadable picture shows nothing; one too large, or a full disk, is told.
            prepared.reset();
            failure = render::ReasonToTell(error);
        } catch (...) {
            prepared.reset();
        }
        const Kind kind = job.kind;
        const std::uint64_t id = job.id;
        QMetaObject::invokeMethod(
            this, [this, kind, id, prepared, failure] { finished(kind, id, prepared, failure); },
            Qt::QueuedConnection);
    }
}

void WallpaperChanger::finished(Kind kind, std::uint64_t id, std::shared_ptr<render::PreparedWallpaper> prepared,
                                const std::string& failure) {
    auto unchanged = [&failure](const std::string& path) {
        Outcome outcome = Unchanged(path);
        outcome.failure = failure;
        return outcome;
    };
    if (m_closed || !m_running || m_running->first.id != id) return;
    Done done = std::move(m_running->second);
    const std::string path = m_running->first.path;
    m_running.reset();
    if (kind == Kind::Change) {
        if (prepared) {
            apply(*prepared, done, false);
        } else {
            --m_changesInFlight;
            if (done) done(unchanged(path));
            if (m_changesInFlight == 0) invalidate();
        }
    } else if (m_ahead && m_ahead->id == id) {
        if (m_ahead->promotedSet) {
            Done promoted = std::move(m_ahead->promoted);
            m_ahead.reset();
            if (prepared) {
                apply(*prepared, promoted, true);
            } else {
                --m_changesInFlight;
                if (promoted) promoted(unchanged(path));
                if (m_changesInFlight == 0) invalidate();
            }
        } else if (prepared) {
            m_ahead->prepared = std::move(*prepared);
            emit aheadReady(QString::fromStdString(m_ahead->path));
        } else {
            m_ahead.reset();  // nothing ready; the change will do the work when it is due
        }
    }
    startNext();
}

void WallpaperChanger::apply(render::PreparedWallpaper& prepared, const Done& done, bool fromAhead) {
    Outcome outcome = Unchanged(prepared.picturePath);
    outcome.fromAhead = fromAhead;
    outcome.changed = render::ApplyPreparedWallpaper(prepared, m_desktop, m_registry, &outcome.failure);
    --m_changesInFlight;
    if (done) done(outcome);
    // The next picture is due now.
    if (m_changesInFlight == 0) invalidate();
}

void WallpaperChanger::finish() {
    while (busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

}  // namespace kalidrome
