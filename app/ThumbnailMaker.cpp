#include "ThumbnailMaker.h"

#include <QMetaObject>
#include <QPointer>

#include "Thumbnail.h"

namespace kalidrome {

ThumbnailMaker::ThumbnailMaker(WallpaperList& list, MakeFunction make, int threads, QObject* parent)
    : QObject(parent), m_list(list), m_make(std::move(make)) {
    for (int i = 0; i < threads; ++i) m_workers.emplace_back([this] { workerLoop(); });
}

ThumbnailMaker::~ThumbnailMaker() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (auto& t : m_workers) t.join();
}

void ThumbnailMaker::RequestThumbnail(EntryId id) {
    if (const TListItemInfo* entry = m_list.find(id)) queue(Job{id, entry->FilePath, 0}, m_pending);
}

void ThumbnailMaker::RequestSharpThumbnail(EntryId id, std::int32_t box) {
    if (const TListItemInfo* entry = m_list.find(id)) queue(Job{id, entry->FilePath, box}, m_pendingSharp);
}

void ThumbnailMaker::queue(Job job, std::unordered_set<EntryId>& pending) {
    std::lock_guard lock(m_mutex);
    if (!pending.insert(job.id).second) return;  // already on its way
    m_queue.push_back(std::move(job));
    if (m_queue.size() > kMaxWaiting) {
        const Job& oldest = m_queue.front();
        (oldest.box ? m_pendingSharp : m_pending).erase(oldest.id);
        m_queue.pop_front();
    }
    m_wake.notify_one();
}

std::size_t ThumbnailMaker::waiting() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void ThumbnailMaker::workerLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) return;
            job = std::move(m_queue.back());
            m_queue.pop_back();
        }
        JpegImage image;
        bool ok = false;
        try {
            image = m_make(job.path, job.box ? job.box : render::kThumbnailBox);
            ok = true;
        } catch (...) {
            // Missing, unreadable or corrupt: the row asks again at its next paint.
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
        }
        QMetaObject::invokeMethod(
            this, [this, job, ok, image = std::move(image)]() mutable { finished(job, ok, std::move(image)); },
            Qt::QueuedConnection);
    }
}

void ThumbnailMaker::finished(const Job& job, bool ok, JpegImage image) {
    const EntryId id = job.id;
    {
        std::lock_guard lock(m_mutex);
        (job.box ? m_pendingSharp : m_pending).erase(id);
    }
    if (job.box) {
        if (ok && m_list.find(id))
            emit sharpThumbnailMade(id, QByteArray(reinterpret_cast<const char*>(image.Bytes.data()),
                                                   static_cast<qsizetype>(image.Bytes.size())));
        return;
    }
    // SetThumbnail finds nothing for an entry removed meanwhile.
    if (ok && m_list.SetThumbnail(id, std::move(image))) {
        emit thumbnailStored(id);
    } else {
        emit thumbnailFailed(id);
    }
}

}  // namespace kalidrome
