#pragma once

#include "WallpaperList.h"

class QLabel;
class QPushButton;

namespace kalidrome {

class MainMenus;
class WallpaperListView;

// Why the list's commands are brought up to date.
enum class ListOccasion { Added, Removed, Loaded, Click, SelectionChanged };

// Keeps the count line and the list-dependent commands in step with the list and its
// selection, by occasion, and applies the rules that run each time the context menu opens.
class ListCommands {
public:
    ListCommands(WallpaperList& list, MainMenus& menus, QLabel& count, QPushButton& cycleButton);

    void RefreshListCommands(ListOccasion occasion);

    // Before the context menu shows. listHasFocus: the list has the keyboard focus.
    // currentWallpaperExists: a file exists at CurrentWallpaper. previewOpen: the preview
    // window is open.
    void prepareContextMenu(bool listHasFocus, bool currentWallpaperExists, bool previewOpen);

private:
    void setDeleteSelected(bool enabled);

    WallpaperList& m_list;
    MainMenus& m_menus;
    QLabel& m_count;
    QPushButton& m_cycleButton;
};

}  // namespace kalidrome
