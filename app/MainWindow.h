#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <map>
#include <set>
#include <vector>
#include <string>

#include "Autostart.h"
#include "CycleEngine.h"
#include "CycleTimer.h"
#include "DefiniteDateScheduler.h"
#include "Desktop.h"
#include "IniFile.h"
#include "ListCommands.h"
#include "LocalClock.h"
#include "OptionState.h"
#include "QtTimer.h"
#include "Registry.h"
#include "StartupCheck.h"
#include "FolderBrowser.h"
#include "PreviewWindow.h"
#include "PreferencesDialog.h"
#include "TickCount.h"
#include "Translator.h"
#include "WallpaperChanger.h"
#include "WallpaperList.h"
#include "WindowPlacement.h"

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTimer;

namespace kalidrome {

class LanguageMenu;
class MainMenus;
class ThumbnailMaker;
class Notifier;
class TrayIcon;
class WallpaperListView;
namespace platform {
class InstanceServer;
}

// What program entry hands to the main window. The platform pieces left empty are made
// here with their real Linux implementations; tests pass fakes.
struct StartContext {
    std::string systemPath;      // ends with "/"
    std::string firstArgument;   // "" when the program got none
    const platform::TickSource* clock = nullptr;
    platform::Desktop* desktop = nullptr;
    platform::Registry* registry = nullptr;
    platform::Autostart* autostart = nullptr;
    const LocalClock* localClock = nullptr;
    // Already listening on this instance's endpoint (program entry listens before it
    // records the instance); outlives the window. Left empty, the window listens itself.
    platform::InstanceServer* instanceServer = nullptr;
    // Whether the session has a tray (program entry asks Qt). Without one the window shows
    // at start and its close button minimises it, so that the program can always be found.
    bool trayAvailable = true;
};

// The program's main window: the hub that owns the list, the options, the timers, the
// cycle engine and the hand-off endpoint, and wires commands, timers and requests to them.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* kHomePage = "https://kalidrome.github.io/";

    explicit MainWindow(const StartContext& context, QWidget* parent = nullptr);
    ~MainWindow() override;

    const std::string& systemPath() const { return m_systemPath; }
    IniFile& settingsIni() { return m_settingsIni; }
    IniFile& startupIni() { return m_startupIni; }
    WallpaperList& list() { return m_list; }
    OptionState& optionState() { return m_optionState; }
    CycleEngine& engine() { return m_engine; }
    CycleTimer& cycleTimer() { return m_cycleTimer; }
    MainMenus& menus() { return *m_menus; }
    WallpaperListView& listView() { return *m_view; }
    TrayIcon& trayIcon() { return *m_tray; }
    // Where messages to the user go (tray balloon, desktop notification, status line).
    Notifier& notifier() { return *m_notifier; }
    ThumbnailMaker& thumbnailMaker() { return *m_thumbnails; }
    ListCommands& listCommands() { return m_listCommands; }
    Translator& translator() { return m_translator; }
    LanguageMenu& languageMenu() { return *m_languageMenu; }
    // Makes the wallpaper changes off this thread, and the next picture ready ahead.
    WallpaperChanger& wallpaperChanger() { return *m_changer; }

    // Translates a window's fixed captions from a language file and makes the language
    // current: "MainForm" (this window) or "PreferencesForm" (the dialog given). False
    // when the language has no file.
    bool ApplyLanguage(const std::string& language, std::string_view windowName, QWidget* window);
    // The FileVersion of this program's own version record, read once at creation.
    const std::string& fileVersion() const { return m_fileVersion; }
    // "&About": the About box, modal.
    void aboutCommand();
    // A language was chosen: this instance closes for good, and program entry starts a
    // new one once the close and the exit bookkeeping are done.
    bool restartRequested() const { return m_restartRequested; }

    // Serves the requests of later starts: 3024 (show), 3025 (show with the screen-saver
    // preferences), 3026 (--next) and 3027 (--previous).
    void HandleAppMessage(int message);

    void showMainWindow();
    // The context menu's default item: stops the start-up timer, then shows or hides.
    void showOrHide();
    // Closes an open preferences dialog, then opens a new one on the given page, modally.
    void openPreferences(int page);
    PreferencesDialog* preferencesDialog() const { return m_preferences; }

    // "&Save FileList...": the save dialog, then SaveList on the chosen path.
    void saveListCommand();
    void loadListCommand();
    void addCommand();
    void addFolderCommand();
    // "&Preview": opens the preview window, or closes it when it is open.
    void previewCommand();
    // The open preview window, or nullptr.
    PreviewWindow* previewWindow() const { return m_preview; }
    void deleteSelectedCommand();
    void clearNonExistingCommand();
    void clearAllCommand();
    void editImageCommand();
    // "&Create Screensaver": installs the companion screen saver (again, over a copy that is
    // there) and says how that went.
    void createScreensaverCommand();
    void startWithWindowsCommand();
    // Runs the context menu's opening rules (also done whenever it opens).
    void prepareContextMenu();

    // A painted row has no thumbnail: lay the row out for one and start the job.
    void RequestThumbnail(EntryId id);

    // Makes the next close end the program instead of hiding the window.
    void setExitRequested(bool value) { m_exitRequested = value; }
    bool exitRequested() const { return m_exitRequested; }
    // Whether creation found the one-shot mode (and ran its cycle).
    bool oneShot() const { return m_closeImmediatelyAtStart; }

    // The exit bookkeeping: stops the heartbeat and marks Startup.ini as cleanly ended.
    // Runs once, at the latest when the window is destroyed.
    void goAway();

    // Heartbeat timer tick (public so that tests can step it).
    void tmrHeartbeat1Timer();

    // Whether a tray icon is there to bring the window back: the session has a tray and
    // "Show Tray" is on.
    bool trayIconShown() const;

    static constexpr std::string_view kNoTrayIconNotice =
        "Kalidrome keeps running without a tray icon. To show its window again, start Kalidrome once more or run "
        "\"kalidrome --show\".";

signals:
    // The window has closed for good; the program ends.
    void closedForGood();
    // A refused wallpaper change was told to the user in the tray (once per reason).
    void desktopFailureShown(const QString& reason);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    // Makes the window at least as wide as the menu bar's captions.
    void fitMenuBar();
    void wireCommands();
    void wireList();
    void publishInRegistry();
    void loadAtCreation();
    void askToSaveAfterFailedSave();
    void applyWallpaper(const std::string& path, std::function<void()> applied);
    // A picture per monitor: the monitors' shapes (learnt now, kept for the change that
    // follows), a picture's shape, and the change itself.
    std::vector<Shape> monitorShapes();
    Shape pictureShape(const TListItemInfo& entry);
    void applyWallpapers(const std::vector<std::string>& paths, std::function<void()> applied);
    // The outcome of a change, told as the change of one picture is.
    void wallpaperApplied(const WallpaperChanger::Outcome& o, const std::function<void()>& applied);
    render::WallpaperOptions wallpaperOptions() const;
    std::optional<WallpaperChanger::Upcoming> upcomingWallpaper();
    void reportError(const std::exception& error);
    // Out of sight as far as it can be found again: hidden with a tray icon, else minimised.
    void putAway();
    // Records where the window and its columns are (Settings.ini, section "Window").
    void rememberPlace();
    // A failure the user need not stop for: a line on standard error, unless a box has
    // told the same text already (an unreadable Settings.ini is said once, at the load).
    void noteError(const std::exception& error);

    std::string m_systemPath;
    std::string m_firstArgument;
    std::set<std::string> m_toldErrors;
    // Platform pieces: owned here unless the start context brought them.
    std::unique_ptr<platform::Desktop> m_ownDesktop;
    std::unique_ptr<platform::Registry> m_ownRegistry;
    std::unique_ptr<platform::Autostart> m_ownAutostart;
    std::unique_ptr<LocalClock> m_ownLocalClock;
    platform::Desktop& m_desktop;
    platform::Registry& m_registry;
    platform::Autostart& m_autostart;

    IniFile m_startupIni;
    IniFile m_settingsIni;
    Heartbeat m_heartbeat;
    Translator m_translator;
    WallpaperList m_list;
    OptionState m_optionState;

    MainMenus* m_menus;
    QLabel* m_lblThereAre1;
    QLabel* m_lblFiles1;
    QLabel* m_lblFilesListed1;
    WallpaperListView* m_view;
    QPushButton* m_btnAdd1;
    QPushButton* m_btnCycle1;
    ListCommands m_listCommands;
    TrayIcon* m_tray;
    Notifier* m_notifier;
    WallpaperChanger* m_changer;

    QtTimer m_tmrCycle1;
    QtTimer m_tmrStartup1;
    QtTimer m_tmrDefiniteDate1;
    QTimer* m_tmrHeartbeat1;
    CycleTimer m_cycleTimer;
    CycleEngine m_engine;
    // The monitors the last choice of a picture per monitor was made for.
    std::vector<platform::Monitor> m_monitors;
    // Shapes read from pictures' headers, for entries without a thumbnail.
    std::map<EntryId, Shape> m_pictureShapes;
    static constexpr int kHeaderReadsPerChange = 200;
    int m_headerReadsLeft = 0;
    DefiniteDateScheduler m_scheduler;
    ThumbnailMaker* m_thumbnails;
    platform::InstanceServer* m_instanceServer;
    QPointer<PreferencesDialog> m_preferences;
    QPointer<FolderBrowser> m_browser;
    QPointer<PreviewWindow> m_preview;
    LanguageMenu* m_languageMenu = nullptr;
    std::string m_fileVersion;
    bool m_restartRequested = false;

    // The save dialog's current file name: "Files.kdl" until the first save.
    QString m_saveDialogFileName = QStringLiteral("Files.kdl");
    bool m_closeImmediatelyAtStart = false;
    bool m_exitRequested = false;
    bool m_closingForGood = false;
    bool m_goneAway = false;
    bool m_trayAvailable = true;
    // Creation is over: from now on the tray icon going away is the user's doing.
    bool m_created = false;
    WindowPlacement m_placement{m_settingsIni};
};

}  // namespace kalidrome
