#include "FileDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStyle>

#include "MessageBox.h"

namespace kalidrome::ui {

namespace {
std::optional<QStringList> g_next;

// The prepared answer, if any: nullopt means "ask the user".
std::optional<std::optional<QStringList>> TakePrepared() {
    if (g_next) {
        auto answer = *g_next;
        g_next.reset();
        if (answer.isEmpty()) return std::optional<QStringList>{};
        return std::optional<QStringList>{answer};
    }
    if (NonInteractive()) return std::optional<QStringList>{};
    return std::nullopt;
}

std::optional<QString> First(const std::optional<QStringList>& answer) {
    if (!answer || answer->isEmpty()) return std::nullopt;
    return answer->first();
}

std::optional<QStringList> Run(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles();
}
}  // namespace

void SetNextFileNames(const QStringList& answer) { g_next = answer; }

QStringList PictureFilters() {
    return {
        QStringLiteral("All (*.jpg;*.jpeg;*.bmp;*.png)"),
        QStringLiteral("JPEG Image File (*.jpg)"),
        QStringLiteral("JPEG Image File (*.jpeg)"),
        QStringLiteral("Bitmaps (*.bmp)"),
        QStringLiteral("Portable Network Graphics (*.png)"),
    };
}

// --- icons by name -------------------------------------------------------------------

NameOnlyIconProvider::NameOnlyIconProvider()
    : m_folder(QFileIconProvider::icon(Folder)), m_file(QFileIconProvider::icon(File)) {}

QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const {
    // QFileInfo answers these from stat(); nothing here opens the file.
    if (info.isDir()) return m_folder;
    if (!info.isFile()) return m_file;  // FIFO, device, socket, dangling link
    const QMimeType type = m_mime.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    for (const QString& name : {type.iconName(), type.genericIconName()}) {
        const QIcon themed = QIcon::fromTheme(name);
        if (!themed.isNull()) return themed;
    }
    return m_file;
}

QString NameOnlyIconProvider::type(const QFileInfo& info) const {
    // Qt's answer for folders, links and special files comes from stat() alone; only a
    // regular file would be read.
    if (!info.isFile()) return QFileIconProvider::type(info);
    const QMimeType type = m_mime.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    return type.comment().isEmpty() ? type.name() : type.comment();
}

NameOnlyIconProvider& SharedIconProvider() {
    static auto* provider = new NameOnlyIconProvider;  // never deleted: see the header
    return *provider;
}

// --- dialogs -------------------------------------------------------------------------

QString QtNameFilter(const QString& label) {
    static const QRegularExpression lastParentheses(QStringLiteral("\\(([^()]*)\\)\\s*$"));
    const QRegularExpressionMatch match = lastParentheses.match(label);
    QStringList patterns;
    if (match.hasMatch())
        patterns = match.captured(1).split(QRegularExpression(QStringLiteral("[;\\s]+")), Qt::SkipEmptyParts);
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    return label.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

void PrepareFileDialog(QFileDialog& dialog, const QString& folder, const QStringList& filters) {
    // Qt's own dialog, the same on every desktop: a desktop's dialog brings its own
    // filters (letter case counts there) and its own ways of reading folders.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(&SharedIconProvider());
    // Filters match "photo.JPG" and "photo.Jpg" as well as "photo.jpg".
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (!filters.isEmpty()) {
        QStringList qtFilters;
        for (const QString& label : filters) qtFilters << QtNameFilter(label);
        dialog.setNameFilters(qtFilters);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
    }
    if (!folder.isEmpty()) dialog.setDirectory(folder);
}

std::optional<QString> AskSaveFileName(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& fileName, const QString& filter) {
    if (auto prepared = TakePrepared()) return First(*prepared);
    QFileDialog dialog(parent, title);
    PrepareFileDialog(dialog, folder, {filter});
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("kdl");
    // Overwriting a list is what saving is for: no question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(fileName);
    return First(Run(dialog));
}

std::optional<QString> AskOpenFileName(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& filter) {
    if (auto prepared = TakePrepared()) return First(*prepared);
    QFileDialog dialog(parent, title);
    PrepareFileDialog(dialog, folder, {filter});
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix("kdl");
    return First(Run(dialog));
}

std::optional<QStringList> AskOpenFileNames(QWidget* parent, const QString& title, const QString& folder,
                                            const QStringList& filters) {
    if (auto prepared = TakePrepared()) return *prepared;
    QFileDialog dialog(parent, title);
    PrepareFileDialog(dialog, folder, filters);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly);
    return Run(dialog);
}

}  // namespace kalidrome::ui
