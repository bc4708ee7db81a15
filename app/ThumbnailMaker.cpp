#include "ThumbnailMaker.h"

#include <QMetaObject>
#include <QPointer>

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
    const TListItemInfo* entry = m_list.find(id);
    if (!entry) return;
    std::lock_guard lock(m_mutex);
    if (!m_pending.insert(id).second) return;  // already on its way
    m_queue.push_back(Job{id, entry->FilePath});
    if (m_queue.size() > kMaxWaiting) {
        m_pending.erase(m_queue.front().id);
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
            image = m_make(job.path);
            ok = true;
        } catch (...) {
            // Missing, unreadable or corrupt: the row asks again at its next paint.
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
        }
        QMetaObject::invokeMethod(
            this, [this, id = job.id, ok, image = std::move(image)]() mutable { finished(id, ok, std::move(image)); },
            Qt::QueuedConnection);
    }
}

void ThumbnailMaker::finished(EntryId id, bool ok, JpegImage image) {
    {
        std::lock_guard lock(m_mutex);
        m_pending.erase(id);
    }
    // SetThumbnail finds nothing for an entry removed meanwhile.
    if (ok && m_list.SetThumbnail(id, std::move(image))) {
        emit thumbnailStored(id);
    } else {
        emit thumbnailFailed(id);
    }
}

}  // namespace kalidrome
