#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <string>

#include "IniFile.h"
#include "StartupCheck.h"
#include "TfrmOptions1.h"
#include "TickCount.h"

class QTimer;

namespace kalidrome {

namespace platform {
class InstanceServer;
}

// What program entry hands to the main window.
struct StartContext {
    std::string systemPath;      // ends with "/"
    std::string firstArgument;   // "" when the program got none
    const platform::TickSource* clock = nullptr;
};

// The program's main window: the hub that owns the settings handles, the timers and
// the hand-off endpoint, and offers the operations commands and requests call.
class TfrmMain1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain1(const StartContext& context, QWidget* parent = nullptr);
    ~TfrmMain1() override;

    const std::string& systemPath() const { return m_systemPath; }
    IniFile& settingsIni() { return m_settingsIni; }
    IniFile& startupIni() { return m_startupIni; }

    // Serves the hand-off requests 3024 and 3025 of later starts.
    void HandleAppMessage(int message);

    void showMainWindow();
    // Closes an open preferences dialog, then opens a new one on the given page, modally.
    void openPreferences(int page);
    TfrmOptions1* preferencesDialog() const { return m_preferences; }

    // Makes the next close end the program instead of hiding the window.
    void setExitRequested(bool value) { m_exitRequested = value; }
    bool exitRequested() const { return m_exitRequested; }

    // The exit bookkeeping: stops the heartbeat and marks Startup.ini as cleanly ended.
    // Runs once, at the latest when the window is destroyed.
    void goAway();

    // Heartbeat timer tick (public so that tests can step it).
    void tmrHeartbeat1Timer();

signals:
    // The window has closed for good; the program ends.
    void closedForGood();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::string m_systemPath;
    std::string m_firstArgument;
    IniFile m_startupIni;
    IniFile m_settingsIni;
    Heartbeat m_heartbeat;
    QTimer* m_tmrHeartbeat1;
    platform::InstanceServer* m_instanceServer;
    QPointer<TfrmOptions1> m_preferences;
    bool m_closeImmediatelyAtStart = false;
    bool m_exitRequested = false;
    bool m_goneAway = false;
};

}  // namespace kalidrome
