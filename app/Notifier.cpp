#include "Notifier.h"

#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QResizeEvent>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <string>

#include "DesktopNotifications.h"
#include "Trace.h"
#include "TrayIcon.h"

namespace kalidrome {

namespace {

// The status line's message: whole, wrapped onto as many lines as it needs at the window's
// width (the status bar's own message is one line, cut at the window's edge). The bar takes
// its height from its widgets' least heights, so the label asks for the height its text
// needs at the width it was given.
class StatusLineLabel : public QLabel {
public:
    explicit StatusLineLabel(QWidget* parent) : QLabel(parent) {
        setObjectName(QStringLiteral("statusLine"));
        setWordWrap(true);
        setTextFormat(Qt::PlainText);
        setTextInteractionFlags(Qt::TextSelectableByMouse);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

    void say(const QString& line) {
        setText(line);
        setToolTip(line);
        fitHeight();
    }

    // The height comes from the width the label is given (fitHeight), never from a word-wrapped
    // label's own guess at a narrow width, which would make the window grow.
    QSize minimumSizeHint() const override { return {0, minimumHeight()}; }
    QSize sizeHint() const override { return {0, minimumHeight()}; }
    bool hasHeightForWidth() const override { return false; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        fitHeight();
    }
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) fitHeight();
    }

private:
    void fitHeight() {
        // Before the bar has laid the label out, its width is a default and the bar may not be
        // laid out either: the window's width is closer. Too wide a guess errs on the short
        // side, and the resize that follows asks again.
        const int room = isVisible() ? width() : window()->width();
        const int needed = text().isEmpty() ? 0 : heightForWidth(qMax(room, 1));
        if (needed != minimumHeight()) setMinimumHeight(needed);
    }
};

platform::DesktopNotifications::Urgency UrgencyOf(QSystemTrayIcon::MessageIcon kind) {
    return kind == QSystemTrayIcon::Critical ? platform::DesktopNotifications::Urgency::Critical
                                             : platform::DesktopNotifications::Urgency::Normal;
}

}  // namespace

Notifier::Notifier(TrayIcon& tray, QMainWindow& window, bool trayAvailable, Translate translate, QObject* parent)
    : QObject(parent),
      m_tray(tray),
      m_window(window),
      m_trayAvailable(trayAvailable),
      m_translate(std::move(translate)),
      m_notifications(new platform::DesktopNotifications(QStringLiteral("Kalidrome"),
                                                         QStringLiteral("io.github.kalidrome.Kalidrome"), this)) {
}

Notifier::~Notifier() = default;

Notifier::Route Notifier::route() const {
    // A tray that takes the icon but shows no messages counts as none.
    if (m_trayAvailable && m_tray.shown() && QSystemTrayIcon::supportsMessages()) return Route::TrayBalloon;
    return Route::DesktopNotification;
}

void Notifier::tell(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon kind) {
    if (route() == Route::TrayBalloon) {
        m_tray.showMessage(title, text, kind);
        emit told(Route::TrayBalloon, title, text);
        return;
    }
    m_notifications->send(title, text, UrgencyOf(kind), [this, title, text](const QString& failure) {
        if (failure.isEmpty()) {
            ui::TraceEvent("notified");
            emit told(Route::DesktopNotification, title, text);
        } else {
            ui::TraceEvent(("no notification service: " + failure.toStdString()).c_str());
            tellOnStatusLine(title, text);
        }
    });
}

void Notifier::tellOnStatusLine(const QString& title, const QString& text) {
    // "The wallpaper could not be changed: <reason>", "Kalidrome is running: <hint>".
    const bool titleEndsASentence = !title.isEmpty() && title.back().isPunct();
    const QString line = title + (titleEndsASentence ? QStringLiteral(" ") : QStringLiteral(": ")) + text;
    if (!m_statusLine) {
        m_statusLine = new StatusLineLabel(m_window.statusBar());
        m_window.statusBar()->addWidget(m_statusLine, 1);
    }
    static_cast<StatusLineLabel*>(m_statusLine.data())->say(line);
    std::fprintf(stderr, "kalidrome: %s\n", line.toLocal8Bit().constData());
    emit told(Route::StatusLine, title, text);
}

QString Notifier::translated(std::string_view text) const { return QString::fromStdString(m_translate(text)); }

bool Notifier::wallpaperChanged(const std::string& failureReason) {
    if (!m_desktopNotice.report(failureReason)) return false;
    ui::TraceEvent(("desktop refused " + failureReason).c_str());
    // The program's own reasons (a picture missing or too large, a full disk) are translated;
    // a desktop's own words are in no language file and stay as they are.
    tell(translated(kFailureTitle), translated(failureReason), QSystemTrayIcon::Warning);
    return true;
}

void Notifier::tellWelcome() {
    if (route() != Route::TrayBalloon) {
        ui::TraceEvent("welcome");
        tell(translated(kWelcomeTitle), translated(kWelcomeTextNoTray));
        return;
    }
    // The balloon points at the icon, so it waits until the tray host has placed the icon
    // (it embeds it from the event loop, some time after the start). A host that never says
    // where the icon is gets the message after a few seconds all the same.
    auto* wait = new QTimer(this);
    wait->setInterval(kWelcomePollMs);
    connect(wait, &QTimer::timeout, this, [this, wait, tries = 0]() mutable {
        const QRect at = m_tray.icon().geometry();
        if (at.isEmpty() && QSystemTrayIcon::isSystemTrayAvailable() && ++tries < kWelcomeWaitPolls) return;
        wait->stop();
        wait->deleteLater();
        const std::string where = "welcome " + std::to_string(at.center().x()) + "," + std::to_string(at.center().y());
        ui::TraceEvent(at.isEmpty() ? "welcome" : where.c_str());
        tell(translated(kWelcomeTitle), translated(kWelcomeText));
    });
    wait->start();
}

}  // namespace kalidrome
