// Languages in the main window on Qt's offscreen platform: the language menu built from
// the System folder's files, the stored choice applied in any letter case, the captions
// a walk translates (once each), and choosing a language.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QActionGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>

#include "CaseName.h"
#include "LanguageMenu.h"
#include "MainMenus.h"
#include "MainWindowFixture.h"
#include "MessageBox.h"
#include "PreferencesLink.h"

namespace kalidrome::test {
namespace {

std::string Shipped(const std::string& name) {
    return ReadFile(std::string(std::getenv("KALIDROME_SOURCE_DIR")) + "/data/System/" + name);
}

class LanguageTest : public MainWindowFixture {
protected:
    void language(const std::string& fileName, const std::string& content) { WriteFile(system + fileName, content); }
    void shipped() {
        language("Deutsch.lng", Shipped("Deutsch.lng"));
        language("English.lng", Shipped("English.lng"));
    }
    void storeChoice(const std::string& value) { settings().writeString("Languages", "CurrLanguage", value); }

    QStringList entries() const {
        QStringList names;
        for (QAction* a : window->menus().languageMenu()->actions()) names << a->text();
        return names;
    }
    QString ticked() const {
        for (QAction* a : window->menus().languageMenu()->actions())
            if (a->isChecked()) return a->text();
        return {};
    }
    QAction* entry(const QString& name) const {
        for (QAction* a : window->menus().languageMenu()->actions())
            if (a->text() == name) return a;
        return nullptr;
    }
    QString text(const char* objectName) const {
        if (auto* label = window->findChild<QLabel*>(objectName)) return label->text();
        if (auto* button = window->findChild<QPushButton*>(objectName)) return button->text();
        if (auto* action = window->findChild<QAction*>(objectName)) return action->text();
        ADD_FAILURE() << "no " << objectName;
        return {};
    }
    QString heading(int column) const {
        return window->listView().model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    }
    QStringList menuBarTitles() const {
        QStringList titles;
        for (QAction* a : window->menuBar()->actions()) titles << a->text();
        return titles;
    }

    void expectGerman() {
        EXPECT_EQ(window->translator().CurrentLanguage(), "Deutsch");
        EXPECT_EQ(ticked(), "Deutsch");
        EXPECT_EQ(menuBarTitles(), (QStringList{"&Datei", "&Bearbeiten", "E&xtras", "&Optionen", "&Hilfe"}));
        EXPECT_EQ(text("actClose1"), "&Beenden") << "held as \"C&lose      \"";
        EXPECT_EQ(text("actClearNonExisting1"), "&Fehlende entfernen");
        EXPECT_EQ(text("miShowHide1"), "&Anzeigen");
        EXPECT_EQ(text("actStartWithWindows1"), "Bei der An&meldung starten");
        EXPECT_EQ(window->menus().miLanguage1->text(), "S&prache");
        EXPECT_EQ(text("btnAdd1"), "&Hinzufügen");
        EXPECT_EQ(text("btnCycle1"), "&Wechseln!");
        EXPECT_EQ(text("lblThereAre1"), "Es sind ");
        EXPECT_EQ(text("lblFilesListed1"), " Dateien aufgeführt:");
        EXPECT_EQ(heading(0), "Dateiname");
        EXPECT_EQ(heading(1), "Pfad");
        EXPECT_EQ(window->translator().ShowCaption(), "&Anzeigen");
        EXPECT_EQ(window->translator().HideCaption(), "&Ausblenden");
        EXPECT_EQ(window->translator().Translate("sec", "MainForm"), "Sek.");
    }

    void expectEnglish() {
        EXPECT_EQ(window->translator().CurrentLanguage(), "");
        EXPECT_EQ(menuBarTitles(), (QStringList{"&File", "&Edit", "&Tools", "&Options", "&Help"}));
        EXPECT_EQ(text("actClose1"), "C&lose      ");
        EXPECT_EQ(text("lblThereAre1"), "There are ");
        EXPECT_EQ(heading(0), "Filename");
        EXPECT_EQ(window->translator().ShowCaption(), "S&how");
    }
};

class StoredChoice : public LanguageTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(StoredChoice, AppliesTheFileWhateverTheLetterCase) {
    shipped();
    storeChoice(GetParam());
    create();
    expectGerman();
    EXPECT_EQ(entries(), (QStringList{"Deutsch", "English"}));
    ASSERT_NE(window->findChild<QAction*>("miEnglish1"), nullptr);
    EXPECT_EQ(window->findChild<QAction*>("miEnglish1")->text(), "English");
}

INSTANTIATE_TEST_SUITE_P(LanguageMenu, StoredChoice, ::testing::Values("deutsch", "DEUTSCH", "Deutsch"),
                         [](const auto& c) { return CaseName(c.param); });

TEST_F(LanguageTest, WithoutAStoredChoiceEnglishIsTickedAndApplied) {
    shipped();
    create();
    EXPECT_EQ(ticked(), "English");
    EXPECT_EQ(window->translator().CurrentLanguage(), "English");
    EXPECT_EQ(text("actClose1"), "C&lose") << "English.lng has the entry without the blanks";
}

TEST_F(LanguageTest, NoLanguageFilesLeaveAnEmptyMenuAndEnglish) {
    create();
    EXPECT_TRUE(entries().isEmpty());
    expectEnglish();
}

TEST_F(LanguageTest, AStoredChoiceWithoutAFileTicksEnglishAndAppliesNothing) {
    shipped();
    storeChoice("francais");
    create();
    EXPECT_EQ(ticked(), "English");
    expectEnglish();
}

TEST_F(LanguageTest, ListingIsSortedWithCaseTwinsFoldedAndOnlyEnglishIsMiEnglish1) {
    language("Zulu.lng", "[WordList#MainForm]\n&File=&Ifayela\n");
    language("english.lng", "[WordList#MainForm]\n&File=&lower\n");
    language("Francais.old.lng", "[WordList#MainForm]\n&File=&Fichier\n");
    language("Notes.txt", "");
    std::filesystem::create_directory(system + "Folder.lng");
    create();
    EXPECT_EQ(entries(), (QStringList{"english", "Francais.old", "Zulu"}));
    // The default choice "english" matches the lower-case file, which is no miEnglish1.
    EXPECT_EQ(ticked(), "english");
    EXPECT_EQ(menuBarTitles().front(), "&lower");
    EXPECT_EQ(window->findChild<QAction*>("miEnglish1"), nullptr);

    // Both spellings of English: one entry, "English", which is miEnglish1.
    language("English.lng", "[WordList#MainForm]\n&File=&Upper\n");
    storeChoice("klingon");
    create();
    EXPECT_EQ(entries(), (QStringList{"English", "Francais.old", "Zulu"}));
    EXPECT_EQ(ticked(), "English");
    EXPECT_NE(window->findChild<QAction*>("miEnglish1"), nullptr);
    expectEnglish();
}

TEST_F(LanguageTest, EachElementIsTranslatedOnceAndBlanksSurroundTheCount) {
    // "&Add" sits in the menu bar, the context menu and on a button; a second look-up
    // would turn "&Plus" into "&Wrong".
    language("Test.lng",
             "[WordList#MainForm]\n&Add=&Plus\n&Plus=&Wrong\nThere are=Es sind\nfiles listed:=Dateien\n"
             "C&LOSE=&Ende\n&Edit=\n");
    storeChoice("test");
    create();
    EXPECT_EQ(text("actAdd1"), "&Plus");
    EXPECT_EQ(text("btnAdd1"), "&Plus");
    EXPECT_EQ(text("lblThereAre1"), "Es sind ");
    EXPECT_EQ(text("lblFilesListed1"), " Dateien");
    EXPECT_EQ(text("actClose1"), "&Ende");
    EXPECT_EQ(text("miClose2"), "&Ende");
    EXPECT_EQ(menuBarTitles()[1], "&Edit") << "an empty value leaves the caption";
    // The language names are not walked.
    EXPECT_EQ(entries(), (QStringList{"Test"}));
}

TEST_F(LanguageTest, AWindowFileInWindows1252IsRead) {
    language("Deutsch.lng", "[WordList#MainForm]\n&Add=&Hinzuf\xFCgen\nThere are=Es gibt \x84viele\x93\n");
    storeChoice("deutsch");
    create();
    EXPECT_EQ(text("btnAdd1"), "&Hinzufügen");
    EXPECT_EQ(text("lblThereAre1"), "Es gibt \u201Eviele\u201C ");
}

TEST_F(LanguageTest, ASecondLanguageLeavesTranslatedCaptions) {
    shipped();
    language("Other.lng", "[WordList#MainForm]\n&File=&Other\n&Datei=&Nein\n&Tools=&Werkzeug\n");
    storeChoice("deutsch");
    create();
    EXPECT_TRUE(window->ApplyLanguage("Other", "MainForm", window.get()));
    EXPECT_EQ(menuBarTitles().front(), "&Nein") << "looked up under the caption it holds";
    EXPECT_EQ(window->translator().CurrentLanguage(), "Other");
    EXPECT_FALSE(window->ApplyLanguage("Missing", "MainForm", window.get()));
    EXPECT_EQ(window->translator().CurrentLanguage(), "Other");
    // Another window name translates nothing but makes the language current.
    EXPECT_TRUE(window->ApplyLanguage("Deutsch", "SomeForm", window.get()));
    EXPECT_EQ(window->translator().CurrentLanguage(), "Deutsch");
    EXPECT_EQ(menuBarTitles().front(), "&Nein");
}

TEST_F(LanguageTest, ThePreferencesDialogFollowsTheCurrentLanguage) {
    shipped();
    storeChoice("deutsch");
    create();
    PreferencesDialog dialog(PreferencesHooksFor(*window), window.get());
    ApplyLanguageToPreferences(*window, dialog);
    auto* pages = dialog.findChild<QTabWidget*>("pgcOptions1");
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->tabText(0), "Grundeinstellungen");
    EXPECT_EQ(pages->tabText(3), "Zeitgesteuerter Wechsel");
    EXPECT_EQ(dialog.findChild<QPushButton*>("btnOK1")->text(), "&OK");
    EXPECT_EQ(dialog.findChild<QPushButton*>("btnCancel1")->text(), "&Abbrechen");
    auto* kinds = dialog.findChild<QComboBox*>("cbList1");
    ASSERT_NE(kinds, nullptr);
    EXPECT_EQ(kinds->itemText(2), "Januar");
}

// A caption is translated once: a translation that is itself a key of the file is not
// looked up again, and edit fields keep their values.
TEST_F(LanguageTest, PreferencesCaptionsAreTranslatedOnce) {
    language("Deutsch.lng",
             "[WordList#PrefForm]\nShow &tray=&Symbol zeigen\n&Symbol zeigen=zweimal\n"
             "Basic Options=Allgemein\nAllgemein=zweimal\nInterval:=Intervall:\n600=sechshundert\n");
    storeChoice("Deutsch");
    create();
    PreferencesDialog dialog(PreferencesHooksFor(*window), window.get());
    ApplyLanguageToPreferences(*window, dialog);
    EXPECT_EQ(dialog.findChild<QCheckBox*>("chkShowTray1")->text(), "&Symbol zeigen");
    EXPECT_EQ(dialog.findChild<QTabWidget*>("pgcOptions1")->tabText(0), "Allgemein");
    EXPECT_EQ(dialog.findChild<QLabel*>("Label6")->text(), "Intervall:");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("edtInterval1")->text(), "600");
}

TEST_F(LanguageTest, ChoosingALanguageAppliesStoresTellsAndClosesForARestart) {
    shipped();
    const std::string red = picture("red.png");
    create();
    addFiles({red});
    SignalRecorder closed(window.get(), &MainWindow::closedForGood);
    ASSERT_NE(entry("Deutsch"), nullptr);
    ui::SetNextAnswer(ui::Answer::Ok);  // the restart message
    entry("Deutsch")->trigger();
    EXPECT_EQ(settings().readString("Languages", "CurrLanguage", ""), "deutsch");
    EXPECT_EQ(ticked(), "Deutsch");
    // English captions the walk meets are translated at once.
    EXPECT_EQ(menuBarTitles().front(), "&Datei");
    EXPECT_TRUE(window->restartRequested());
    EXPECT_EQ(closed.count(), 1u);
    EXPECT_TRUE(std::filesystem::exists(system + "Files.kdl")) << "the list was saved";
}

TEST_F(LanguageTest, ChoosingALanguageWhoseFileHasGoneDoesNothing) {
    shipped();
    language("Gone.lng", "[WordList#MainForm]\n&File=&Weg\n");
    create();
    std::filesystem::remove(system + "Gone.lng");
    SignalRecorder closed(window.get(), &MainWindow::closedForGood);
    entry("Gone")->trigger();
    EXPECT_EQ(ticked(), "English");
    EXPECT_FALSE(settings().keyExists("Languages", "CurrLanguage"));
    EXPECT_FALSE(window->restartRequested());
    EXPECT_EQ(closed.count(), 0u);
}

}  // namespace
}  // namespace kalidrome::test
