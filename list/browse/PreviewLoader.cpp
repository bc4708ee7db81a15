#include "PreviewLoader.h"

#include <QMetaObject>
#include <QThreadPool>
#include <algorithm>
#include <mutex>
#include <optional>

#include "PictureLoader.h"
#include "Scale.h"

namespace kalidrome {

namespace {

struct Request {
    unsigned number;
    std::string path;
    QSize largest;
};

QImage DecodeForPreview(const Request& r) {
    render::Image picture = render::LoadPicture(r.path);
    const int width = std::clamp(r.largest.width(), 1, static_cast<int>(picture.width()));
    const int height = std::clamp(r.largest.height(), 1, static_cast<int>(picture.height()));
    if (width != picture.width() || height != picture.height())
        picture = render::ScaleAreaAverage(picture, width, height);
    // Our rows are blue, green, red, padded to four bytes: QImage's BGR888 with that stride.
    return QImage(picture.data(), picture.width(), picture.height(), static_cast<qsizetype>(picture.stride()),
                  QImage::Format_BGR888)
        .copy();
}

}  // namespace

struct PreviewLoader::Shared {
    std::mutex mutex;
    PreviewLoader* owner = nullptr;  // none once the loader is gone
    std::optional<Request> waiting;
    bool running = false;

    // One worker at a time takes the waiting requests until none is left.
    static void Work(const std::shared_ptr<Shared>& self) {
        for (;;) {
            Request r;
            {
                std::lock_guard lock(self->mutex);
                if (!self->waiting || !self->owner) {
                    self->running = false;
                    return;
                }
                r = std::move(*self->waiting);
                self->waiting.reset();
            }
            QImage picture;
            QString message;
            try {
                picture = DecodeForPreview(r);
            } catch (const std::exception& e) {
                message = QString::fromStdString(e.what());
                if (message.isEmpty()) message = QStringLiteral("The picture could not be read.");
            }
            std::lock_guard lock(self->mutex);
            // Posted under the lock, so the owner cannot go away in between; a loader
            // destroyed after this drops the posted call with its other events.
            if (!self->owner) continue;
            PreviewLoader* owner = self->owner;
            const QString path = QString::fromStdString(r.path);
            const unsigned number = r.number;
            if (message.isEmpty()) {
                QMetaObject::invokeMethod(
                    owner, [owner, number, path, picture] {
                        if (number == owner->m_newest) emit owner->loaded(number, path, picture);
                    },
                    Qt::QueuedConnection);
            } else {
                QMetaObject::invokeMethod(
                    owner, [owner, number, path, message] {
                        if (number == owner->m_newest) emit owner->failed(number, path, message);
                    },
                    Qt::QueuedConnection);
            }
        }
    }
};

PreviewLoader::PreviewLoader(QObject* parent) : QObject(parent), m_shared(std::make_shared<Shared>()) {
    m_shared->owner = this;
}

PreviewLoader::~PreviewLoader() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->waiting.reset();
}

unsigned PreviewLoader::request(const std::string& path, QSize largest) {
    const unsigned number = ++m_newest;
    std::lock_guard lock(m_shared->mutex);
    m_shared->waiting = Request{number, path, largest};
    if (!m_shared->running) {
        m_shared->running = true;
        QThreadPool::globalInstance()->start([shared = m_shared] { Shared::Work(shared); });
    }
    return number;
}

}  // namespace kalidrome
