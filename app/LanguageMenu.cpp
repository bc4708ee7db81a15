#include "LanguageMenu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <cstdio>

#include "FindImages.h"
#include "LanguageNames.h"
#include "Settings.h"

namespace kalidrome {

namespace {
constexpr const char* kRestartMessage = "Kalidrome has to be restarted in order to change the Language.";
}  // namespace

LanguageMenu::LanguageMenu(QMenu* menu, IniFile& settings, std::string systemPath, Hooks hooks)
    : QObject(menu), m_menu(menu), m_group(new QActionGroup(this)), m_settings(settings),
      m_systemPath(std::move(systemPath)), m_hooks(std::move(hooks)) {
    // One tick at most, and none while no entry applies; every tick is set here.
    m_group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
}

void LanguageMenu::BuildLanguageMenu() {
    std::string folder = m_systemPath;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::vector<std::string> names = LanguageNamesFromFiles(FindImages(folder, "*.lng", false));
    const std::string stored =
        m_settings.readString(settings::kLanguages, settings::kCurrLanguage, settings::kCurrLanguageDefault);
    const std::string wanted = LowerAscii(stored);

    bool applied = false;
    QAction* english = nullptr;
    for (const std::string& name : names) {
        auto* entry = new QAction(QString::fromStdString(name), m_menu);
        entry->setCheckable(true);
        m_group->addAction(entry);
        if (LowerAscii(name) == wanted) {
            entry->setChecked(true);
            if (m_hooks.apply && m_hooks.apply(name)) applied = true;
        }
        if (name == "English") {
            entry->setObjectName(QStringLiteral("miEnglish1"));
            english = entry;
        }
        connect(entry, &QAction::triggered, this, [this, entry] { SelectLanguage(entry); });
        m_menu->addAction(entry);
    }
    if (!applied) {
        // The "English" entry shows the built-in captions; nothing else is ticked.
        if (QAction* checked = m_group->checkedAction()) checked->setChecked(false);
        if (english) english->setChecked(true);
    }
    m_ticked = m_group->checkedAction();
}

void LanguageMenu::SelectLanguage(QAction* entry) {
    const std::string language = entry->text().toStdString();
    if (!m_hooks.apply || !m_hooks.apply(language)) {
        // The file has gone since start-up: the tick stays where it was.
        entry->setChecked(false);
        if (m_ticked) m_ticked->setChecked(true);
        return;
    }
    try {
        m_settings.writeString(settings::kLanguages, settings::kCurrLanguage, LowerAscii(language));
    } catch (const IniWriteError& e) {
        std::fprintf(stderr, "kalidrome: %s\n", e.what());
    }
    entry->setChecked(true);
    m_ticked = entry;
    if (m_hooks.inform) m_hooks.inform(QString::fromStdString(m_hooks.translate ? m_hooks.translate(kRestartMessage) : kRestartMessage));
    if (m_hooks.restart) m_hooks.restart();
}

}  // namespace kalidrome
