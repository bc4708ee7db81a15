#include "TrayIcon.h"

#include <QGuiApplication>
#include <QMenu>
#include <QTimer>
#include <memory>
#include <string>

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
    // The balloon points at the icon, so it waits until the tray host has placed the icon
    // (it embeds it from the event loop, some time after the start). A host that never
    // tells where the icon is (a StatusNotifierItem host shows messages its own way) gets
    // the message after a few seconds all the same.
    auto* wait = new QTimer(this);
    wait->setInterval(50);
    auto tries = std::make_shared<int>(0);
    connect(wait, &QTimer::timeout, this, [this, wait, tries, title, text] {
        const QRect at = m_icon.geometry();
        if (at.isEmpty() && QSystemTrayIcon::isSystemTrayAvailable() && ++*tries < kWelcomeWaitTicks) return;
        wait->deleteLater();
        wait->stop();
        const std::string where = "welcome " + std::to_string(at.center().x()) + "," + std::to_string(at.center().y());
        ui::TraceEvent(at.isEmpty() ? "welcome" : where.c_str());
        showMessage(title, text);
    });
    wait->start();
}

}  // namespace kalidrome
