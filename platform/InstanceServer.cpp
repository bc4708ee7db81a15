#include "InstanceServer.h"

#include <QLocalServer>
#include <QLocalSocket>

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
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto readRequests = [this, socket] {
            while (socket->canReadLine()) {
                int message = DecodeInstanceRequest(socket->readLine(kMaxRequestBytes).toStdString());
                if (message != 0) emit requestReceived(message);
            }
            if (socket->bytesAvailable() > kMaxRequestBytes) socket->abort();
        };
        connect(socket, &QLocalSocket::readyRead, this, readRequests);
        readRequests();
        // A connection that waited for serve() may have ended already; its request is
        // read from what it left in the buffer.
        if (socket->state() == QLocalSocket::UnconnectedState) socket->deleteLater();
    }
}

}  // namespace kalidrome::platform
