#include "ListCommands.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>

#include "MainMenus.h"

namespace kalidrome {

ListCommands::ListCommands(WallpaperList& list, MainMenus& menus, QLabel& count, QPushButton& cycleButton)
    : m_list(list), m_menus(menus), m_count(count), m_cycleButton(cycleButton) {}

void ListCommands::setDeleteSelected(bool enabled) {
    // Both "Set as wallpaper" items and "Edit Image" follow "Delete selected".
    m_menus.actDeleteSelected1->setEnabled(enabled);
    m_menus.actSetWallpaper1->setEnabled(enabled);
    m_menus.miSetWallpaper2->setEnabled(enabled);
    m_menus.actEditImage1->setEnabled(enabled);
}

void ListCommands::RefreshListCommands(ListOccasion occasion) {
    const std::size_t n = m_list.count();
    const std::size_t sel = m_list.selectedCount();
    switch (occasion) {
    case ListOccasion::Added:
        m_count.setNum(static_cast<int>(n));
        setDeleteSelected(sel == 1 && n > 0);
        m_cycleButton.setEnabled(n > 0);
        break;
    case ListOccasion::Removed:
        m_count.setNum(static_cast<int>(n));
        setDeleteSelected(sel == 1);
        m_menus.actClearNonExisting1->setEnabled(n > 0);
        break;
    case ListOccasion::Loaded:
        m_count.setNum(static_cast<int>(n));
        break;
    case ListOccasion::Click:
        setDeleteSelected(sel >= 1 && n > 0);
        m_cycleButton.setEnabled(n > 0);
        break;
    case ListOccasion::SelectionChanged:
        setDeleteSelected(sel == 1 && n > 0);
        m_cycleButton.setEnabled(n > 0);
        break;
    }
}

void ListCommands::prepareContextMenu(bool listHasFocus, bool currentWallpaperExists, bool previewOpen) {
    setDeleteSelected(listHasFocus && m_list.selectedCount() >= 1);
    // Hidden in the menu bar too, until the menu next opens with the list focused.
    m_menus.actClearNonExisting1->setVisible(listHasFocus);
    m_menus.miCycle2->setEnabled(m_cycleButton.isEnabled() && m_menus.actCycle1->isEnabled());
    m_menus.actPreview1->setChecked(previewOpen);
    m_menus.actDeleteCurrentWallpaper1->setEnabled(currentWallpaperExists);
    m_menus.actClearAll1->setEnabled(!m_list.empty());
}

}  // namespace kalidrome
