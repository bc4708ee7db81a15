#include "TrayIcon.h"

#include <QGuiApplication>
#include <QMenu>

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

}  // namespace kalidrome
