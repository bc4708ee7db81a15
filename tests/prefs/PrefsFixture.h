#pragma once

// The preferences dialog on Qt's offscreen platform, over a System folder in a temporary
// folder, with hooks that record what the dialog hands to the main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EnvOverride.h"
#include "IniFile.h"
#include "PreferencesDialog.h"
#include "RuleEditor.h"
#include "TempDir.h"

namespace kalidrome::test {

class PrefsFixture : public ::testing::Test {
protected:
    PrefsFixture() : system(dir.file("System/")) { std::filesystem::create_directory(system); }

    std::string settingsPath() const { return system + "Settings.ini"; }
    IniFile settings() const { return IniFile(settingsPath()); }
    void writeSettings(const std::string& text) { WriteFile(settingsPath(), text); }
    std::string settingsText() const {
        return std::filesystem::exists(settingsPath()) ? ReadFile(settingsPath()) : std::string("<none>");
    }

    PreferencesDialog& open() {
        PreferencesDialog::Hooks hooks;
        hooks.systemPath = system;
        hooks.translate = translate;
        hooks.setDisableCycling = [this](bool v) { disableCyclingCalls.push_back(v); };
        hooks.apply = [this](const Options& v) -> std::optional<std::string> {
            applied.push_back(v);
            return std::nullopt;
        };
        hooks.confirm = [this](const QString& text) {
            confirmTexts.push_back(text);
            EXPECT_FALSE(answers.empty()) << "unexpected warning";
            if (answers.empty()) return false;
            const bool a = answers.front();
            answers.pop_front();
            return a;
        };
        hooks.showError = [this](const QString& text) { errors.push_back(text.toStdString()); };
        hooks.inform = [this](const QString& text) { informed.push_back(text.toStdString()); };
        dialog = std::make_unique<PreferencesDialog>(std::move(hooks));
        return *dialog;
    }

    template <typename T>
    T* child(const char* name) const {
        T* w = dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QCheckBox* box(const char* name) const { return child<QCheckBox>(name); }
    QLineEdit* field(const char* name) const { return child<QLineEdit>(name); }
    QComboBox* combo(const char* name) const { return child<QComboBox>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }

    void type(QWidget* target, int key, const QString& text) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &release);
    }
    void typeText(QWidget* target, const QString& text) {
        for (QChar c : text) type(target, c.isDigit() ? Qt::Key_0 + c.digitValue() : Qt::Key_A, QString(c));
    }

    TempDir dir;
    // The user's home (where the screen saver is installed), inside the temporary folder.
    EnvOverride home{"HOME", dir.file("home").c_str()};
    EnvOverride dataHome{"XDG_DATA_HOME", nullptr};
    std::string system;
    std::function<std::string(std::string_view)> translate;  // empty: English
    std::unique_ptr<PreferencesDialog> dialog;
    std::vector<bool> disableCyclingCalls;
    std::vector<Options> applied;
    std::vector<QString> confirmTexts;
    std::deque<bool> answers;
    std::vector<std::string> errors;
    std::vector<std::string> informed;
};

}  // namespace kalidrome::test
