#pragma once

#include <QByteArray>
#include <QObject>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>
#include <condition_variable>

#include "WallpaperList.h"

namespace kalidrome {

// Makes list thumbnails in the background. Painting a row without a thumbnail files a
// request; worker threads decode and scale the picture, and the finished JPEG is stored
// into the entry on the user-interface thread, if the entry still exists. Requests for
// an entry already waiting are merged; the newest requests are served first (they are
// the rows on screen now), and the oldest are dropped when too many wait, since a row
// that is painted again asks again. A failed thumbnail is dropped silently.
class ThumbnailMaker : public QObject {
    Q_OBJECT
public:
    // make: path and box -> thumbnail fitting the box; runs on the worker threads and
    // throws on failure.
    using MakeFunction = std::function<JpegImage(const std::string& path, std::int32_t box)>;

    ThumbnailMaker(WallpaperList& list, MakeFunction make, int threads = 2, QObject* parent = nullptr);
    ~ThumbnailMaker() override;

    void RequestThumbnail(EntryId id);
    // A thumbnail for a screen with more pixels than points: made to fit the larger box,
    // handed out by sharpThumbnailMade and never stored in the entry.
    void RequestSharpThumbnail(EntryId id, std::int32_t box);
    // Requests not yet taken by a worker.
    std::size_t waiting() const;

    static constexpr std::size_t kMaxWaiting = 512;

signals:
    // A thumbnail was stored into its entry.
    void thumbnailStored(EntryId id);
    // A job ended without a thumbnail.
    void thumbnailFailed(EntryId id);
    // A sharp thumbnail is ready (the JPEG of RequestSharpThumbnail's box).
    void sharpThumbnailMade(EntryId id, const QByteArray& jpeg);

private:
    struct Job {
        EntryId id;
        std::string path;
        std::int32_t box = 0;  // 0: the thumbnail the entry keeps
    };
    void queue(Job job, std::unordered_set<EntryId>& pending);
    void workerLoop();
    void finished(const Job& job, bool ok, JpegImage image);

    WallpaperList& m_list;
    MakeFunction m_make;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    std::unordered_set<EntryId> m_pending;  // waiting or being made; user-interface thread's view
    std::unordered_set<EntryId> m_pendingSharp;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

}  // namespace kalidrome
