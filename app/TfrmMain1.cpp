#include "TfrmMain1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <cstdio>

#include "InstanceChannel.h"
#include "InstanceServer.h"
#include "MessageBox.h"
#include "ProcessInfo.h"
#include "Settings.h"
#include "TfrmOptions1.h"
#include "Trace.h"

namespace kalidrome {

using namespace settings;

TfrmMain1::TfrmMain1(const StartContext& context, QWidget* parent)
    : QMainWindow(parent),
      m_systemPath(context.systemPath),
      m_firstArgument(context.firstArgument),
      m_startupIni(m_systemPath + std::string(kStartupFile)),
      m_settingsIni(m_systemPath + std::string(kSettingsFile)),
      m_heartbeat(m_startupIni, m_settingsIni, *context.clock),
      m_tmrHeartbeat1(new QTimer(this)),
      m_instanceServer(new platform::InstanceServer(this)) {
    setObjectName("frmMain1");
    setWindowTitle("Kalidrome");
    resize(290, 428);
    setMinimumSize(290, 355);
    setWindowFlags(windowFlags() & ~Qt::WindowMinimizeButtonHint);

    // The last sign of life before the heartbeat takes over.
    m_heartbeat.stamp();

    const bool settingsExisted = platform::FileExists(m_settingsIni.path());
    m_closeImmediatelyAtStart =
        m_settingsIni.readBool(kCloseImmediately.section, kCloseImmediately.key, kCloseImmediately.atLoad);

    // Later starts reach this instance here.
    connect(m_instanceServer, &platform::InstanceServer::requestReceived, this, &TfrmMain1::HandleAppMessage);
    const std::string endpoint = platform::InstanceEndpoint(m_systemPath, platform::CurrentHandle());
    if (!m_instanceServer->listen(QString::fromStdString(endpoint)))
        std::fprintf(stderr, "kalidrome: cannot listen for later starts at %s\n", endpoint.c_str());

    // The marker exists exactly when the option is on.
    const std::string marker = m_systemPath + std::string(kOneShotMarker);
    if (!m_settingsIni.readBool(kCloseImmediately.section, kCloseImmediately.key, kCloseImmediately.atLoad))
        std::remove(marker.c_str());
    if (!platform::FileExists(marker))
        m_settingsIni.writeBool(kCloseImmediately.section, kCloseImmediately.key, false);

    m_tmrHeartbeat1->setInterval(1000);
    connect(m_tmrHeartbeat1, &QTimer::timeout, this, &TfrmMain1::tmrHeartbeat1Timer);
    m_tmrHeartbeat1->start();

    if (m_closeImmediatelyAtStart) return;  // the one-shot run stays hidden

    if (!settingsExisted || m_firstArgument == "/c") {
        showMainWindow();
        if (m_firstArgument == "/c")
            QTimer::singleShot(0, this, [this] { openPreferences(1); });
    }
}

TfrmMain1::~TfrmMain1() { goAway(); }

void TfrmMain1::goAway() {
    if (m_goneAway) return;
    m_goneAway = true;
    m_tmrHeartbeat1->stop();
    try {
        RecordCleanExit(m_startupIni);
    } catch (const IniWriteError& e) {
        std::fprintf(stderr, "kalidrome: %s\n", e.what());
    }
    ui::TraceEvent("exit");
}

void TfrmMain1::tmrHeartbeat1Timer() { m_heartbeat.tick(); }

void TfrmMain1::HandleAppMessage(int message) {
    if (message == platform::kRequestShow) {
        ui::TraceEvent("request 3024");
        showMainWindow();
    } else if (message == platform::kRequestShowScreensaver) {
        ui::TraceEvent("request 3025");
        showMainWindow();
        // Opened from the event loop, not from inside the socket's notification.
        QTimer::singleShot(0, this, [this] { openPreferences(1); });
    }
}

void TfrmMain1::showMainWindow() {
    show();
    raise();
    activateWindow();
}

void TfrmMain1::openPreferences(int page) {
    if (m_preferences) m_preferences->reject();
    auto* dialog = new TfrmOptions1(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->selectPage(page);
    m_preferences = dialog;
    ui::TraceEvent(("preferences " + std::to_string(page)).c_str());
    dialog->exec();
}

void TfrmMain1::closeEvent(QCloseEvent* event) {
    const bool ctrlHeld = QApplication::queryKeyboardModifiers() & Qt::ControlModifier;
    if (m_exitRequested || ctrlHeld) {
        const std::string wallpaper = m_systemPath + std::string(kWallpaperFile);
        std::remove(wallpaper.c_str());
        event->accept();
        emit closedForGood();
        return;
    }
    event->ignore();
    hide();
}

void TfrmMain1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    ui::TraceEvent("shown");
}

void TfrmMain1::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    ui::TraceEvent("hidden");
}

}  // namespace kalidrome
