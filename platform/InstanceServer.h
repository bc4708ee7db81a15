#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace kalidrome::platform {

// Listens on this instance's hand-off endpoint and reports every request received.
// Requests arrive through the event loop, so they are served also while a modal
// dialog runs its own loop.
class InstanceServer : public QObject {
    Q_OBJECT
public:
    explicit InstanceServer(QObject* parent = nullptr);
    ~InstanceServer() override;

    // Removes a stale endpoint of the same name first. Returns false when listening fails.
    bool listen(const QString& endpoint);
    QString endpoint() const;

signals:
    void requestReceived(int message);

private:
    void acceptPending();
    QLocalServer* m_server;
};

}  // namespace kalidrome::platform
