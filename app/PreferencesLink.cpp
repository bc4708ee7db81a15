#include "PreferencesLink.h"

#include <QApplication>
#include <QMessageBox>
#include <optional>

#include "ApplyLanguage.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "Settings.h"
#include "WallpaperListView.h"

namespace kalidrome {

void ApplyLanguageToPreferences(MainWindow& window, PreferencesDialog& dialog) {
    const std::string language = window.translator().CurrentLanguage();
    if (!language.empty()) window.ApplyLanguage(language, kPreferencesFormWindow, &dialog);
}

namespace {

// Boxes go over the open dialog, else over the main window.
QWidget* BoxParent(MainWindow& window) {
    return QApplication::activeModalWidget() ? QApplication::activeModalWidget() : &window;
}

}  // namespace

PreferencesDialog::Hooks PreferencesHooksFor(MainWindow& window) {
    PreferencesDialog::Hooks hooks;
    hooks.systemPath = window.systemPath();
    hooks.translate = [&window](std::string_view text) { return window.translator().Translate(text, "PrefForm"); };
    hooks.setDisableCycling = [&window](bool value) { window.optionState().SetDisableCycling(value); };
    hooks.apply = [&window](const Options& v) {
        OptionState& state = window.optionState();
        // Settings.ini refusing a write must not keep the later values from taking effect;
        // the first such error goes back to the dialog, which tells it once. The keys the
        // setters write reach the file in one rewrite.
        std::optional<std::string> firstError;
        IniFile::Batch batch(state.settingsFile());
        auto step = [&firstError](auto&& run) {
            try {
                run();
            } catch (const std::exception& e) {
                if (!firstError) firstError = e.what();
            }
        };
        step([&] { state.SetDisableCycling(v.DisableCycling); });
        step([&] { state.SetShowTray(v.ShowTray); });
        state.SetRandom(v.Random);
        step([&] { state.SetGreyScale(v.GreyScale); });
        state.SetStretchLarger(v.StretchLarger);
        state.SetStretchSmaller(v.StretchSmaller);
        Options& options = state.options();
        options.Res1 = v.Res1;
        options.Res2 = v.Res2;
        state.AssignInterval(v.Interval);  // the countdown starts again from the full interval
        options.ShowImages = v.ShowImages;
        options.SaveImage = v.SaveImage;
        options.PicturePerMonitor = v.PicturePerMonitor;
        options.MatchOrientation = v.MatchOrientation;
        // Every row takes the height, and the first column the width, that ShowImages calls for.
        WallpaperListView& view = window.listView();
        view.setShowImages(v.ShowImages);
        for (std::size_t i = 0; i < window.list().count(); ++i) view.LayOutRow(window.list().at(i));
        view.fitFirstColumn();
        step([&] { batch.commit(); });
        return firstError;
    };
    hooks.confirm = [&window](const QString& text) {
        if (ui::NonInteractive()) return false;
        return QMessageBox::warning(BoxParent(window), QApplication::applicationName(), text,
                                    QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    hooks.showError = [&window](const QString& text) {
        ui::ShowError(BoxParent(window), text);
    };
    hooks.inform = [&window](const QString& text) {
        ui::ShowInformation(BoxParent(window), text);
    };
    return hooks;
}

}  // namespace kalidrome
