#include "MainMenus.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace kalidrome {

QAction* MainMenus::make(const char* objectName, const char* caption, QKeySequence shortcut) {
    auto* a = new QAction(QString::fromLatin1(caption), m_window);
    a->setObjectName(QString::fromLatin1(objectName));
    if (!shortcut.isEmpty()) {
        a->setShortcut(shortcut);
        // The menus show the shortcut; the window dispatches keys itself (dispatchShortcut),
        // because two items may carry the same key and only the first may take it.
        a->setShortcutContext(Qt::WidgetShortcut);
    }
    return a;
}

MainMenus::MainMenus(QMainWindow* window)
    : QObject(window), m_window(window), m_menuBar(window->menuBar()) {
    actSaveList1 = make("actSaveList1", "&Save FileList...", QKeySequence("Ctrl+S"));
    actLoadList1 = make("actLoadList1", "L&oad FileList...", QKeySequence("Ctrl+L"));
    actClose1 = make("actClose1", "C&lose      ", QKeySequence("Alt+F4"));
    actAdd1 = make("actAdd1", "&Add", QKeySequence("Ctrl+A"));
    actAddFolder1 = make("actAddFolder1", "Add &Folder");
    actDeleteSelected1 = make("actDeleteSelected1", "&Delete selected", QKeySequence(Qt::Key_Delete));
    actClearAll1 = make("actClearAll1", "Cl&ear All");
    actClearNonExisting1 = make("actClearNonExisting1", "C&lear non existing              ");
    actPreview1 = make("actPreview1", "&Preview", QKeySequence(Qt::Key_F2));
    actPreview1->setCheckable(true);
    actSetWallpaper1 = make("actSetWallpaper1", "Set as &Wallpaper", QKeySequence(Qt::Key_F9));
    miSetWallpaper2 = make("miSetWallpaper2", "&Set as wallpaper", QKeySequence(Qt::Key_F9));
    actDeleteCurrentWallpaper1 =
        make("actDeleteCurrentWallpaper1", "Delete current &wallpaper", QKeySequence("Ctrl+Del"));
    actEditImage1 = make("actEditImage1", "&Edit Image       ");
    actCreateScreensaver1 = make("actCreateScreensaver1", "&Create Screensaver");
    actDisableCycling1 = make("actDisableCycling1", "&Disable auto cycling");
    actDisableCycling1->setCheckable(true);
    actShowTray1 = make("actShowTray1", "Show &Tray");
    actShowTray1->setCheckable(true);
    actStartWithWindows1 = make("actStartWithWindows1", "Start with &Windows");
    actStartWithWindows1->setCheckable(true);
    actPreferences1 = make("actPreferences1", "&Preferences", QKeySequence(Qt::Key_F4));
    actCycle1 = make("actCycle1", "&Cycle!", QKeySequence(Qt::Key_F9));
    miCycle2 = make("miCycle2", "&Cycle!", QKeySequence(Qt::Key_F9));
    connect(miCycle2, &QAction::triggered, actCycle1, &QAction::trigger);
    actPrevious1 = make("actPrevious1", "&Previous");
    miShowHide1 = make("miShowHide1", "S&how");
    actVisitWebsite1 = make("actVisitWebsite1", "Visit &Website...          ");
    actContents1 = make("actContents1", "&Contents...          ", QKeySequence(Qt::Key_F1));
    actAbout1 = make("actAbout1", "&About");
    miClose2 = make("miClose2", "C&lose", QKeySequence("Alt+F4"));

    // Before the options are loaded.
    actDisableCycling1->setChecked(true);
    actShowTray1->setChecked(true);
    actSetWallpaper1->setEnabled(false);
    miSetWallpaper2->setEnabled(false);
    actEditImage1->setEnabled(false);
    actPrevious1->setEnabled(false);
    actContents1->setVisible(false);

    QMenu* file = m_menuBar->addMenu("&File");
    file->setObjectName("miFile1");
    file->addActions({actSaveList1, actLoadList1});
    file->addSeparator();
    file->addAction(actClose1);

    QMenu* edit = m_menuBar->addMenu("&Edit");
    edit->setObjectName("miEdit1");
    edit->addActions({actAdd1, actAddFolder1, actDeleteSelected1, actClearNonExisting1});

    QMenu* tools = m_menuBar->addMenu("&Tools");
    tools->setObjectName("miTools1");
    tools->addActions({actPreview1, actSetWallpaper1});
    tools->addSeparator();
    tools->addAction(actEditImage1);
    tools->addSeparator();
    tools->addAction(actCreateScreensaver1);

    QMenu* options = m_menuBar->addMenu("&Options");
    options->setObjectName("miOptions1");
    options->addActions({actDisableCycling1, actShowTray1});
    options->addSeparator();
    options->addAction(actPreferences1);

    QMenu* help = m_menuBar->addMenu("&Help");
    help->setObjectName("miHelp1");
    help->addActions({actVisitWebsite1, actContents1});
    help->addSeparator();
    help->addAction(actAbout1);

    m_contextMenu = new QMenu(window);
    m_contextMenu->setObjectName("pmnMain1");
    m_contextMenu->addAction(miShowHide1);
    m_contextMenu->setDefaultAction(miShowHide1);
    m_contextMenu->addSeparator();
    m_contextMenu->addActions({actAdd1, actAddFolder1, actDeleteSelected1, actClearAll1, actClearNonExisting1});
    m_contextMenu->addSeparator();
    m_contextMenu->addActions({miSetWallpaper2, actDeleteCurrentWallpaper1, actPreview1});
    m_contextMenu->addSeparator();
    m_contextMenu->addActions({actSaveList1, actLoadList1});
    m_contextMenu->addSeparator();
    m_optionsSubmenu = m_contextMenu->addMenu("&Options");
    m_optionsSubmenu->setObjectName("miOptions2");
    m_optionsSubmenu->addActions({actDisableCycling1, actShowTray1, actStartWithWindows1});
    m_optionsSubmenu->addSeparator();
    m_optionsSubmenu->addAction(actPreferences1);
    m_languageMenu = m_optionsSubmenu->addMenu("Set &Language");
    m_languageMenu->setObjectName("miLanguage1");
    miLanguage1 = m_languageMenu->menuAction();
    m_optionsSubmenu->addSeparator();
    m_optionsSubmenu->addAction(actCreateScreensaver1);
    m_contextMenu->addActions({miCycle2, actPrevious1});
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(miClose2);
}

bool MainMenus::dispatchIn(const QMenu* menu, const QKeySequence& key, bool& taken) {
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        if (QMenu* sub = a->menu()) {
            if (dispatchIn(sub, key, taken)) return true;
            continue;
        }
        if (!a->shortcut().isEmpty() && a->shortcut().matches(key) == QKeySequence::ExactMatch) {
            taken = a->isEnabled();
            if (taken) a->trigger();
            return true;
        }
    }
    return false;
}

bool MainMenus::dispatchShortcut(const QKeySequence& key) {
    bool ran = false;
    if (dispatchIn(m_contextMenu, key, ran)) return true;
    for (QAction* top : m_menuBar->actions())
        if (QMenu* menu = top->menu(); menu && dispatchIn(menu, key, ran)) return true;
    return false;
}

}  // namespace kalidrome
