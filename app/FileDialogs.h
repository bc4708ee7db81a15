#pragma once

#include <QFileIconProvider>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>
#include <QStringList>
#include <optional>

class QFileDialog;
class QWidget;

namespace kalidrome::ui {

// The file dialogs the commands open. Tests answer them in advance (SetNextFileNames;
// an empty list answers Cancel); in a non-interactive run (KALIDROME_NONINTERACTIVE=1)
// every dialog is cancelled.
//
// A filter is written as the user reads it, "All (*.jpg;*.jpeg;*.bmp;*.png)": the
// patterns in its last parentheses, split at ";" or blanks, pick files whatever the
// letter case of their names, and the label is shown once, as written.
std::optional<QString> AskSaveFileName(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& fileName, const QString& filter);
std::optional<QString> AskOpenFileName(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& filter);
std::optional<QStringList> AskOpenFileNames(QWidget* parent, const QString& title, const QString& folder,
                                            const QStringList& filters);

void SetNextFileNames(const QStringList& answer);

// The Add dialog's filters: "All (*.jpg;*.jpeg;*.bmp;*.png)", then one per kind.
QStringList PictureFilters();

// Icons and type names of a folder listing from names and stat() alone. Qt's own provider
// reads the first bytes of any file whose name does not give its type, which blocks for
// ever on /proc/kmsg (and reads it away) or on a slow network file; this one never opens
// a file. Safe to use from the listing's worker thread. For every QFileSystemModel the
// program shows.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    NameOnlyIconProvider();
    QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

private:
    QMimeDatabase m_mime;
    QIcon m_folder;
    QIcon m_file;
};

// The one provider every dialog shares (made on first use, on the user-interface thread;
// it lives as long as the program, since listing threads may still hold it).
NameOnlyIconProvider& SharedIconProvider();

// Turns a dialog (made without a folder) into one of ours: Qt's own dialog on every
// desktop, the name-only icon provider, the filters as above; then opens the folder.
void PrepareFileDialog(QFileDialog& dialog, const QString& folder, const QStringList& filters);

// The Qt filter for a label as written above: "All (*.jpg;*.png)" becomes
// "All (*.jpg;*.png) (*.jpg *.png)", which the dialog shows as the label alone.
QString QtNameFilter(const QString& label);

}  // namespace kalidrome::ui
