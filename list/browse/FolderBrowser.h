#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "FindImages.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace kalidrome {

// frmBrowse1, "Browse for a folder": a small modal tool window with the folder tree of
// the file system. "&Add" appends every picture of the selected folder's tree to the list;
// the dialog stays open for more folders until it is closed.
//
// The tree is searched on a worker thread, in one walk for all four masks, so that a tree
// of a hundred thousand files leaves the window responsive: meanwhile the dialog shows a
// busy cursor and the number of pictures found so far, and its Close button turns into
// "&Cancel". Closing the dialog in mid-search stops the search and adds nothing.
class FolderBrowser : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        // Text in the "BrowseForm" section of the current language.
        std::function<std::string(std::string_view)> translate;
        // Appends the batch to the list (skipping pictures already listed) and brings the
        // main window's count line and commands up to date.
        std::function<void(std::vector<std::string>)> addFiles;
        // The program's own System folder: never searched, so its pictures (the overlays,
        // WallPaper.bmp) never reach the list.
        std::string systemFolder;
    };

    // The masks, searched in this order over the whole tree each.
    static const std::vector<std::string>& PictureMasks();
    // How often the count of pictures found is brought up to date during a search.
    static constexpr int kProgressIntervalMs = 200;

    FolderBrowser(QWidget* mainWindow, Hooks hooks);
    ~FolderBrowser() override;

    // The selected folder's path, or empty with none selected.
    QString selectedFolder() const;
    // Opens the tree down to folder and selects it; false when it is not in the tree.
    bool selectFolder(const QString& folder);
    bool searching() const { return m_search.joinable(); }
    // Stops a running search; nothing is added. The dialog stays open.
    void cancelSearch();

signals:
    // A search has ended: added is false when it was cancelled or failed.
    void searchEnded(bool added);

protected:
    void showEvent(QShowEvent* event) override;
    // Every way of closing (Close, the title bar, Esc) ends here: a search stops first.
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildTree();
    void fillFolder(QTreeWidgetItem* item);
    void selectionChanged();
    // The chosen folder in the path label, shortened to the label's width.
    void showPath();
    void addClicked();
    void closeClicked();
    void searchDone(unsigned number, std::vector<std::string> found, bool complete);
    void endSearchState();
    void stopSearch();
    void showProgress();
    QString text(std::string_view english) const;

    Hooks m_hooks;
    QTreeWidget* m_tree;
    QWidget* m_bottom;
    QLabel* m_label;
    QLabel* m_path;
    QLabel* m_found;
    QPushButton* m_add;
    QPushButton* m_close;
    QTimer* m_progressTimer;
    FindProgress m_progress;
    std::thread m_search;
    // Tells a finished search's result from that of one cancelled before it.
    unsigned m_searchNumber = 0;
};

}  // namespace kalidrome
