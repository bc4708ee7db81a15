#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "DefiniteDate.h"

class QAction;
class QComboBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;

namespace kalidrome {

class IniFile;

// The "Time Based Cycling" page of the preferences dialog: the calendar rules of section
// DefiniteDate, built from a number and a kind, listed, deleted and cleared. What a rule
// means and how it is stored is RuleList's and BuildRule's (cycle/DefiniteDate.h); this
// page only shows them.
//
// Controls (object names as the language files and tests know them): Label9, Label12,
// lbList1 (the rules; context menu Delete1, Clear1), Label10, cbNr1 (the number box),
// cbList1 (the kind list), btnAdd1.
class RuleEditor : public QWidget {
    Q_OBJECT
public:
    struct Hooks {
        // The translate operation with section "PrefForm"; empty means English.
        std::function<std::string(std::string_view)> translate;
        // The error box, for a number that does not convert.
        std::function<void(const QString&)> showError;
    };

    explicit RuleEditor(Hooks hooks, QWidget* parent = nullptr);

    // The rules as Settings.ini holds them now; texts are shown as stored.
    void load(const IniFile& settings);
    // Stores the list (RuleList::Save). Throws IniWriteError.
    void save(IniFile& settings) const;
    const RuleList& rules() const { return m_rules; }

    // Add: the line built from the number box and the kind list, appended at the end.
    void addRule();
    // Delete: the selected line, if any.
    void deleteRule();
    // Clear: every line.
    void clearRules();
    // Run each time the context menu opens: Delete needs a selected line, Clear a line.
    void prepareContextMenu();
    QMenu* contextMenu() const { return m_menu; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::string translate(std::string_view text) const;
    void numberChanged(const QString& text);

    Hooks m_hooks;
    RuleList m_rules;
    QLabel* m_label9;
    QLabel* m_label12;
    QListWidget* m_list;
    QLabel* m_label10;
    QComboBox* m_number;
    QComboBox* m_kinds;
    QPushButton* m_add;
    QMenu* m_menu;
    QAction* m_delete;
    QAction* m_clear;
};

}  // namespace kalidrome
