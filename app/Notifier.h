#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <string>
#include <string_view>

#include "DesktopNotice.h"

class QLabel;
class QMainWindow;

namespace kalidrome {

namespace platform {
class DesktopNotifications;
}
class TrayIcon;

// The one way the program tells the user something that needs no answer: a refused wallpaper
// change, a picture that cannot be shown, the first start's hint. Where a tray shows the
// program's icon, the icon's balloon; where none does (stock GNOME, a bare window manager),
// a desktop notification through the session's notification service; where there is no such
// service either, the main window's status line and stderr.
class Notifier : public QObject {
    Q_OBJECT
public:
    enum class Route { TrayBalloon, DesktopNotification, StatusLine };
    using Translate = std::function<std::string(std::string_view)>;

    // trayAvailable: whether the session has a tray (program entry asks Qt once). translate
    // gives the texts in the user's language (section "MainForm").
    Notifier(TrayIcon& tray, QMainWindow& window, bool trayAvailable, Translate translate, QObject* parent = nullptr);
    ~Notifier() override;

    // Tells title and text the user by the first route that can show them.
    void tell(const QString& title, const QString& text,
              QSystemTrayIcon::MessageIcon kind = QSystemTrayIcon::Information);

    // The outcome of one wallpaper change: an empty reason for one that worked. A failure
    // is told under "The wallpaper could not be changed:", once per reason (DesktopNotice).
    // Returns whether it was told now.
    bool wallpaperChanged(const std::string& failureReason);

    // The very first start's hint: where the program lives and how to open it. In a tray's
    // balloon it waits until the tray host has placed the icon (at most kWelcomeWaitPolls
    // times kWelcomePollMs), so that the balloon points at it.
    void tellWelcome();
    static constexpr int kWelcomePollMs = 50;
    static constexpr int kWelcomeWaitPolls = 60;

    // The route a message takes now, before the notification service has had its say.
    Route route() const;

    static constexpr std::string_view kWelcomeTitle = "Kalidrome is running";
    static constexpr std::string_view kWelcomeText =
        "Kalidrome lives here, in the tray. Double-click this icon to show or hide its window, "
        "right-click it for the menu.";
    static constexpr std::string_view kWelcomeTextNoTray =
        "This desktop shows no tray icons, so the Kalidrome window stays open: closing it minimises it. "
        "Use Close in its File menu to end Kalidrome.";
    static constexpr std::string_view kFailureTitle = "The wallpaper could not be changed:";

signals:
    // A message reached the user by this route.
    void told(Route route, const QString& title, const QString& text);

private:
    void tellOnStatusLine(const QString& title, const QString& text);
    QString translated(std::string_view text) const;

    TrayIcon& m_tray;
    QMainWindow& m_window;
    bool m_trayAvailable;
    Translate m_translate;
    DesktopNotice m_desktopNotice;
    platform::DesktopNotifications* m_notifications;
    QPointer<QLabel> m_statusLine;  // made at the first message for the status line
};

}  // namespace kalidrome
