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

signals:
    void cycleRequested();
    void previousRequested();
    void showHideRequested();

private:
    QSystemTrayIcon m_icon;
};

}  // namespace kalidrome
