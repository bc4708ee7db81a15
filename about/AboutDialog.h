#pragma once

#include <QDialog>
#include <QPixmap>
#include <string>

#include "VersionInfo.h"

class QLabel;

namespace kalidrome {

// ReadFileVersionInfo (path): the version record of a PE or ELF file (see VersionInfo.h)
// and FileType, the desktop's description of the file's type (its MIME comment, at most
// 80 characters). A file that is not an executable gives FileType alone.
TFileVersionInfo ReadFileVersionInfo(const std::string& path);

// The About box: the program's logo, title, version, author, notice, web page and a
// scrolling list of thanks. Not translated. Clicking the logo or the web address opens
// the page in the default browser; clicking the author's name starts a mail message.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kWebPage = "https://kalidrome.github.io/";
    static constexpr const char* kAuthor = "Kalidrome team";
    static constexpr const char* kMailAddress = "kalidrome@users.noreply.github.com";

    // fileVersion: the FileVersion string the main window read at start.
    AboutDialog(const QString& fileVersion, const QPixmap& logo, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_logo;
    QLabel* m_author;
    QLabel* m_link;
};

}  // namespace kalidrome
