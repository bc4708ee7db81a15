#pragma once

#include <QObject>

class QSocketNotifier;

namespace kalidrome::platform {

// Turns SIGTERM, SIGINT and SIGHUP (a logout, a kill, Ctrl+C) into a Qt signal, so that
// the program ends through its ordinary exit path and records a clean end.
class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;

signals:
    void terminationRequested();

private:
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace kalidrome::platform
