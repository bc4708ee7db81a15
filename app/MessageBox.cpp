#include "MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <optional>

namespace kalidrome::ui {

namespace {
std::optional<Answer> g_nextAnswer;

std::optional<Answer> TakeNextAnswer() {
    auto a = g_nextAnswer;
    g_nextAnswer.reset();
    return a;
}
}  // namespace

bool NonInteractive() { return qEnvironmentVariableIntValue("KALIDROME_NONINTERACTIVE") == 1; }

void SetNextAnswer(Answer answer) { g_nextAnswer = answer; }

void ShowError(QWidget* parent, const QString& text) {
    std::fprintf(stderr, "kalidrome: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    if (TakeNextAnswer() || NonInteractive()) return;
    QMessageBox::critical(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

void ShowInformation(QWidget* parent, const QString& text) {
    if (TakeNextAnswer()) return;
    if (NonInteractive()) {
        std::fprintf(stderr, "kalidrome: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    QMessageBox::information(parent, QApplication::applicationName(), text, QMessageBox::Ok);
}

Answer AskYesNo(QWidget* parent, const QString& text) {
    if (auto a = TakeNextAnswer()) return *a;
    if (NonInteractive()) return Answer::No;
    auto r = QMessageBox::question(parent, QApplication::applicationName(), text,
                                   QMessageBox::Yes | QMessageBox::No);
    return r == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

}  // namespace kalidrome::ui
