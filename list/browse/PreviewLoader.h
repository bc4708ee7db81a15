#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <memory>
#include <string>

namespace kalidrome {

// Decodes pictures for the preview window away from the user-interface thread. Only the
// newest request counts: one that arrives while a picture is decoding replaces any request
// still waiting, and results of requests made before the newest are not reported, so a
// selection running quickly over a list of 24-megapixel photos decodes at most two of them
// and shows the last. Pictures larger than the given size are scaled down to it on the
// worker (the window stretches them anyway). The loader may be destroyed in mid-decode:
// the worker finishes on its own and reports nothing.
class PreviewLoader : public QObject {
    Q_OBJECT
public:
    explicit PreviewLoader(QObject* parent = nullptr);
    ~PreviewLoader() override;

    // Returns the request's number; the answer comes as loaded or failed with it.
    unsigned request(const std::string& path, QSize largest);
    unsigned newest() const { return m_newest; }

signals:
    void loaded(unsigned number, const QString& path, const QImage& picture);
    // message: the decoder's own words.
    void failed(unsigned number, const QString& path, const QString& message);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    unsigned m_newest = 0;
};

}  // namespace kalidrome
