#pragma once

#include <QObject>
#include <QSystemTrayIcon>

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

    // A balloon from the icon; messageShown tells of it. Other code tells the user through
    // Notifier, which uses this where a tray shows the icon.
    void showMessage(const QString& title, const QString& text,
                     QSystemTrayIcon::MessageIcon kind = QSystemTrayIcon::Information);

signals:
    void cycleRequested();
    void previousRequested();
    void showHideRequested();
    void messageShown(const QString& title, const QString& text);

private:
    QSystemTrayIcon m_icon;
};

}  // namespace kalidrome
