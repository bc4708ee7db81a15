#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace kalidrome::ui {

// The file dialogs the commands open. Tests answer them in advance (SetNextFileNames;
// an empty list answers Cancel); in a non-interactive run (KALIDROME_NONINTERACTIVE=1)
// every dialog is cancelled.
std::optional<QString> AskSaveFileName(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& fileName, const QString& filter);
std::optional<QString> AskOpenFileName(QWidget* parent, const QString& title, const QString& folder,
                                       const QString& filter);
std::optional<QStringList> AskOpenFileNames(QWidget* parent, const QString& title, const QString& folder,
                                            const QStringList& filters);
std::optional<QString> AskFolder(QWidget* parent, const QString& title, const QString& folder);

void SetNextFileNames(const QStringList& answer);

}  // namespace kalidrome::ui
