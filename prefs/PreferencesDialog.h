#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Options.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace kalidrome {

class RuleEditor;

// The options dialog ("frmOptions1"): every option of section Options on the pages
// "Basic Options", "Screensaver" and "Advanced Options", and the calendar rules on
// "Time Based Cycling" (RuleEditor). Made anew at every opening, it shows what
// Settings.ini holds at that moment; a key that is missing shows the value the main window
// uses when it is missing, so OK without a change changes nothing.
//
// The check boxes of the Basic page read the key named after them ("chkShowTray1" reads
// ShowTray); the Don't-stretch-smaller box shows the opposite of StretchSmaller.
//
// At once, without OK: the Disable box hands its state to the main window (timer, check
// mark, key); the Immediately-close box, after the user confirms the warning, stores
// CloseImmediately and writes the marker file DontStartup.kdf (a refused warning unticks
// the box again). Loading the boxes runs neither.
//
// The Advanced page also holds two options of this program's own, off by default: a picture
// for each monitor (PicturePerMonitor) and, with it, pictures of the monitor's shape
// (MatchOrientation; the box is enabled only while the first is ticked). OK writes them only
// when their box was changed, so that a Settings.ini without them stays without them.
//
// OK refuses an interval that is empty or does not fit a whole number ("'<text>' is not a
// valid integer value") and writes nothing; otherwise it writes the Basic page and both
// intervals, hands the values over and closes. Cancel and the close box write nothing of
// the first three pages. The rules are stored at every close.
class PreferencesDialog : public QDialog {
    Q_OBJECT
public:
    enum Page { kBasicPage = 0, kScreensaverPage = 1, kAdvancedPage = 2, kTimeBasedPage = 3 };

    struct Hooks {
        // The System folder, ending with "/": Settings.ini and DontStartup.kdf are there.
        std::string systemPath;
        // The translate operation with section "PrefForm"; empty means English.
        std::function<std::string(std::string_view)> translate;
        // The main window's SetDisableCycling, at once.
        std::function<void(bool)> setDisableCycling;
        // OK's hand-over to the main window, which takes them in this order: the setters
        // SetDisableCycling, SetShowTray, SetRandom, SetGreyScale, SetStretchLarger and
        // SetStretchSmaller; Res1 and Res2; Interval (which restarts the countdown);
        // ShowImages and SaveImage (the list is laid out again). UseMask and CurrIndex are
        // not the dialog's and stay as they were. Returns what went wrong (told by OK, in
        // the same box as its own failure), or nothing.
        std::function<std::optional<std::string>(const Options&)> apply;
        // A warning with OK and Cancel; true when the user chose OK.
        std::function<bool(const QString&)> confirm;
        // The application's error box.
        std::function<void(const QString&)> showError;
        // An information box with an OK button.
        std::function<void(const QString&)> inform;
    };

    explicit PreferencesDialog(Hooks hooks, QWidget* parent = nullptr);

    void selectPage(int index);
    int currentPage() const;

    // The cycle timer's tick, while the dialog is open: the seconds left.
    void showCountdown(std::int32_t seconds);

    RuleEditor& ruleEditor() const { return *m_rules; }

    // OK: check, store, hand over, close.
    void okClicked();

    // "&Create Screensaver" / "&Delete Screensaver" (ScreensaverInstaller.h): removes an
    // installed screen saver without a word; otherwise installs it and tells how that went.
    // Then the label and the button say what the next press will do.
    void screensaverClicked();

    // Every close (OK, Cancel, the close box, a newer opening) stores the rules.
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildBasicPage(QWidget* page);
    void buildScreensaverPage(QWidget* page);
    void buildAdvancedPage(QWidget* page);
    void load();
    // The System folder, shortened to the width its label has now.
    void showSystemPath();
    std::string translate(std::string_view text) const;
    void showError(const QString& text);
    void applyCyclingEnabled();
    void disableCyclingClicked(bool checked);
    void closeImmediatelyClicked(bool checked);
    void lowProfileClicked(bool checked);
    // The Screensaver page's label and button for the installed or not-installed state, in
    // English (load translates them with the rest) or translated.
    void showScreensaverState(bool translated);
    // The first interval field that does not convert (its page in front), or nothing.
    bool intervalsValid();

    Hooks m_hooks;
    QTabWidget* m_pages;
    QWidget* m_basic;
    QCheckBox* m_disableCycling = nullptr;
    QLabel* m_cycleLabel = nullptr;
    QLineEdit* m_interval = nullptr;
    QLabel* m_timer = nullptr;
    QCheckBox* m_random = nullptr;
    QCheckBox* m_greyscale = nullptr;
    QCheckBox* m_stretchLarger = nullptr;
    QComboBox* m_res1 = nullptr;
    QCheckBox* m_stretchSmaller = nullptr;
    QComboBox* m_res2 = nullptr;
    QCheckBox* m_showTray = nullptr;
    QCheckBox* m_showImages = nullptr;
    QCheckBox* m_saveImage = nullptr;
    QLabel* m_ssLabel = nullptr;
    QPushButton* m_ssButton = nullptr;
    QLineEdit* m_ssInterval = nullptr;
    QCheckBox* m_closeImmediately = nullptr;
    QCheckBox* m_lowProfile = nullptr;
    QCheckBox* m_picturePerMonitor = nullptr;
    QCheckBox* m_matchOrientation = nullptr;
    // What the two monitor boxes showed when loaded: OK writes a key only when its box changed.
    bool m_loadedPerMonitor = false;
    bool m_loadedMatch = true;
    QLabel* m_systemPath = nullptr;
    RuleEditor* m_rules = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_rulesStored = false;
};

}  // namespace kalidrome
