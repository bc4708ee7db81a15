#include "TrayIcon.h"

#include <QGuiApplication>
#include <QMenu>
#include <QTimer>

#include "Trace.h"

namespace kalidrome {

TrayIcon::TrayIcon(const QIcon& icon, QMenu* menu, QObject* parent) : QObject(parent), m_icon(icon) {
    m_icon.setObjectName("TrayIcon1");
    m_icon.setContextMenu(menu);
    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        pressed(reason, QGuiApplication::queryKeyboardModifiers());
    });
}

void TrayIcon::setShown(bool shown) { m_icon.setVisible(shown); }

bool TrayIcon::shown() const { return m_icon.isVisible(); }

void TrayIcon::pressed(QSystemTrayIcon::ActivationReason reason, Qt::KeyboardModifiers modifiers) {
    // Modifier clicks act on every press, before the menu or the double-click.
    if (modifiers & Qt::ControlModifier) emit cycleRequested();
    if (modifiers & Qt::AltModifier) emit previousRequested();
    if (reason == QSystemTrayIcon::DoubleClick) emit showHideRequested();
}

void TrayIcon::showMessage(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon kind) {
    m_icon.showMessage(title, text, kind);
    emit messageShown(title, text);
}

void TrayIcon::showWelcome(const std::function<std::string(std::string_view)>& translate) {
    const QString title = QString::fromStdString(translate(kWelcomeTitle));
    const QString text = QString::fromStdString(translate(kWelcomeText));
    // Once the program runs: the tray host embeds the icon from the event loop.
    QTimer::singleShot(0, this, [this, title, text] {
        ui::TraceEvent("welcome");
        showMessage(title, text);
    });
}

}  // namespace kalidrome
