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
        // What came with the connection is read in any case: a request sent before the
        // sender closed is served even when the connection is not kept.
        readRequests();
        if (socket->state() == QLocalSocket::UnconnectedState || m_open >= kMaxOpenConnections) {
            // Ended already (it waited for serve()), or too many are open: not kept.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, readRequests);
        // A sender writes its one line at once; one that stays silent is let go.
        QTimer::singleShot(kIdleTimeoutMs, socket, [socket] { socket->abort(); });
    }
}

}  // namespace kalidrome::platform
