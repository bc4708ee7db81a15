#include "DesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace kalidrome::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// Long enough for a service the bus has to start first.
constexpr int kReplyTimeoutMs = 10000;

}  // namespace

DesktopNotifications::DesktopNotifications(QString appName, QString appIcon, QObject* parent)
    : QObject(parent), m_appName(std::move(appName)), m_appIcon(std::move(appIcon)) {}

void DesktopNotifications::send(const QString& title, const QString& text, Urgency urgency, Outcome done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const QString reason = bus.lastError().message();
        // Told from the event loop as an answer would be.
        QMetaObject::invokeMethod(this, [done, reason] { done(reason.isEmpty() ? QStringLiteral("no session bus") : reason); },
                                  Qt::QueuedConnection);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(urgency)));
    // Texts are plain: a file name with "<" or "&" in it is not markup.
    call << m_appName << uint(0) << m_appIcon << title << text.toHtmlEscaped() << QStringList() << hints
         << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [done](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        done(reply.isError() ? reply.error().name() + QStringLiteral(": ") + reply.error().message() : QString());
    });
}

}  // namespace kalidrome::platform
