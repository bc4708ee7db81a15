#pragma once

#include "PreferencesDialog.h"

namespace kalidrome {

class MainWindow;

// What the preferences dialog needs of the main window: the System folder, the translate
// operation (section "PrefForm"), the option setters in the order OK hands the values
// over, and the message boxes.
PreferencesDialog::Hooks PreferencesHooksFor(MainWindow& window);

// Translates a newly made dialog's fixed captions into the current language (nothing
// while no language is current).
void ApplyLanguageToPreferences(MainWindow& window, PreferencesDialog& dialog);

}  // namespace kalidrome
