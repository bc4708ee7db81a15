#pragma once

#include <QKeySequence>
#include <QObject>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;

namespace kalidrome {

// Every command of the main window as an action with its caption, shortcut text, check
// mark and initial state, and the two menus that hold them: the menu bar and the
// context menu (which is also the tray icon's menu). Where the two menus show a command
// under different captions, each has an action of its own.
class MainMenus : public QObject {
    Q_OBJECT
public:
    explicit MainMenus(QMainWindow* window);

    QMenu* contextMenu() const { return m_contextMenu; }
    QMenu* optionsSubmenu() const { return m_optionsSubmenu; }
    QMenu* languageMenu() const { return m_languageMenu; }

    // A key pressed in the window: first looked up among the context menu's items in menu
    // order (the "&Options" submenu included), then among the menu bar's. The first item
    // that carries the shortcut takes the key and runs only when it is enabled. Returns
    // whether an item took the key.
    bool dispatchShortcut(const QKeySequence& key);

    // Menu bar and context menu (same caption in both).
    QAction* actSaveList1;
    QAction* actLoadList1;
    QAction* actAdd1;
    QAction* actAddFolder1;
    QAction* actDeleteSelected1;
    QAction* actClearNonExisting1;
    QAction* actPreview1;
    QAction* actCreateScreensaver1;
    QAction* actDisableCycling1;
    QAction* actShowTray1;
    QAction* actPreferences1;
    // Menu bar only.
    QAction* actClose1;            // "C&lose      "
    QAction* actSetWallpaper1;     // "Set as &Wallpaper"
    QAction* actEditImage1;
    QAction* actVisitWebsite1;
    QAction* actContents1;
    QAction* actAbout1;
    // Context menu only.
    QAction* miShowHide1;
    QAction* actClearAll1;
    QAction* miSetWallpaper2;      // "&Set as wallpaper"
    QAction* actDeleteCurrentWallpaper1;
    QAction* actStartWithWindows1;
    QAction* miLanguage1;          // the "Set &Language" submenu
    QAction* miCycle2;             // "&Cycle!": runs actCycle1, enabled as the button on opening
    QAction* actPrevious1;
    // The cycle command itself (the button's); disabled exactly while a cycle applies a picture.
    QAction* actCycle1;
    QAction* miClose2;             // "C&lose"

private:
    QAction* make(const char* objectName, const char* caption, QKeySequence shortcut = {});
    static bool dispatchIn(const QMenu* menu, const QKeySequence& key, bool& taken);

    QMainWindow* m_window;
    QMenuBar* m_menuBar;
    QMenu* m_contextMenu;
    QMenu* m_optionsSubmenu;
    QMenu* m_languageMenu;
};

}  // namespace kalidrome
