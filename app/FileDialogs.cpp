#include "FileDialogs.h"

#include <QFileDialog>

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
}  // namespace

void SetNextFileNames(const QStringList& answer) { g_next = answer; }

std::optional<QString> AskSaveFileName(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& fileName, const QString& filter) {
    if (auto prepared = TakePrepared()) {
        if (!*prepared) return std::nullopt;
        return (*prepared)->first();
    }
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("kdl");
    // Overwriting a list is what saving is for: no question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> AskOpenFileName(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& filter) {
    if (auto prepared = TakePrepared()) {
        if (!*prepared) return std::nullopt;
        return (*prepared)->first();
    }
    QFileDialog dialog(parent, title, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix("kdl");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QStringList> AskOpenFileNames(QWidget* parent, const QString& title, const QString& folder,
                                            const QStringList& filters) {
    if (auto prepared = TakePrepared()) return *prepared;
    QFileDialog dialog(parent, title, folder);
    dialog.setNameFilters(filters);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles();
}

std::optional<QString> AskFolder(QWidget* parent, const QString& title, const QString& folder) {
    if (auto prepared = TakePrepared()) {
        if (!*prepared) return std::nullopt;
        return (*prepared)->first();
    }
    QString chosen = QFileDialog::getExistingDirectory(parent, title, folder);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
}

}  // namespace kalidrome::ui
