#include "InstanceServer.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include "InstanceChannel.h"

namespace kalidrome::platform {

namespace {
// A request is one short line; anything longer is not ours.
constexpr qint64 kMaxRequestBytes = 64;
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
}

InstanceServer::~InstanceServer() { m_server->close(); }

bool InstanceServer::listen(const QString& endpoint) {
    QLocalServer::removeServer(endpoint);
    return m_server->listen(endpoint);
}

QString InstanceServer::endpoint() const { return m_server->fullServerName(); }

void InstanceServer::serve() {
    if (m_serving) return;
    m_serving = true;
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::acceptPending);
    // Queued: whoever calls serve() finishes what it is doing before the first request.
    QMetaObject::invokeMethod(this, [this] { acceptPending(); }, Qt::QueuedConnection);
}

void InstanceServer::acceptPending() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        auto readRequests = [this, socket] {
            while (socket->canReadLine()) {
                int message = DecodeInstanceRequest(socket->readLine(kMaxRequestBytes).toStdString());
                if (message != 0) emit requestReceived(message);
            }
            if (socket->bytesAvailable() > kMaxRequestBytes) socket->abort();
        };
        readRequests();
        if (socket->state() == QLocalSocket::UnconnectedState) {
            // It waited for serve() and has ended; its request was read from what it left.
            socket->deleteLater();
            continue;
        }
        // Too many open: the one kept longest makes room (a sender writes its line at once,
        // so that one is idle), and the new one, perhaps a request, is served.
        while (m_kept.size() >= static_cast<std::size_t>(kMaxOpenConnections)) {
            QPointer<QLocalSocket> oldest = m_kept.front();
            m_kept.pop_front();
            if (oldest) oldest->abort();
        }
        m_kept.emplace_back(socket);
        connect(socket, &QObject::destroyed, this, [this] {
            // Forget the entries of sockets gone (a QPointer in the list reads as null).
            while (!m_kept.empty() && !m_kept.front()) m_kept.pop_front();
            std::erase_if(m_kept, [](const QPointer<QLocalSocket>& p) { return p.isNull(); });
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, readRequests);
        // A sender writes its one line at once; one that stays silent is let go.
        QTimer::singleShot(kIdleTimeoutMs, socket, [socket] { socket->abort(); });
    }
}

}  // namespace kalidrome::platform
