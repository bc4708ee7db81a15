#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <string>
#include <string_view>

class QMenu;

namespace kalidrome {

// The notification-area icon. Its menu is the window's context menu. A click with Ctrl
// held cycles, with Alt held goes back to the previous picture; a double-click shows or
// hides the window.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(const QIcon& icon, QMenu* menu, QObject* parent = nullptr);

    void setShown(bool shown);
    bool shown() const;
    QSystemTrayIcon& icon() { return m_icon; }

    // One press on the icon with these modifiers (public so that tests can press it).
    void pressed(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers);

    // A message from the icon; messageShown tells of it.
    void showMessage(const QString& title, const QString& text,
                     QSystemTrayIcon::MessageIcon kind = QSystemTrayIcon::Information);
    // The very first start's message: where the program is and how to open it. The
    // texts pass through translate (section "MainForm"). Shown once the tray host has
    // placed the icon, or after kWelcomeWaitTicks x 50 ms without a place.
    void showWelcome(const std::function<std::string(std::string_view)>& translate);

    static constexpr int kWelcomeWaitTicks = 60;
    static constexpr std::string_view kWelcomeTitle = "Kalidrome is running";
    static constexpr std::string_view kWelcomeText =
        "Kalidrome lives here, in the tray. Double-click this icon to show or hide its window, "
        "right-click it for the menu.";

signals:
    void cycleRequested();
    void previousRequested();
    void showHideRequested();
    void messageShown(const QString& title, const QString& text);

private:
    QSystemTrayIcon m_icon;
};

}  // namespace kalidrome
