// The "Time Based Cycling" page: rules built with the two boxes, listed, deleted and
// cleared, stored at every close as the scheduler reads them.
#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <chrono>

#include "DefiniteDateScheduler.h"
#include "LocalClock.h"
#include "PrefsFixture.h"

namespace {

using namespace kalidrome;
using kalidrome::test::PrefsFixture;
namespace dd = kalidrome::definite_date;
constexpr std::int32_t U = TDateInfo::kUnused;

class RuleEditorTest : public PrefsFixture {
protected:
    QListWidget* rules() const { return child<QListWidget>("lbList1"); }
    QComboBox* number() const { return combo("cbNr1"); }

    void add(const char* n, int kind) {
        number()->setEditText(QString::fromLatin1(n));
        combo("cbList1")->setCurrentIndex(kind);
        button("btnAdd1")->click();
    }
    QStringList texts() const {
        QStringList out;
        for (int i = 0; i < rules()->count(); ++i) out << rules()->item(i)->text();
        return out;
    }
    std::vector<RuleLine> stored() const { return ReadRuleLines(settings()); }
};

TEST_F(RuleEditorTest, TheNumberBoxStartsEmptyAndAddWaitsForANumber) {
    open();
    EXPECT_EQ(number()->currentText(), "");
    EXPECT_FALSE(button("btnAdd1")->isEnabled());
    EXPECT_EQ(combo("cbList1")->currentIndex(), 0);
    EXPECT_EQ(combo("cbList1")->count(), 17);
    EXPECT_EQ(number()->count(), 31);
    number()->setCurrentIndex(5);  // "6" from the drop-down
    EXPECT_EQ(number()->currentText(), "6");
    EXPECT_TRUE(button("btnAdd1")->isEnabled());
    number()->setEditText(QString());
    EXPECT_FALSE(button("btnAdd1")->isEnabled());
}

// Typed as a user types: the keys go to the widget that holds the focus once the box was
// clicked, which is the box itself, not its edit field.
TEST_F(RuleEditorTest, TheNumberBoxTakesDigitsAndNoBackspace) {
    open().show();
    dialog->selectPage(PreferencesDialog::kTimeBasedPage);
    number()->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    QWidget* focused = dialog->focusWidget();
    ASSERT_NE(focused, nullptr);
    typeText(focused, "1x2");
    EXPECT_EQ(number()->currentText(), "12");
    type(focused, Qt::Key_Backspace, QString());
    EXPECT_EQ(number()->currentText(), "12");
    number()->lineEdit()->setCursorPosition(0);
    type(focused, Qt::Key_Delete, QString());
    EXPECT_EQ(number()->currentText(), "2");
}

// What Add builds, what the close stores, and that the scheduler reads it back as the
// same rule.
TEST_F(RuleEditorTest, AddedRulesAreStoredAsTheSchedulerReadsThem) {
    struct Case {
        const char* number;
        int kind;
        const char* text;
        TDateInfo info;
    };
    const Case cases[] = {
        {"6", 0, "6th of each month", {6, U, U}},
        {"3", 4, "3rd of March", {3, 3, U}},
        {"6", 15, "First minute of each 6th Hour", {U, U, 6}},
        {"6", 16, "First day of the 6th Month", {U, 6, U}},
        {"22", 0, "22th of each month", {22, U, U}},
        {"6", 1, "6th", {U, U, U}},
        {"6", 6, "6th of May", {6, 5, U}},
    };
    PreferencesDialog& d = open();
    for (const auto& c : cases) add(c.number, c.kind);
    QStringList expectedTexts;
    std::vector<RuleLine> expected;
    for (const auto& c : cases) {
        expectedTexts << c.text;
        expected.push_back({c.text, c.info});
    }
    EXPECT_EQ(texts(), expectedTexts);
    d.reject();  // Cancel stores the rules too
    EXPECT_EQ(stored(), expected);

    // The next opening lists them again as stored.
    open();
    EXPECT_EQ(texts(), expectedTexts);
}

TEST_F(RuleEditorTest, ANumberThatDoesNotConvertAddsNothing) {
    open();
    add("99999999999", 0);
    EXPECT_EQ(errors, std::vector<std::string>{"'99999999999' is not a valid integer value"});
    EXPECT_EQ(rules()->count(), 0);
    add("99999999999", 14);  // a separator converts nothing
    EXPECT_EQ(texts(), QStringList{"99999999999th"});
}

TEST_F(RuleEditorTest, ContextMenuEntriesFollowTheList) {
    open();
    QAction* del = dialog->findChild<QAction*>("Delete1");
    QAction* clear = dialog->findChild<QAction*>("Clear1");
    ASSERT_TRUE(del && clear);
    RuleEditor& editor = dialog->ruleEditor();
    struct State {
        bool del, clear;
    };
    auto now = [&] {
        editor.prepareContextMenu();
        return State{del->isEnabled(), clear->isEnabled()};
    };
    State s = now();
    EXPECT_FALSE(s.del);
    EXPECT_FALSE(s.clear);
    add("1", 0);
    add("2", 0);
    rules()->clearSelection();
    s = now();
    EXPECT_FALSE(s.del);
    EXPECT_TRUE(s.clear);
    rules()->setCurrentRow(1);
    s = now();
    EXPECT_TRUE(s.del);
    del->trigger();
    EXPECT_EQ(texts(), QStringList{"1st of each month"});
    clear->trigger();
    EXPECT_EQ(rules()->count(), 0);
    // Delete without a selection does nothing.
    add("3", 0);
    rules()->clearSelection();
    editor.deleteRule();
    EXPECT_EQ(rules()->count(), 1);
}

// Deleting the first of three fired rules: the other two keep their own markers, the
// old index-2 keys stay, and a rule added now starts without markers.
TEST_F(RuleEditorTest, DeletingARuleKeepsEveryMarkerWithItsRule) {
    writeSettings("[DefiniteDate]\nCount=3\n"
                  "Cmd0=6th of each month\nDay0=6\nMonth0=-2\nHour0=-2\nLastChangeDayOfMonth0=6\n"
                  "Cmd1=3rd of March\nDay1=3\nMonth1=3\nHour1=-2\nLastChangeDay1=3\nLastChangeMonth1=3\n"
                  "Cmd2=First minute of each 6th Hour\nDay2=-2\nMonth2=-2\nHour2=6\nLastChangeHourFirstMin2=6\n");
    PreferencesDialog& d = open();
    rules()->setCurrentRow(0);
    dialog->ruleEditor().deleteRule();
    add("9", 0);
    d.okClicked();
    const IniFile ini = settings();
    EXPECT_EQ(ini.readInteger("DefiniteDate", "Count", -9), 3);
    EXPECT_EQ(ini.readString("DefiniteDate", "Cmd0", ""), "3rd of March");
    EXPECT_EQ(ini.readInteger("DefiniteDate", "LastChangeDay0", -9), 3);
    EXPECT_EQ(ini.readInteger("DefiniteDate", "LastChangeMonth0", -9), 3);
    EXPECT_FALSE(ini.keyExists("DefiniteDate", "LastChangeDayOfMonth0"));
    EXPECT_EQ(ini.readInteger("DefiniteDate", "LastChangeHourFirstMin1", -9), 6);
    EXPECT_FALSE(ini.keyExists("DefiniteDate", "LastChangeDay1"));
    EXPECT_EQ(ini.readString("DefiniteDate", "Cmd2", ""), "9th of each month");
    EXPECT_FALSE(ini.keyExists("DefiniteDate", "LastChangeHourFirstMin2"));
}

// A rule made in the editor fires through the scheduler at its minute, once.
TEST_F(RuleEditorTest, ARuleMadeInTheEditorFiresThroughTheScheduler) {
    SteppedClock clock({2024, 5, 20, 5, 59, 50});
    IniFile ini = settings();
    int cycles = 0;
    std::vector<int> hours;
    DefiniteDateScheduler scheduler(ini, clock, [&] {
        ++cycles;
        hours.push_back(clock.now().hour);
    });
    PreferencesDialog& d = open();
    add("6", 15);  // First minute of each 6th Hour
    scheduler.CheckDefiniteDates();
    EXPECT_EQ(cycles, 0);  // not saved before the dialog closes
    d.reject();
    for (int i = 0; i < 12 * 60 * 2; ++i) {  // two hours of checks, five seconds apart
        scheduler.CheckDefiniteDates();
        clock.advance(std::chrono::seconds(5));
    }
    EXPECT_EQ(cycles, 1);
    EXPECT_EQ(hours, std::vector<int>{6});
}

}  // namespace
