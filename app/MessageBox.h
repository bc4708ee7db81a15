#pragma once

#include <QString>

class QWidget;

namespace kalidrome::ui {

enum class Answer { Ok, Yes, No };

// The application's standard error box: modal, the message text and an OK button.
// The text is also written to standard error.
void ShowError(QWidget* parent, const QString& text);

// An information box with an OK button (a line on standard error when non-interactive).
void ShowInformation(QWidget* parent, const QString& text);

// A confirmation box with Yes and No.
Answer AskYesNo(QWidget* parent, const QString& text);

// Tests answer the next box in advance instead of clicking it; the answer is used once.
void SetNextAnswer(Answer answer);

// With KALIDROME_NONINTERACTIVE=1 in the environment no box is shown: errors go to
// standard error only and questions are answered No. Meant for scripted runs.
bool NonInteractive();

}  // namespace kalidrome::ui
