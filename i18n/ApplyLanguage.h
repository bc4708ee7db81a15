#pragma once

#include <QString>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "LanguageFile.h"
#include "Translator.h"

class QAbstractButton;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QObject;
class QWidget;

namespace kalidrome {

// One walk over a window's fixed captions in one section of one language file. A
// caption is looked up under the text it holds now (blanks at its ends do not count);
// a non-empty value replaces it, anything else leaves it. Each element is translated at
// most once per walk, so an action that sits in the menu bar and in the context menu is
// looked up under its English caption only.
class CaptionWalk {
public:
    CaptionWalk(const std::string& languageFilePath, std::string_view section);

    // The translation of text, or text itself.
    QString translated(const QString& text) const;

    void action(QAction* action);
    void button(QAbstractButton* button);
    void label(QLabel* label);
    // Each entry directly in the menu, separators skipped; a submenu's own entry is
    // translated, the entries inside it are not.
    void menuEntries(QMenu* menu);
    // Each top-level menu of the bar and each entry directly under it.
    void menuBar(QMenuBar* bar);

private:
    bool firstVisit(const QObject* element);

    LanguageFile m_file;
    std::string m_section;
    std::unordered_set<const QObject*> m_done;
};

// The walks for the two windows whose fixed captions a language file replaces, found by
// the object names the windows give their parts.
//
// Main window (section "WordList#MainForm"): the menu bar (top level and one level
// down), the context menu "pmnMain1" and its "&Options" submenu "miOptions2" (the
// language names under "Set &Language" are not walked), the buttons "btnAdd1" and
// "btnCycle1", and the labels around the file count: "lblThereAre1" keeps one blank at
// its end and "lblFilesListed1" one at its start, so the words never touch the number.
// The list's column headings go through headings (the list view keeps them itself).
void WalkMainForm(CaptionWalk& walk, QMainWindow& window, const std::function<void(CaptionWalk&)>& headings);

// Preferences dialog (section "WordList#PrefForm"): the captions of the tabs of
// "pgcOptions1"; the check boxes, labels and push buttons placed directly on each tab
// (nothing nested deeper, no edit fields or lists); every item of the rule-kind list
// "cbList1", rewritten at its own position; the rule list's menu "pmList1"; the buttons
// "btnOK1" and "btnCancel1".
void WalkPreferencesForm(CaptionWalk& walk, QWidget& dialog);

inline constexpr std::string_view kMainFormWindow = "MainForm";
inline constexpr std::string_view kPreferencesFormWindow = "PreferencesForm";

// Applies a language to a window and makes it current:
//  1. no file "<System folder><language>.lng": returns false, nothing changes;
//  2. windowName "MainForm": WalkMainForm over window (a QMainWindow), then ShowCaption
//     and HideCaption become the translations of "S&how" and "&Hide";
//     "PreferencesForm": WalkPreferencesForm; any other name translates nothing;
//  3. the language becomes the translator's current language; returns true.
bool ApplyLanguage(Translator& translator, std::string_view language, std::string_view windowName, QWidget* window,
                   const std::function<void(CaptionWalk&)>& headings = {});

}  // namespace kalidrome
