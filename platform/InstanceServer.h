#pragma once

#include <QLocalSocket>
#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>

class QLocalServer;

namespace kalidrome::platform {

// Listens on this instance's hand-off endpoint and reports every request received.
// Requests arrive through the event loop, so they are served also while a modal
// dialog runs its own loop.
//
// Listening and serving are two steps: program entry listens before it records the
// instance in Startup.ini, so that a later start that finds the record always finds the
// socket too; the main window serves once it is ready to act. Connections made in
// between wait in the socket's queue and are read when serving begins.
//
// A connection is kept for at most kIdleTimeoutMs (a request is one line, sent at once),
// and at most kMaxOpenConnections at a time: a new one beyond that closes the one kept
// longest, so idle connections cannot use up the descriptors nor shut requests out.
class InstanceServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kIdleTimeoutMs = 5000;
    static constexpr int kMaxOpenConnections = 64;

    explicit InstanceServer(QObject* parent = nullptr);
    ~InstanceServer() override;  // closes the endpoint and removes its socket file

    // Removes a stale endpoint of the same name first. Returns false when listening fails.
    bool listen(const QString& endpoint);
    QString endpoint() const;
    // Starts reading requests, beginning (from the event loop) with the ones that waited.
    void serve();

signals:
    void requestReceived(int message);

private:
    void acceptPending();
    QLocalServer* m_server;
    bool m_serving = false;
    std::deque<QPointer<QLocalSocket>> m_kept;  // connections open, the oldest first
};

}  // namespace kalidrome::platform
