#include "ApplyLanguage.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>

namespace kalidrome {

CaptionWalk::CaptionWalk(const std::string& languageFilePath, std::string_view section)
    : m_file(languageFilePath), m_section(section) {}

QString CaptionWalk::translated(const QString& text) const {
    const std::string value = m_file.lookup(text.toStdString(), m_section);
    return value.empty() ? text : QString::fromStdString(value);
}

bool CaptionWalk::firstVisit(const QObject* element) { return element && m_done.insert(element).second; }

void CaptionWalk::action(QAction* a) {
    if (!firstVisit(a) || a->isSeparator()) return;
    a->setText(translated(a->text()));
}

void CaptionWalk::button(QAbstractButton* b) {
    if (firstVisit(b)) b->setText(translated(b->text()));
}

void CaptionWalk::label(QLabel* l) {
    if (firstVisit(l)) l->setText(translated(l->text()));
}

void CaptionWalk::menuEntries(QMenu* menu) {
    if (!menu) return;
    for (QAction* a : menu->actions()) action(a);
}

void CaptionWalk::menuBar(QMenuBar* bar) {
    if (!bar) return;
    for (QAction* top : bar->actions()) {
        action(top);
        menuEntries(top->menu());
    }
}

void WalkMainForm(CaptionWalk& walk, QMainWindow& window, const std::function<void(CaptionWalk&)>& headings) {
    walk.menuBar(window.menuBar());
    if (headings) headings(walk);
    walk.menuEntries(window.findChild<QMenu*>(QStringLiteral("pmnMain1")));
    walk.menuEntries(window.findChild<QMenu*>(QStringLiteral("miOptions2")));
    for (const char* name : {"btnAdd1", "btnCycle1"})
        walk.button(window.findChild<QAbstractButton*>(QLatin1String(name)));
    if (auto* before = window.findChild<QLabel*>(QStringLiteral("lblThereAre1"))) {
        walk.label(before);
        if (!before->text().endsWith(u' ')) before->setText(before->text() + u' ');
    }
    if (auto* after = window.findChild<QLabel*>(QStringLiteral("lblFilesListed1"))) {
        walk.label(after);
        if (!after->text().startsWith(u' ')) after->setText(u' ' + after->text());
    }
}

void WalkPreferencesForm(CaptionWalk& walk, QWidget& dialog) {
    if (auto* pages = dialog.findChild<QTabWidget*>(QStringLiteral("pgcOptions1"))) {
        for (int i = 0; i < pages->count(); ++i) {
            pages->setTabText(i, walk.translated(pages->tabText(i)));
            for (QWidget* w : pages->widget(i)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (auto* box = qobject_cast<QCheckBox*>(w)) walk.button(box);
                else if (auto* label = qobject_cast<QLabel*>(w)) walk.label(label);
                else if (auto* button = qobject_cast<QPushButton*>(w)) walk.button(button);
            }
        }
    }
    if (auto* kinds = dialog.findChild<QComboBox*>(QStringLiteral("cbList1")))
        for (int i = 0; i < kinds->count(); ++i) kinds->setItemText(i, walk.translated(kinds->itemText(i)));
    walk.menuEntries(dialog.findChild<QMenu*>(QStringLiteral("pmList1")));
    if (auto* rules = dialog.findChild<QWidget*>(QStringLiteral("tsTimeBased1")))
        walk.button(rules->findChild<QAbstractButton*>(QStringLiteral("btnAdd1")));
    for (const char* name : {"btnOK1", "btnCancel1"})
        walk.button(dialog.findChild<QAbstractButton*>(QLatin1String(name)));
}

bool ApplyLanguage(Translator& translator, std::string_view language, std::string_view windowName, QWidget* window,
                   const std::function<void(CaptionWalk&)>& headings) {
    if (!translator.LanguageFileExists(language)) return false;
    const std::string path = translator.LanguageFilePath(language);
    if (windowName == kMainFormWindow) {
        CaptionWalk walk(path, lang::kMainForm);
        if (auto* main = qobject_cast<QMainWindow*>(window)) WalkMainForm(walk, *main, headings);
        translator.SetShowCaption(walk.translated(QString::fromUtf8(Translator::kDefaultShowCaption)).toStdString());
        translator.SetHideCaption(walk.translated(QString::fromUtf8(Translator::kDefaultHideCaption)).toStdString());
    } else if (windowName == kPreferencesFormWindow) {
        CaptionWalk walk(path, lang::kPrefForm);
        if (window) WalkPreferencesForm(walk, *window);
    }
    translator.SetCurrentLanguage(language);
    return true;
}

}  // namespace kalidrome
