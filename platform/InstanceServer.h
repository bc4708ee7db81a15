#pragma once

#include <QObject>
#include <QString>

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
// and at most kMaxOpenConnections are kept at a time; others are read for what they
// already sent and closed, so idle connections cannot use up the descriptors.
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
    int m_open = 0;  // connections kept open
};

}  // namespace kalidrome::platform
