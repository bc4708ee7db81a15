#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace kalidrome::platform {

// The session's notification service: org.freedesktop.Notifications on the session bus, as
// GNOME Shell, Plasma, XFCE's and MATE's notification daemons, dunst and mako offer it. A
// message sent here shows as a desktop notification where the program has no tray icon to
// show it beside.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    enum class Urgency { Low = 0, Normal = 1, Critical = 2 };

    // appName and appIcon go with every notification (the icon as a theme name or path).
    DesktopNotifications(QString appName, QString appIcon, QObject* parent = nullptr);

    // What became of one notification: an empty reason when the service took it, else why
    // none did (no session bus, no service, or it answered with an error).
    using Outcome = std::function<void(const QString& failureReason)>;

    // Sends one notification and returns at once; done is called from the event loop once
    // the service has answered (never after this object is gone). The bus starts a service
    // that is installed but not yet running.
    void send(const QString& title, const QString& text, Urgency urgency, Outcome done);

private:
    QString m_appName;
    QString m_appIcon;
};

}  // namespace kalidrome::platform
