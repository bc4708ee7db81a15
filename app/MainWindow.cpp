#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>
#include <thread>

#include "AboutDialog.h"
#include "AtomicFile.h"
#include "AppIcon.h"
#include "ApplyLanguage.h"
#include "FileDialogs.h"
#include "IniRegistry.h"
#include "InstanceChannel.h"
#include "InstanceServer.h"
#include "LanguageMenu.h"
#include "MainMenus.h"
#include "MessageBox.h"
#include "PreferencesLink.h"
#include "ProcessInfo.h"
#include "ScreensaverInstaller.h"
#include "Settings.h"
#include "Shell.h"
#include "ThumbnailMaker.h"
#include "Thumbnail.h"
#include "Trace.h"
#include "Notifier.h"
#include "PictureLoader.h"
#include "ToolkitMonitors.h"
#include "TrayIcon.h"
#include "Wallpaper.h"
#include "WallpaperListView.h"
#include "AtLeast.h"
#include "WindowFont.h"

namespace kalidrome {

using namespace settings;

namespace {

template <typename T, typename Make>
T& Provided(T* given, std::unique_ptr<T>& own, Make make) {
    if (given) return *given;
    own = make();
    return *own;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

JpegImage MakeThumbnail(const std::string& path, std::int32_t box) {
    render::EncodedThumbnail t = render::MakeThumbnailFromFile(path, box);
    return JpegImage{std::move(t.jpeg), t.width, t.height};
}

}  // namespace

MainWindow::MainWindow(const StartContext& context, QWidget* parent)
    : QMainWindow(parent),
      m_systemPath(context.systemPath),
      m_firstArgument(context.firstArgument),
      m_desktop(Provided(context.desktop, m_ownDesktop, [] { return platform::CreateDesktop(ToolkitMonitors()); })),
      m_registry(Provided(context.registry, m_ownRegistry,
                          [] { return std::make_unique<platform::IniRegistry>(platform::IniRegistry::DefaultPath()); })),
      m_autostart(Provided(context.autostart, m_ownAutostart, [] { return std::make_unique<platform::XdgAutostart>(); })),
      m_startupIni(m_systemPath + std::string(kStartupFile)),
      m_settingsIni(m_systemPath + std::string(kSettingsFile)),
      m_heartbeat(m_startupIni, m_settingsIni, *context.clock),
      m_translator(m_systemPath),
      m_optionState(m_settingsIni, m_list, m_systemPath,
                    OptionState::Hooks{
                        [this](bool v) {
                            m_menus->actDisableCycling1->setChecked(v);
                            m_cycleTimer.SetRunning(!v);
                            if (m_changer) m_changer->invalidate();  // options are being applied
                        },
                        [this](bool v) {
                            const bool wasShown = trayIconShown();
                            m_menus->actShowTray1->setChecked(v);
                            m_tray->setShown(v);
                            // Without the icon only a second start brings a hidden window
                            // back: say so, once, from the event loop.
                            if (m_created && wasShown && !trayIconShown())
                                QTimer::singleShot(0, this, [this] {
                                    ui::TraceEvent("told how to show");
                                    ui::ShowInformation(isVisible() ? this : nullptr,
                                                        QString::fromStdString(m_translator.Translate(kNoTrayIconNotice, "MainForm")));
                                });
                        },
                        [this](std::int32_t seconds) { m_cycleTimer.SetCountdown(seconds); },
                        [this](bool disableCycling) { m_cycleTimer.StartStartupTimerAfterLoad(disableCycling); },
                        [this] { m_listCommands.RefreshListCommands(ListOccasion::Loaded); },
                        [this] { return windowTitle().toStdString(); },
                        [this](const std::string& title) {
                            setWindowTitle(QString::fromStdString(title));
                            repaint();
                        },
                        [this](std::string_view text) { return m_translator.Translate(text, "MainForm"); },
                    }),
      m_menus(new MainMenus(this)),
      m_lblThereAre1(new QLabel(QStringLiteral("There are "))),
      m_lblFiles1(new QLabel(QStringLiteral("0"))),
      m_lblFilesListed1(new QLabel(QStringLiteral(" files listed:"))),
      m_view(new WallpaperListView(m_list)),
      m_btnAdd1(new platform::AtLeast<QPushButton>(QSize(69, 21), QStringLiteral("&Add"))),
      m_btnCycle1(new platform::AtLeast<QPushButton>(QSize(69, 21), QStringLiteral("&Cycle!"))),
      m_listCommands(m_list, *m_menus, *m_lblFiles1, *m_btnCycle1),
      m_tray(nullptr),
      m_notifier(nullptr),
      m_changer(new WallpaperChanger(m_systemPath, m_desktop, m_registry, this)),
      m_tmrCycle1(CycleTimer::kCycleTimerMs),
      m_tmrStartup1(CycleTimer::kStartupTimerMs),
      m_tmrDefiniteDate1(DefiniteDateScheduler::kCheckPeriodMs),
      m_tmrHeartbeat1(new QTimer(this)),
      m_cycleTimer(m_tmrCycle1, m_tmrStartup1,
                   CycleTimer::Hooks{
                       [this] { m_engine.CycleNow(); },
                       [this] { return m_optionState.options().Interval; },
                       [this](const std::string& title) { setWindowTitle(QString::fromStdString(title)); },
                       [this](std::int32_t seconds) {
                           if (m_preferences) m_preferences->showCountdown(seconds);
                       },
                       [this](std::string_view text, std::string_view section) {
                           return m_translator.Translate(text, section);
                       },
                   }),
      m_engine(m_list, m_optionState.options(),
               CycleEngine::Hooks{
                   [this](const std::string& path, std::function<void()> applied) {
                       applyWallpaper(path, std::move(applied));
                   },
                   [] { QCoreApplication::processEvents(); },
                   [this] { m_cycleTimer.StopStartupTimer(); },
                   [this] { m_listCommands.RefreshListCommands(ListOccasion::Removed); },
                   {},
                   [this](bool enabled) { m_menus->actCycle1->setEnabled(enabled); },
                   [this](bool enabled) { m_menus->actPrevious1->setEnabled(enabled); },
               }),
      m_scheduler(m_settingsIni,
                  context.localClock ? *context.localClock
                                     : *(m_ownLocalClock = std::make_unique<SystemLocalClock>()),
                  [this] { m_engine.CycleNow(); }),
      m_thumbnails(new ThumbnailMaker(m_list, MakeThumbnail, 2, this)),
      m_instanceServer(context.instanceServer ? context.instanceServer : new platform::InstanceServer(this)) {
    setObjectName("frmMain1");
    m_trayAvailable = context.trayAvailable;
    setWindowTitle("Kalidrome");
    setWindowFlags(windowFlags() & ~Qt::WindowMinimizeButtonHint);
    buildLayout();
    m_placement.restore(*this, kMainWindowPlace);
    m_changer->setUpcomingProvider([this] { return upcomingWallpaper(); });
    connect(m_changer, &WallpaperChanger::aheadReady, this,
            [](const QString& path) { ui::TraceEvent(("ready ahead " + path.toStdString()).c_str()); });
    m_engine.SetMonitorHooks(CycleEngine::MonitorHooks{
        [this] { return monitorShapes(); },
        [this](const TListItemInfo& entry) { return pictureShape(entry); },
        [this](const std::vector<std::string>& paths, std::function<void()> applied) {
            applyWallpapers(paths, std::move(applied));
        },
    });
    if (QScreen* screen = QGuiApplication::primaryScreen())
        connect(screen, &QScreen::geometryChanged, m_changer, &WallpaperChanger::invalidate);
    connect(qApp, &QGuiApplication::primaryScreenChanged, m_changer, &WallpaperChanger::invalidate);

    // The creation sequence.
    publishInRegistry();
    m_heartbeat.stamp();  // the last sign of life before the heartbeat takes over
    m_tray = new TrayIcon(ApplicationIcon(), m_menus->contextMenu(), this);
    m_notifier = new Notifier(*m_tray, *this, m_trayAvailable,
                              [this](std::string_view text) { return m_translator.Translate(text, "MainForm"); }, this);
    QApplication::setWindowIcon(ApplicationIcon());

    Options& options = m_optionState.options();
    options.Res1 = ResolutionRow(m_settingsIni.readInteger(kOptions, kRes1, kResDefault));
    options.Res2 = ResolutionRow(m_settingsIni.readInteger(kOptions, kRes2, kResDefault));
    m_closeImmediatelyAtStart =
        m_settingsIni.readBool(kCloseImmediately.section, kCloseImmediately.key, kCloseImmediately.atLoad);
    options.CurrIndex = m_settingsIni.readInteger(kOptions, kCurrIndex, 0);

    wireCommands();
    wireList();
    // The load writes Settings.ini: before it, no Settings.ini means the very first start.
    const bool firstStart = !platform::FileExists(m_settingsIni.path());
    loadAtCreation();

    // The language menu ticks the stored language and applies its file to this window.
    m_languageMenu = new LanguageMenu(
        m_menus->languageMenu(), m_settingsIni, m_systemPath,
        LanguageMenu::Hooks{
            [this](const std::string& language) { return ApplyLanguage(language, kMainFormWindow, this); },
            [this](std::string_view text) { return m_translator.Translate(text, "MainForm"); },
            [this](const QString& text) { ui::ShowInformation(isVisible() ? this : nullptr, text); },
            [this] {
                m_restartRequested = true;
                m_exitRequested = true;
                close();
            },
        });
    m_languageMenu->BuildLanguageMenu();

    m_engine.SetCurrentWallpaper({});
    m_cycleTimer.SetCountdown(1);
    m_exitRequested = false;

    // Later starts reach this instance here.
    connect(m_instanceServer, &platform::InstanceServer::requestReceived, this, &MainWindow::HandleAppMessage);
    if (!context.instanceServer) {
        const std::string endpoint = platform::InstanceEndpoint(m_systemPath, platform::CurrentHandle());
        if (!m_instanceServer->listen(QString::fromStdString(endpoint)))
            std::fprintf(stderr, "kalidrome: cannot listen for later starts at %s\n", endpoint.c_str());
    }
    m_instanceServer->serve();

    m_engine.SetPreviousEntry(CycleEngine::kNone);
    m_engine.ResetCurrentEntryFromIndex();
    m_fileVersion = ReadFileVersionInfo(platform::ExecutablePath()).FileVersion;

    // The marker exists exactly when the option is on.
    const std::string marker = m_systemPath + std::string(kOneShotMarker);
    if (!m_settingsIni.readBool(kCloseImmediately.section, kCloseImmediately.key, kCloseImmediately.atLoad))
        std::remove(marker.c_str());
    try {
        if (!platform::FileExists(marker))
            m_settingsIni.writeBool(kCloseImmediately.section, kCloseImmediately.key, false);
    } catch (const IniWriteError& e) {
        // A Settings.ini the user made read-only: the load has said so already; run on.
        noteError(e);
    }

    m_tmrHeartbeat1->setInterval(1000);
    connect(m_tmrHeartbeat1, &QTimer::timeout, this, &MainWindow::tmrHeartbeat1Timer);
    m_tmrHeartbeat1->start();
    m_tmrDefiniteDate1.setOnTimeout([this] { m_scheduler.CheckDefiniteDates(); });
    m_tmrDefiniteDate1.start();

    m_created = true;
    if (m_closeImmediatelyAtStart) {
        // The one-shot run: one cycle now, the window stays hidden.
        m_cycleTimer.SetRunning(false);
        m_engine.CycleNow();
        return;
    }

    m_listCommands.RefreshListCommands(ListOccasion::Click);
    // Asked after the load has written Settings.ini, so in practice only "/c" shows it.
    if (!platform::FileExists(m_settingsIni.path()) || m_firstArgument == "/c") {
        showMainWindow();
        if (m_firstArgument == "/c") QTimer::singleShot(0, this, [this] { openPreferences(1); });
    }
    // Without a tray nothing else would show that the program runs.
    if (!m_trayAvailable) showMainWindow();
    m_view->fitFirstColumn();
    if (m_placement.restoreColumns(*m_view->header(), kMainWindowPlace)) m_view->keepColumnWidths();
    // Once the program runs: the tray host embeds the icon from the event loop.
    if (firstStart) QTimer::singleShot(0, this, [this] { m_notifier->tellWelcome(); });
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    // The preview is a window of its own, not a child: it goes first, as its hooks reach in here.
    delete m_preview;
    // A change still being made ends here, before the engine it reports to.
    delete m_changer;
    m_changer = nullptr;
    goAway();
    // The view and the thumbnail workers read the list, which goes with this object's
    // members, before QWidget's destructor would delete the children.
    delete m_thumbnails;
    m_list.setChangeListener({});
    m_list.setRowChangedListener({});
    delete takeCentralWidget();
}

void MainWindow::buildLayout() {
    platform::UseWindowFont(this, 8);
    resize(290, 428);
    if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());

    m_lblThereAre1->setObjectName("lblThereAre1");
    m_lblFiles1->setObjectName("lblFiles1");
    m_lblFilesListed1->setObjectName("lblFilesListed1");
    m_btnAdd1->setObjectName("btnAdd1");
    m_btnCycle1->setObjectName("btnCycle1");

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(0);

    auto* countLine = new platform::AtLeast<QWidget>(QSize(0, 19), central);
    auto* countLayout = new QHBoxLayout(countLine);
    countLayout->setContentsMargins(6, 0, 0, 0);
    countLayout->setSpacing(0);
    countLayout->addWidget(m_lblThereAre1, 0, Qt::AlignVCenter);
    countLayout->addWidget(m_lblFiles1, 0, Qt::AlignVCenter);
    countLayout->addWidget(m_lblFilesListed1, 0, Qt::AlignVCenter);
    countLayout->addStretch(1);
    layout->addWidget(countLine);
    layout->addWidget(m_view, 1);

    platform::UseWindowFont(m_btnAdd1, 8, true);
    QPalette navy = m_btnCycle1->palette();
    // Navy while enabled; disabled, the style's greyed caption shows that it is.
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        navy.setColor(group, QPalette::ButtonText, QColor(0, 0, 128));
    m_btnCycle1->setPalette(navy);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(4, 4, 4, 0);
    buttons->addWidget(m_btnAdd1);
    buttons->addStretch(1);
    buttons->addWidget(m_btnCycle1);
    layout->addLayout(buttons);
    setCentralWidget(central);
    // The least size is the nominal 290 x 355, or more where the menu bar's captions need
    // it: a menu never hides behind the bar's overflow button.
    central->setMinimumSize(290, 355 - menuBar()->sizeHint().height());
    menuBar()->installEventFilter(this);

    // A right click anywhere in the window opens the context menu.
    setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    auto popup = [this] { m_menus->contextMenu()->popup(QCursor::pos()); };
    connect(this, &QWidget::customContextMenuRequested, this, popup);
    connect(m_view, &QWidget::customContextMenuRequested, this, popup);
    connect(m_menus->contextMenu(), &QMenu::aboutToShow, this, &MainWindow::prepareContextMenu);

    // Keys go through the shortcut rule before any widget of the window sees them.
    qApp->installEventFilter(this);
}

void MainWindow::wireCommands() {
    MainMenus& m = *m_menus;
    connect(m.actSaveList1, &QAction::triggered, this, &MainWindow::saveListCommand);
    connect(m.actLoadList1, &QAction::triggered, this, &MainWindow::loadListCommand);
    auto close = [this] {
        m_exitRequested = true;
        this->close();
    };
    connect(m.actClose1, &QAction::triggered, this, close);
    connect(m.miClose2, &QAction::triggered, this, close);
    connect(m.actAdd1, &QAction::triggered, this, &MainWindow::addCommand);
    connect(m_btnAdd1, &QPushButton::clicked, this, &MainWindow::addCommand);
    connect(m.actAddFolder1, &QAction::triggered, this, &MainWindow::addFolderCommand);
    connect(m.actPreview1, &QAction::triggered, this, &MainWindow::previewCommand);
    connect(m.actDeleteSelected1, &QAction::triggered, this, &MainWindow::deleteSelectedCommand);
    connect(m.actClearNonExisting1, &QAction::triggered, this, &MainWindow::clearNonExistingCommand);
    connect(m.actClearAll1, &QAction::triggered, this, &MainWindow::clearAllCommand);
    connect(m.actSetWallpaper1, &QAction::triggered, this, [this] { m_engine.SetAsWallpaper(); });
    connect(m.miSetWallpaper2, &QAction::triggered, this, [this] { m_engine.SetAsWallpaper(); });
    connect(m.actDeleteCurrentWallpaper1, &QAction::triggered, this, [this] { m_engine.DeleteCurrentWallpaper(); });
    connect(m.actEditImage1, &QAction::triggered, this, &MainWindow::editImageCommand);
    connect(m.actCreateScreensaver1, &QAction::triggered, this, &MainWindow::createScreensaverCommand);
    // A checkable action has already flipped its check mark when triggered reports it:
    // the argument is the opposite of the mark before the click.
    connect(m.actDisableCycling1, &QAction::triggered, this, [this](bool checked) {
        try {
            m_optionState.SetDisableCycling(checked);
        } catch (const std::exception& e) {
            reportError(e);
        }
    });
    connect(m.actShowTray1, &QAction::triggered, this, [this](bool checked) {
        try {
            m_optionState.SetShowTray(checked);
        } catch (const std::exception& e) {
            reportError(e);
        }
    });
    connect(m.actStartWithWindows1, &QAction::triggered, this, &MainWindow::startWithWindowsCommand);
    connect(m.actPreferences1, &QAction::triggered, this, [this] { openPreferences(0); });
    connect(m.actCycle1, &QAction::triggered, this, [this] { m_engine.CycleNow(); });
    connect(m_btnCycle1, &QPushButton::clicked, this, [this] { m_engine.CycleNow(); });
    connect(m.actPrevious1, &QAction::triggered, this, [this] { m_engine.Previous(); });
    connect(m.miShowHide1, &QAction::triggered, this, &MainWindow::showOrHide);
    connect(m.actVisitWebsite1, &QAction::triggered, this,
            [] { platform::OpenWithDefaultHandler(QString::fromLatin1(kHomePage)); });
    connect(m.actAbout1, &QAction::triggered, this, &MainWindow::aboutCommand);

    connect(m_tray, &TrayIcon::cycleRequested, this, [this] { m_engine.CycleNow(); });
    connect(m_tray, &TrayIcon::previousRequested, this, [this] {
        if (m_menus->actPrevious1->isEnabled()) m_engine.Previous();
    });
    connect(m_tray, &TrayIcon::showHideRequested, this, &MainWindow::showOrHide);
}

void MainWindow::wireList() {
    m_list.setChangeListener([this] {
        m_view->listChanged();
        if (m_changer) m_changer->invalidate();
    });
    m_list.setRowChangedListener([this](EntryId id) { m_view->repaintRow(id); });
    connect(m_view, &WallpaperListView::thumbnailWanted, this, &MainWindow::RequestThumbnail);
    connect(m_view, &WallpaperListView::sharpThumbnailWanted, m_thumbnails, &ThumbnailMaker::RequestSharpThumbnail);
    connect(m_thumbnails, &ThumbnailMaker::sharpThumbnailMade, m_view, &WallpaperListView::setSharpThumbnail);
    connect(m_view, &WallpaperListView::selectionChangedFor, this, [this](EntryId id) {
        const TListItemInfo* entry = m_list.find(id);
        if (!entry || !platform::FileExists(entry->FilePath)) return;
        m_listCommands.RefreshListCommands(ListOccasion::SelectionChanged);
        if (m_preview) m_preview->ShowInPreview(entry->FilePath);
    });
    connect(m_view, &WallpaperListView::clicked, this,
            [this] { m_listCommands.RefreshListCommands(ListOccasion::Click); });
    connect(m_view, &WallpaperListView::doubleClicked, this, [this] { m_engine.ShowSelectedEntry(); });
    connect(m_view, &WallpaperListView::firstPainted, this, [] { ui::TraceEvent("first paint"); });
}

void MainWindow::publishInRegistry() {
    try {
        m_registry.writeString(platform::kProgramKey, platform::kSystemPathValue, m_systemPath);
        m_registry.writeString(platform::kProgramKey, "Kalidrome", platform::ExecutablePath());
    } catch (const std::exception&) {
        // Other programs just do not find us; nothing to tell the user.
    }
}

void MainWindow::loadAtCreation() {
    const std::string listPath = m_optionState.ListFilePath();
    try {
        m_optionState.LoadSettingsAndList(listPath);
    } catch (const std::exception& e) {
        // The load has gone as far as it could; creation goes on so that the program
        // stays reachable (hand-off, tray, timers).
        reportError(e);
    }
    m_view->setShowImages(m_optionState.options().ShowImages);
}

bool MainWindow::ApplyLanguage(const std::string& language, std::string_view windowName, QWidget* window) {
    return kalidrome::ApplyLanguage(m_translator, language, windowName, window, [this](CaptionWalk& walk) {
        WallpaperTableModel& model = m_view->tableModel();
        model.setHeaderCaptions(walk.translated(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString()),
                                walk.translated(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString()));
    });
}

void MainWindow::aboutCommand() {
    auto* about = new AboutDialog(QString::fromStdString(m_fileVersion), ApplicationIcon().pixmap(96, 96), this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->exec();
}

void MainWindow::reportError(const std::exception& error) {
    m_toldErrors.insert(error.what());
    ui::ShowError(this, QString::fromStdString(error.what()));
}

void MainWindow::noteError(const std::exception& error) {
    if (m_toldErrors.count(error.what()) == 0) std::fprintf(stderr, "kalidrome: %s\n", error.what());
}

void MainWindow::goAway() {
    if (m_goneAway) return;
    m_goneAway = true;
    if (isVisible()) rememberPlace();
    m_tmrHeartbeat1->stop();
    m_cycleTimer.SetRunning(false);
    m_cycleTimer.StopStartupTimer();
    m_tmrDefiniteDate1.stop();
    try {
        // Under the start lock: a start deciding right now sees the record before or after.
        const platform::FileLock lock(m_systemPath + "Instance", std::chrono::milliseconds(2000));
        if (!RecordCleanExit(m_startupIni, platform::CurrentHandle()))
            ui::TraceEvent("exit record kept: it names another instance");
    } catch (const IniWriteError& e) {
        noteError(e);
    }
    ui::TraceEvent("exit");
}

void MainWindow::tmrHeartbeat1Timer() { m_heartbeat.tick(); }

render::WallpaperOptions MainWindow::wallpaperOptions() const {
    const Options& o = m_optionState.options();
    return render::WallpaperOptions{o.GreyScale, o.UseMask, o.StretchLarger, o.StretchSmaller, o.Res1, o.Res2};
}

std::optional<WallpaperChanger::Upcoming> MainWindow::upcomingWallpaper() {
    // Only a countdown that runs has a next picture due.
    if (!m_cycleTimer.running() || !m_engine.CycleEnabled() || m_goneAway) return std::nullopt;
    const TListItemInfo* entry = m_list.find(m_engine.UpcomingEntry());
    if (!entry) return std::nullopt;
    return WallpaperChanger::Upcoming{entry->FilePath, wallpaperOptions()};
}

void MainWindow::applyWallpaper(const std::string& path, std::function<void()> applied) {
    ui::TraceEvent(("wallpaper begun " + path).c_str());
    m_changer->change(path, wallpaperOptions(), [this, applied = std::move(applied)](const WallpaperChanger::Outcome& o) {
        wallpaperApplied(o, applied);
    });
}

void MainWindow::wallpaperApplied(const WallpaperChanger::Outcome& o, const std::function<void()>& applied) {
    ui::TraceEvent(((o.changed ? (o.fromAhead ? "wallpaper (ready ahead) " : "wallpaper ") : "wallpaper unchanged ") +
                    o.path).c_str());
    // A desktop that refuses is told once per reason, in the tray's balloon or a desktop
    // notification: a timed cycle goes on, and a modal box every few seconds would stop
    // the user working.
    if (o.changed) m_notifier->wallpaperChanged({});
    else if (!o.failure.empty() && m_notifier->wallpaperChanged(o.failure))
        emit desktopFailureShown(QString::fromStdString(o.failure));
    if (applied) applied();
}

std::vector<Shape> MainWindow::monitorShapes() {
    // Learnt at every change, so that a monitor plugged in or turned takes part in the next.
    try {
        m_monitors = m_desktop.monitors();
    } catch (const platform::DesktopError&) {
        m_monitors.clear();
    }
    std::vector<Shape> shapes;
    for (const platform::Monitor& m : m_monitors) shapes.push_back(ShapeOf(m.width, m.height));
    m_headerReadsLeft = kHeaderReadsPerChange;
    return shapes;
}

Shape MainWindow::pictureShape(const TListItemInfo& entry) {
    // A thumbnail has its picture's shape; without one the picture's header is read, once.
    if (entry.Thumbnail && entry.Thumbnail->Width > 0 && entry.Thumbnail->Height > 0)
        return ShapeOf(entry.Thumbnail->Width, entry.Thumbnail->Height);
    if (const auto known = m_pictureShapes.find(entry.id()); known != m_pictureShapes.end()) return known->second;
    // A long list without thumbnails is learnt over several changes, so that no change
    // holds the window up reading thousands of files; until then such a picture fits anywhere.
    if (m_headerReadsLeft <= 0) return Shape::Any;
    --m_headerReadsLeft;
    Shape shape = Shape::Any;
    try {
        const render::PictureDimensions size = render::ReadPictureDimensions(entry.FilePath);
        shape = ShapeOf(size.width, size.height);
    } catch (const std::exception&) {
        // Unreadable: fits anywhere, and its change will tell.
    }
    m_pictureShapes.emplace(entry.id(), shape);
    return shape;
}

void MainWindow::applyWallpapers(const std::vector<std::string>& paths, std::function<void()> applied) {
    ui::TraceEvent(("wallpapers begun " + std::to_string(paths.size()) + " " + paths.front()).c_str());
    m_changer->changeSet(paths, m_monitors, wallpaperOptions(),
                         [this, applied = std::move(applied)](const WallpaperChanger::Outcome& o) {
                             wallpaperApplied(o, applied);
                         });
}

void MainWindow::HandleAppMessage(int message) {
    if (message == platform::kRequestShow) {
        ui::TraceEvent("request 3024");
        showMainWindow();
    } else if (message == platform::kRequestShowScreensaver) {
        ui::TraceEvent("request 3025");
        showMainWindow();
        // Opened from the event loop, not from inside the socket's notification.
        QTimer::singleShot(0, this, [this] { openPreferences(1); });
    } else if (message == platform::kRequestNext) {
        ui::TraceEvent("request 3026");
        m_engine.CycleNow();
    } else if (message == platform::kRequestPrevious) {
        ui::TraceEvent("request 3027");
        if (m_menus->actPrevious1->isEnabled()) m_engine.Previous();
    }
}

void MainWindow::showMainWindow() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::showOrHide() {
    m_cycleTimer.StopStartupTimer();
    // A minimised window is out of sight: the first double-click brings it back.
    if (isVisible() && !isMinimized()) putAway();
    else showMainWindow();
}

bool MainWindow::trayIconShown() const { return m_trayAvailable && m_tray && m_tray->shown(); }

void MainWindow::putAway() {
    if (trayIconShown()) {
        hide();
        return;
    }
    // A hidden window could not be found again without a tray icon: it goes to the task bar.
    rememberPlace();
    showMinimized();
    ui::TraceEvent("minimised");
}

void MainWindow::rememberPlace() {
    m_placement.save(*this, kMainWindowPlace);
    m_placement.saveColumns(*m_view->header(), kMainWindowPlace);
}

void MainWindow::openPreferences(int page) {
    if (m_preferences) m_preferences->reject();
    auto* dialog = new PreferencesDialog(PreferencesHooksFor(*this), this);
    ApplyLanguageToPreferences(*this, *dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->selectPage(page);
    m_preferences = dialog;
    ui::TraceEvent(("preferences " + std::to_string(page)).c_str());
    dialog->exec();
}

void MainWindow::saveListCommand() {
    auto chosen = ui::AskSaveFileName(this, QStringLiteral("Save Kalidrome List"),
                                      QString::fromStdString(m_systemPath), m_saveDialogFileName,
                                      QStringLiteral("Kalidrome Files (*.kdl)"));
    if (!chosen) return;
    m_saveDialogFileName = *chosen;
    try {
        m_optionState.SaveList(chosen->toStdString());
    } catch (const std::exception& e) {
        reportError(e);
    }
}

void MainWindow::loadListCommand() {
    const std::string current = m_optionState.ListFilePath();
    auto chosen = ui::AskOpenFileName(this, QStringLiteral("Load a Kalidrome List"),
                                      QString::fromStdString(FolderOf(current)),
                                      QStringLiteral("Kalidrome Files (*.kdl)"));
    if (!chosen) return;
    try {
        m_optionState.LoadSettingsAndList(chosen->toStdString());
    } catch (const std::exception& e) {
        reportError(e);
    }
    m_view->setShowImages(m_optionState.options().ShowImages);
    m_view->scrollToOrigin();
}

void MainWindow::addCommand() {
    const std::string browsePath = m_settingsIni.readString(kSettings, kBrowsePath, "");
    auto chosen = ui::AskOpenFileNames(this, QStringLiteral("Add an Image"), QString::fromStdString(browsePath),
                                       ui::PictureFilters());
    if (!chosen) return;
    std::vector<std::string> batch;
    for (const QString& f : *chosen) batch.push_back(f.toStdString());
    std::string current = m_engine.CurrentWallpaper();
    m_list.AddFiles(batch, current);
    m_engine.SetCurrentWallpaper(current);
    m_listCommands.RefreshListCommands(ListOccasion::Added);
    try {
        m_settingsIni.writeString(kSettings, kBrowsePath, FolderOf(batch.front()));
    } catch (const std::exception& e) {
        reportError(e);
    }
}

void MainWindow::addFolderCommand() {
    if (m_browser) {
        m_browser->raise();
        m_browser->activateWindow();
        return;
    }
    auto* browser = new FolderBrowser(
        this, FolderBrowser::Hooks{
                  [this](std::string_view text) { return m_translator.Translate(text, "BrowseForm"); },
                  [this](std::vector<std::string> batch) {
                      std::string current = m_engine.CurrentWallpaper();
                      m_list.AddFiles(std::move(batch), current);
                      m_engine.SetCurrentWallpaper(current);
                      m_listCommands.RefreshListCommands(ListOccasion::Added);
                  },
                  m_systemPath,
              });
    browser->setAttribute(Qt::WA_DeleteOnClose);
    m_browser = browser;
    // Modal to this window, without a nested event loop: the command returns at once.
    browser->open();
}

void MainWindow::previewCommand() {
    if (m_preview) {
        m_preview->close();
    } else {
        auto* preview = new PreviewWindow(
            this, PreviewWindow::Hooks{
                      [this](std::string_view text) { return m_translator.Translate(text, "PreviewForm"); },
                      [this] {
                          if (m_list.selectedCount() == 1) deleteSelectedCommand();
                      },
                      [this] { m_engine.SetAsWallpaper(); },
                      [this](const QString& message) {
                          ui::ShowError(m_preview ? static_cast<QWidget*>(m_preview) : this, message);
                      },
                  });
        m_preview = preview;
        connect(preview, &PreviewWindow::closed, this, [this] {
            if (m_preview) m_placement.save(*m_preview, kPreviewPlace);
            m_preview = nullptr;
            m_menus->actPreview1->setChecked(false);
        });
        preview->show();
        // Where the user left it last time; else beside this window (the preview's own rule).
        m_placement.restore(*preview, kPreviewPlace);
        QCoreApplication::processEvents();
        auto selected = m_list.selectedEntries();
        if (m_preview && selected.size() == 1) m_preview->ShowInPreview(selected.front()->FilePath);
        m_view->focusList();
    }
    m_menus->actPreview1->setChecked(!m_preview.isNull());
}

void MainWindow::deleteSelectedCommand() {
    ListUpdate update(m_list);
    if (m_list.RemoveSelected() > 0 && !m_list.empty()) m_view->focusList();
    m_listCommands.RefreshListCommands(ListOccasion::Removed);
}

void MainWindow::clearNonExistingCommand() {
    ListUpdate update(m_list);
    m_list.RemoveNonExisting();
    m_listCommands.RefreshListCommands(ListOccasion::Removed);
}

void MainWindow::clearAllCommand() {
    ListUpdate update(m_list);
    m_list.Clear();
    m_listCommands.RefreshListCommands(ListOccasion::Removed);
}

void MainWindow::editImageCommand() {
    auto selected = m_list.selectedEntries();
    if (selected.size() != 1) return;
    platform::OpenWithDefaultHandler(QString::fromStdString(selected.front()->FilePath));
}

void MainWindow::createScreensaverCommand() {
    const ScreensaverNotice notice = InstallScreensaverAndTell(
        ScreensaverPaths::For(systemPath()), [this](std::string_view text) { return translator().Translate(text, "MainForm"); });
    if (notice.isError) ui::ShowError(this, QString::fromStdString(notice.text));
    else ui::ShowInformation(this, QString::fromStdString(notice.text));
}

void MainWindow::startWithWindowsCommand() {
    if (m_autostart.available()) {
        if (m_autostart.isEnabled()) m_autostart.disable();
        else m_autostart.enable(platform::ExecutablePath());
        m_menus->actStartWithWindows1->setChecked(m_autostart.isEnabled());
    } else {
        // Nothing could be done: the mark stays as it was before the click.
        m_menus->actStartWithWindows1->setChecked(!m_menus->actStartWithWindows1->isChecked());
    }
}

void MainWindow::prepareContextMenu() {
    m_listCommands.prepareContextMenu(m_view->hasFocus(), platform::FileExists(m_engine.CurrentWallpaper()),
                                      !m_preview.isNull());
    m_menus->actDisableCycling1->setChecked(m_optionState.options().DisableCycling);
    if (m_autostart.available()) m_menus->actStartWithWindows1->setChecked(m_autostart.isEnabled());
}

void MainWindow::RequestThumbnail(EntryId id) {
    TListItemInfo* entry = m_list.find(id);
    if (!entry) return;
    if (entry->RowHeight != kImageRowHeight || !entry->laidOut()) m_view->LayOutRow(*entry);
    else m_view->fitFirstColumn();
    m_thumbnails->RequestThumbnail(id);
}

void MainWindow::askToSaveAfterFailedSave() {
    if (m_closingForGood || isVisible()) return;
    if (!m_optionState.ListFilePath().empty()) return;
    if (ui::AskYesNo(this, QStringLiteral("Do you want to save your list of wallpapers?")) == ui::Answer::Yes)
        saveListCommand();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_preview) m_preview->close();
    // A new install's list goes to Files.kdl in the System folder from the first close on.
    const std::string listPath = m_optionState.ListFileForSave(m_saveDialogFileName.toStdString());
    try {
        m_optionState.SaveList(listPath);
    } catch (const ListSaveError& e) {
        // Where the list is, or that it is only in memory, is worth a box also at exit.
        reportError(e);
    } catch (const std::exception& e) {
        // A Settings.ini that cannot be written was told at the start.
        noteError(e);
    }
    const bool ctrlHeld = QApplication::queryKeyboardModifiers() & Qt::ControlModifier;
    if (m_exitRequested || ctrlHeld) {
        m_closingForGood = true;
        rememberPlace();
        // A change still being made must not write the bitmap again once it is removed.
        m_changer->close();
        const std::string wallpaper = m_systemPath + std::string(kWallpaperFile);
        std::remove(wallpaper.c_str());
        // The further monitors' bitmaps go with it.
        for (std::size_t i = 1; i < m_monitors.size(); ++i)
            std::remove((m_systemPath + render::MonitorBitmapName(i)).c_str());
        event->accept();
        emit closedForGood();
        return;
    }
    event->ignore();
    putAway();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window manager's own hiding and showing (minimising, workspaces) is not ours.
    if (event->spontaneous()) return;
    m_menus->miShowHide1->setText(QString::fromStdString(m_translator.HideCaption()));
    ui::TraceEvent("shown");
}

void MainWindow::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    if (event->spontaneous()) return;
    rememberPlace();
    m_menus->miShowHide1->setText(QString::fromStdString(m_translator.ShowCaption()));
    ui::TraceEvent("hidden");
    // Asked once the window is out of sight, from the event loop.
    QTimer::singleShot(0, this, &MainWindow::askToSaveAfterFailedSave);
}

void MainWindow::fitMenuBar() {
    if (QWidget* central = centralWidget())
        central->setMinimumWidth(std::max(290, menuBar()->sizeHint().width()));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menuBar()) {
        switch (event->type()) {
            case QEvent::ActionAdded:
            case QEvent::ActionChanged:
            case QEvent::ActionRemoved:
            case QEvent::FontChange:
                // Measured once the bar has taken the change in.
                QMetaObject::invokeMethod(this, &MainWindow::fitMenuBar, Qt::QueuedConnection);
                break;
            default: break;
        }
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this) {
            auto* key = static_cast<QKeyEvent*>(event);
            // A key of the number pad (Del with NumLock off, say) is the same command as
            // its twin on the main block.
            const QKeyCombination combination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key()));
            if (m_menus->dispatchShortcut(QKeySequence(combination))) return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace kalidrome
