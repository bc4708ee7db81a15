#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <string_view>

#include "IniFile.h"

class QAction;
class QActionGroup;
class QMenu;

namespace kalidrome {

// The "Set &Language" submenu: one radio entry per language file of the System folder,
// the stored choice ticked and applied at start, and the restart into a chosen language.
class LanguageMenu : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // Applies a language to the main window; false when its file is not there.
        std::function<bool(const std::string& language)> apply;
        // The translate operation, section "MainForm".
        std::function<std::string(std::string_view)> translate;
        // Shows the restart message (an information box) and returns once it is closed.
        std::function<void(const QString& text)> inform;
        // Ends this instance so that a new one starts once it has closed.
        std::function<void()> restart;
    };

    LanguageMenu(QMenu* menu, IniFile& settings, std::string systemPath, Hooks hooks);

    // Lists the language files (sorted, one entry for names that differ only in letter
    // case), makes the entries, ticks and applies the one the stored choice names (the
    // names compared lower-cased), or else ticks "English" (miEnglish1) without
    // applying it. Called once, at start-up.
    void BuildLanguageMenu();

    // An entry's click: apply, store the choice lower-cased, tick, tell, restart. An
    // entry whose file has gone does nothing.
    void SelectLanguage(QAction* entry);

    QMenu* menu() const { return m_menu; }

private:
    QMenu* m_menu;
    QActionGroup* m_group;
    QAction* m_ticked = nullptr;
    IniFile& m_settings;
    std::string m_systemPath;
    Hooks m_hooks;
};

}  // namespace kalidrome
