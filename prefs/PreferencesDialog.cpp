#include "PreferencesDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>

#include "AtomicFile.h"
#include "IniFile.h"
#include "RuleEditor.h"
#include "ScreensaverInstaller.h"
#include "Settings.h"
#include "ShortenPath.h"
#include "WindowFont.h"

namespace kalidrome {

using namespace settings;

namespace {

constexpr int kTabHeight = 248;

void SetTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::ButtonText, colour);
    w->setPalette(p);
}

const QColor kGrey(128, 128, 128);
const QColor kNavy(0, 0, 128);
const QColor kMaroon(128, 0, 0);

template <typename W>
W* Make(QWidget* page, const char* name, const char* caption, int left, int top) {
    auto* w = new W(QString::fromUtf8(caption), page);
    w->setObjectName(QString::fromLatin1(name));
    w->move(left, top);
    w->adjustSize();
    return w;
}

QLabel* SmallLabel(QWidget* page, const char* name, const char* caption, int left, int top) {
    auto* label = Make<QLabel>(page, name, caption, left, top);
    label->setFont(platform::WindowFont(7));
    label->adjustSize();
    return label;
}

QLineEdit* DigitsField(QWidget* page, const char* name, int left, int top, int width) {
    auto* field = new QLineEdit(page);
    field->setObjectName(QString::fromLatin1(name));
    field->setGeometry(left, top, width, 21);
    // Only digits can be typed; a stored text is shown as it is.
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field));
    return field;
}

QComboBox* SizeList(QWidget* page, const char* name, int left, int top) {
    auto* list = new QComboBox(page);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(left, top, 102, 21);
    for (const ScreenSize& size : kResolutionTable)
        list->addItem(QStringLiteral("%1x%2").arg(size.width).arg(size.height));
    return list;
}

// The row of the resolution table that the main window uses for a stored index.
std::int32_t TableRow(std::int32_t stored) {
    return stored >= 0 && stored < static_cast<std::int32_t>(kResolutionTable.size()) ? stored : kResDefault;
}

// The settings key a Basic-page check box stands for: its name without "chk" and the
// final "1" ("chkShowTray1" stands for ShowTray).
std::string KeyOfBox(const QObject* box) {
    const std::string name = box->objectName().toStdString();
    if (name.size() < 5 || name.compare(0, 3, "chk") != 0) return {};
    return name.substr(3, name.size() - 4);
}

// Where a Basic-page box's key is missing, the box shows what the main window uses then.
const BoolKey* BoolKeyNamed(std::string_view key) {
    static constexpr const BoolKey* kKeys[] = {&kDisableCycling, &kShowTray,      &kRandom,     &kGreyScale,
                                               &kStretchLarger,  &kStretchSmaller, &kShowImages, &kSaveImage};
    for (const BoolKey* k : kKeys)
        if (EqualsNoCase(k->key, key)) return k;
    return nullptr;
}

}  // namespace

PreferencesDialog::PreferencesDialog(Hooks hooks, QWidget* parent)
    : QDialog(parent), m_hooks(std::move(hooks)), m_pages(new QTabWidget(this)), m_basic(new QWidget) {
    setObjectName("frmOptions1");
    setWindowTitle(QStringLiteral("Kalidrome - Options"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFont(platform::WindowFont(8));
    setFixedSize(366, 287);

    m_pages->setObjectName("pgcOptions1");
    m_pages->setGeometry(0, 0, 366, kTabHeight);
    m_basic->setObjectName("tsBasic1");
    auto* screensaver = new QWidget;
    screensaver->setObjectName("tsScreensaver1");
    auto* advanced = new QWidget;
    advanced->setObjectName("tsAdvanced1");
    m_rules = new RuleEditor(RuleEditor::Hooks{m_hooks.translate, [this](const QString& t) { showError(t); }});
    m_rules->setObjectName("tsTimeBased1");
    m_pages->addTab(m_basic, QStringLiteral("Basic Options"));
    m_pages->addTab(screensaver, QStringLiteral("Screensaver"));
    m_pages->addTab(advanced, QStringLiteral("Advanced Options"));
    m_pages->addTab(m_rules, QStringLiteral("Time Based Cycling"));
    buildBasicPage(m_basic);
    buildScreensaverPage(screensaver);
    buildAdvancedPage(advanced);

    m_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cancel->setObjectName("btnCancel1");
    m_cancel->setGeometry(206, 254, 75, 25);
    m_ok = new QPushButton(QStringLiteral("&OK"), this);
    m_ok->setObjectName("btnOK1");
    m_ok->setGeometry(283, 254, 75, 25);
    QFont bold = m_ok->font();
    bold.setBold(true);
    m_ok->setFont(bold);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &PreferencesDialog::okClicked);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    load();
}

void PreferencesDialog::buildBasicPage(QWidget* page) {
    m_disableCycling = Make<QCheckBox>(page, "chkDisableCycling1", "&Disable auto cycling", 8, 10);
    m_cycleLabel = SmallLabel(page, "lblCycle1", "Cycle Interval (sec):", 26, 31);
    m_interval = DigitsField(page, "edtInterval1", 118, 28, 28);
    m_timer = SmallLabel(page, "lblTimer1", "---", 190, 31);
    SetTextColour(m_timer, kGrey);
    auto* tillNext = SmallLabel(page, "Label11", "sec till next cycle", 212, 31);
    SetTextColour(tillNext, kGrey);
    m_random = Make<QCheckBox>(page, "chkRandom1", "&Random Image", 8, 49);
    m_greyscale = Make<QCheckBox>(page, "chkGreyscale1", "&Greyscale", 8, 71);
    m_stretchLarger = Make<QCheckBox>(page, "chkStretchLarger1", "&Stretch image when larger than", 8, 94);
    m_res1 = SizeList(page, "cbxResolutions1", 196, 92);
    m_stretchSmaller = Make<QCheckBox>(page, "chkStretchSmaller1", "Don't stretch when smaller than ", 8, 117);
    m_res2 = SizeList(page, "cbxResolutions2", 196, 116);
    m_showTray = Make<QCheckBox>(page, "chkShowTray1", "Show &tray", 8, 142);
    m_showImages = Make<QCheckBox>(page, "chkShowImages1", "Show &Images", 8, 166);
    m_saveImage = Make<QCheckBox>(page, "chkSaveImage1", "Save &Images", 8, 190);
    // clicked, not toggled: a box set from code (the load) runs no handler.
    connect(m_disableCycling, &QCheckBox::clicked, this, &PreferencesDialog::disableCyclingClicked);
}

void PreferencesDialog::buildScreensaverPage(QWidget* page) {
    m_ssLabel = Make<QLabel>(page, "lblScreenSaver1", kScreensaverCreateLabel.data(), 8, 10);
    m_ssLabel->setWordWrap(true);
    m_ssLabel->resize(349, 29);
    SetTextColour(m_ssLabel, kNavy);
    m_ssButton = Make<QPushButton>(page, "btnCreateScreensaver1", kScreensaverCreateButton.data(), 113, 43);
    m_ssButton->resize(134, 25);
    QFont bold = m_ssButton->font();
    bold.setBold(true);
    m_ssButton->setFont(bold);
    connect(m_ssButton, &QPushButton::clicked, this, &PreferencesDialog::screensaverClicked);
    SetTextColour(Make<QLabel>(page, "Label5", "If you want, you can set the interval to cycle each image.", 8, 75),
                  kNavy);
    Make<QLabel>(page, "Label6", "Interval:", 8, 96);
    m_ssInterval = DigitsField(page, "edtSSInterval1", 54, 94, 43);
    Make<QLabel>(page, "Label7", "sec.", 100, 96);
    for (auto [name, text, top] :
         {std::tuple{"Label4", "To add images to your ScreenSaver, just add them to the list in Kalidrome, as you "
                               "normally would.",
                     120},
          std::tuple{"Label8", "All settings for Kalidrome are valid for your screensaver.", 148}}) {
        auto* label = Make<QLabel>(page, name, text, 8, top);
        label->setWordWrap(true);
        label->resize(345, 30);
        SetTextColour(label, kGrey);
    }
}

void PreferencesDialog::buildAdvancedPage(QWidget* page) {
    m_closeImmediately =
        Make<QCheckBox>(page, "chkCloseImmediately1", "&Immediately close Kalidrome after a cycle.", 8, 10);
    auto* warning = SmallLabel(page, "Label1",
                               "If this option is checked, you cannot open the Main Window of Kalidrome anymore. To "
                               "do so, delete the file named DontStartup.kdf in the System subfolder of Kalidrome.",
                               8, 32);
    warning->setWordWrap(true);
    warning->resize(337, 30);
    SetTextColour(warning, kMaroon);
    SetTextColour(SmallLabel(page, "lblSystem1", "System Folder:", 8, 68), kGrey);
    m_systemPath = SmallLabel(page, "lblSystemPath1", "", 8, 81);
    m_systemPath->resize(345, m_systemPath->height());
    SetTextColour(m_systemPath, kGrey);
    // Kept from earlier versions, out of sight: a click would store LowProfile, which
    // nothing reads.
    m_lowProfile = Make<QCheckBox>(page, "chkLowProfile1", "&Enable low resource usage (no GUI)", 8, 100);
    m_lowProfile->setVisible(false);
    m_lowProfile->setEnabled(false);
    connect(m_closeImmediately, &QCheckBox::clicked, this, &PreferencesDialog::closeImmediatelyClicked);
    connect(m_lowProfile, &QCheckBox::clicked, this, &PreferencesDialog::lowProfileClicked);
}

std::string PreferencesDialog::translate(std::string_view text) const {
    return m_hooks.translate ? m_hooks.translate(text) : std::string(text);
}

void PreferencesDialog::showError(const QString& text) {
    if (m_hooks.showError) m_hooks.showError(text);
}

void PreferencesDialog::load() {
    m_pages->setCurrentIndex(kBasicPage);
    IniFile settings(m_hooks.systemPath + std::string(kSettingsFile));

    for (QCheckBox* box : m_basic->findChildren<QCheckBox*>(Qt::FindDirectChildrenOnly)) {
        const std::string key = KeyOfBox(box);
        const BoolKey* known = BoolKeyNamed(key);
        const bool value = settings.readBool(kOptions, key, known ? known->atLoad : box->isChecked());
        // The Don't-stretch-smaller box shows the opposite of its key.
        box->setChecked(box == m_stretchSmaller ? !value : value);
    }
    m_res1->setCurrentIndex(TableRow(settings.readInteger(kOptions, kRes1, kResDefault)));
    m_res2->setCurrentIndex(TableRow(settings.readInteger(kOptions, kRes2, kResDefault)));
    m_interval->setText(QString::fromStdString(settings.readString(kOptions, kInterval, kIntervalDefault)));
    m_ssInterval->setText(
        QString::fromStdString(settings.readString(kOptions, kScreenSaverInterval, kScreenSaverIntervalDefault)));
    m_closeImmediately->setChecked(
        settings.readBool(kCloseImmediately.section, kCloseImmediately.key, kCloseImmediately.atLoad));
    applyCyclingEnabled();

    const QFontMetrics metrics(m_systemPath->font());
    m_systemPath->setText(QString::fromStdString(
        ShortenPathToWidth(m_hooks.systemPath, m_systemPath->width() - 5, [&metrics](const std::string& text) {
            return metrics.horizontalAdvance(QString::fromStdString(text));
        })));

    showScreensaverState(false);
    translateCaptions();
    m_rules->load(settings);
}

void PreferencesDialog::translateCaptions() {
    auto translated = [this](const QString& text) { return QString::fromStdString(translate(text.toStdString())); };
    for (int i = 0; i < m_pages->count(); ++i) {
        m_pages->setTabText(i, translated(m_pages->tabText(i)));
        // Captions placed directly on a page: check boxes, labels and push buttons.
        for (QWidget* w : m_pages->widget(i)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (auto* box = qobject_cast<QCheckBox*>(w)) box->setText(translated(box->text()));
            else if (auto* label = qobject_cast<QLabel*>(w)) label->setText(translated(label->text()));
            else if (auto* button = qobject_cast<QPushButton*>(w)) button->setText(translated(button->text()));
        }
    }
    m_rules->translateItems();
    m_ok->setText(translated(m_ok->text()));
    m_cancel->setText(translated(m_cancel->text()));
}

void PreferencesDialog::selectPage(int index) { m_pages->setCurrentIndex(index); }

int PreferencesDialog::currentPage() const { return m_pages->currentIndex(); }

void PreferencesDialog::showCountdown(std::int32_t seconds) { m_timer->setText(QString::number(seconds)); }

void PreferencesDialog::applyCyclingEnabled() {
    const bool on = !m_disableCycling->isChecked();
    m_cycleLabel->setEnabled(on);
    m_interval->setEnabled(on);
    m_timer->setEnabled(on);
}

void PreferencesDialog::disableCyclingClicked(bool checked) {
    applyCyclingEnabled();
    try {
        if (m_hooks.setDisableCycling) m_hooks.setDisableCycling(checked);
    } catch (const std::exception& e) {
        showError(QString::fromStdString(e.what()));
    }
}

void PreferencesDialog::closeImmediatelyClicked(bool checked) {
    if (checked) {
        const QString text = QString::fromStdString(
            translate("You cannot normally run Kalidrome when you check this option.") + "\n" +
            translate("Kalidrome will automatically closedown after each cycle!") + "\n\n" +
            translate("If you want Kalidrome to run back normally, you need to delete the file called") + "\n" +
            translate("\"DontStartup.kdf\" in the System subdirectory of Kalidrome."));
        if (!m_hooks.confirm || !m_hooks.confirm(text)) {
            // Nothing was stored, so the box must not claim otherwise.
            m_closeImmediately->setChecked(false);
            return;
        }
    }
    try {
        IniFile settings(m_hooks.systemPath + std::string(kSettingsFile));
        settings.writeBool(kCloseImmediately.section, kCloseImmediately.key, checked);
    } catch (const IniWriteError& e) {
        m_closeImmediately->setChecked(!checked);
        showError(QString::fromStdString(e.what()));
        return;
    }
    // A marker that cannot be written is of no consequence: without it the next start is
    // an ordinary one.
    platform::WriteFileAtomically(m_hooks.systemPath + std::string(kOneShotMarker),
                                  translate("Delete this file if you want to start Kalidrome.") + "\r\n");
}

void PreferencesDialog::lowProfileClicked(bool checked) {
    try {
        IniFile settings(m_hooks.systemPath + std::string(kSettingsFile));
        settings.writeBool(kLowProfile.section, kLowProfile.key, checked);
    } catch (const IniWriteError& e) {
        showError(QString::fromStdString(e.what()));
    }
}

void PreferencesDialog::showScreensaverState(bool translated) {
    const bool installed = ScreensaverInstalled(ScreensaverPaths::For(m_hooks.systemPath));
    auto text = [&](std::string_view english) {
        return QString::fromStdString(translated ? translate(english) : std::string(english));
    };
    m_ssLabel->setText(text(installed ? kScreensaverDeleteLabel : kScreensaverCreateLabel));
    m_ssButton->setText(text(installed ? kScreensaverDeleteButton : kScreensaverCreateButton));
}

void PreferencesDialog::screensaverClicked() {
    const ScreensaverPaths paths = ScreensaverPaths::For(m_hooks.systemPath);
    if (ScreensaverInstalled(paths)) {
        const ScreensaverNotice notice =
            RemoveScreensaverAndTell(paths, [this](std::string_view text) { return translate(text); });
        if (notice.isError) showError(QString::fromStdString(notice.text));
    } else {
        const ScreensaverNotice notice =
            InstallScreensaverAndTell(paths, [this](std::string_view text) { return translate(text); });
        if (notice.isError) showError(QString::fromStdString(notice.text));
        else if (m_hooks.inform) m_hooks.inform(QString::fromStdString(notice.text));
    }
    showScreensaverState(true);
}

bool PreferencesDialog::intervalsValid() {
    for (auto [field, page] : {std::pair{m_interval, kBasicPage}, std::pair{m_ssInterval, kScreensaverPage}}) {
        if (ParseIntervalText(field->text().toStdString())) continue;
        m_pages->setCurrentIndex(page);
        field->setFocus();
        field->selectAll();
        showError(QStringLiteral("'%1' is not a valid integer value").arg(field->text()));
        return false;
    }
    return true;
}

void PreferencesDialog::okClicked() {
    if (!intervalsValid()) return;

    PreferencesValues v;
    v.DisableCycling = m_disableCycling->isChecked();
    v.ShowTray = m_showTray->isChecked();
    v.Random = m_random->isChecked();
    v.GreyScale = m_greyscale->isChecked();
    v.StretchLarger = m_stretchLarger->isChecked();
    v.StretchSmaller = !m_stretchSmaller->isChecked();
    v.ShowImages = m_showImages->isChecked();
    v.SaveImage = m_saveImage->isChecked();
    v.Res1 = TableRow(m_res1->currentIndex());
    v.Res2 = TableRow(m_res2->currentIndex());
    v.Interval = *ParseIntervalText(m_interval->text().toStdString());

    // The dialog's keys and the rules reach Settings.ini in one rewrite, and whatever fails
    // in this OK is told in one box.
    std::vector<std::string> errors;
    try {
        IniFile settings(m_hooks.systemPath + std::string(kSettingsFile));
        IniFile::Batch batch(settings);
        for (auto [key, value] : {std::pair{kDisableCycling.key, v.DisableCycling}, {kShowTray.key, v.ShowTray},
                                  {kRandom.key, v.Random}, {kGreyScale.key, v.GreyScale},
                                  {kStretchLarger.key, v.StretchLarger}, {kStretchSmaller.key, v.StretchSmaller},
                                  {kShowImages.key, v.ShowImages}, {kSaveImage.key, v.SaveImage}})
            settings.writeBool(kOptions, key, value);
        settings.writeInteger(kOptions, kRes1, v.Res1);
        settings.writeInteger(kOptions, kRes2, v.Res2);
        settings.writeString(kOptions, kInterval, m_interval->text().toStdString());
        settings.writeString(kOptions, kScreenSaverInterval, m_ssInterval->text().toStdString());
        m_rulesStored = true;
        m_rules->save(settings);
        batch.commit();
    } catch (const IniWriteError& e) {
        // The values still take effect for this run.
        errors.emplace_back(e.what());
    }
    if (m_hooks.apply) {
        if (std::optional<std::string> error = m_hooks.apply(v)) {
            if (std::find(errors.begin(), errors.end(), *error) == errors.end()) errors.push_back(*error);
        }
    }
    if (!errors.empty()) {
        std::string text;
        for (const std::string& e : errors) text += (text.empty() ? "" : "\n") + e;
        showError(QString::fromStdString(text));
    }
    accept();
}

void PreferencesDialog::done(int result) {
    if (!m_rulesStored) {
        m_rulesStored = true;
        try {
            IniFile settings(m_hooks.systemPath + std::string(kSettingsFile));
            m_rules->save(settings);
        } catch (const IniWriteError& e) {
            showError(QString::fromStdString(e.what()));
        }
    }
    QDialog::done(result);
}

}  // namespace kalidrome
