#include "PreferencesDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "AtomicFile.h"
#include "IniFile.h"
#include "RuleEditor.h"
#include "ScreensaverInstaller.h"
#include "Settings.h"
#include "ShortenPath.h"
#include "TextContrast.h"
#include "WindowFont.h"

namespace kalidrome {

using namespace settings;

namespace {

// The nominal sizes the windows were first drawn at; each grows with its contents.
constexpr QSize kTabsSize(366, 248);
constexpr QSize kButtonSize(75, 25);

const QColor kGrey(128, 128, 128);
const QColor kNavy(0, 0, 128);
const QColor kMaroon(128, 0, 0);

void SetTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    const QColor readable = platform::ReadableOn(colour, p.color(QPalette::Window));
    p.setColor(QPalette::WindowText, readable);
    p.setColor(QPalette::ButtonText, readable);
    w->setPalette(p);
}

template <typename W>
W* Make(QWidget* page, const char* name, const char* caption) {
    auto* w = new W(QString::fromUtf8(caption), page);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QLabel* SmallLabel(QWidget* page, const char* name, const char* caption) {
    auto* label = Make<QLabel>(page, name, caption);
    platform::UseWindowFont(label, 7);
    return label;
}

// A label whose text wraps at the page's width: it asks for its nominal width only and
// takes the lines the width it gets calls for.
QLabel* WrappedLabel(QWidget* page, const char* name, const char* caption, int nominalWidth) {
    auto* label = Make<QLabel>(page, name, caption);
    label->setWordWrap(true);
    label->setMinimumWidth(nominalWidth);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    return label;
}

// An edit field for a number of seconds, at least its nominal width and wide enough for
// five digits in the font it draws with.
QLineEdit* DigitsField(QWidget* page, const char* name, int nominalWidth, QLabel* caption) {
    auto* field = new QLineEdit(page);
    field->setObjectName(QString::fromLatin1(name));
    const int digits = field->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 10;
    field->setFixedWidth(std::max(nominalWidth, digits));
    field->setMinimumHeight(21);
    // Only digits can be typed; a stored text is shown as it is.
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field));
    if (caption) caption->setBuddy(field);
    return field;
}

QComboBox* SizeList(QWidget* page, const char* name) {
    auto* list = new QComboBox(page);
    list->setObjectName(QString::fromLatin1(name));
    list->setMinimumSize(102, 21);
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (const ScreenSize& size : kResolutionTable)
        list->addItem(QStringLiteral("%1x%2").arg(size.width).arg(size.height));
    return list;
}

QVBoxLayout* PageLayout(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(4);
    return layout;
}

QHBoxLayout* Row(QVBoxLayout* page, int indent = 0) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(indent, 0, 0, 0);
    row->setSpacing(4);
    page->addLayout(row);
    return row;
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
    platform::UseWindowFont(this, 8);

    m_pages->setObjectName("pgcOptions1");
    m_pages->setAccessibleName(windowTitle());
    m_pages->setMinimumSize(kTabsSize);
    // Every tab whole, however long its caption: no scroll arrows, no shortened captions.
    m_pages->setUsesScrollButtons(false);
    m_pages->setElideMode(Qt::ElideNone);
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
    m_cancel->setMinimumSize(kButtonSize);
    m_ok = new QPushButton(QStringLiteral("&OK"), this);
    m_ok->setObjectName("btnOK1");
    m_ok->setMinimumSize(kButtonSize);
    platform::UseWindowFont(m_ok, 8, true);
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &PreferencesDialog::okClicked);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    // The tabs on top, the buttons under them at the right; the dialog takes the size its
    // contents ask for (never less than the nominal one) and keeps it fixed.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 8, 8);
    layout->setSpacing(6);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_pages);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_ok);
    layout->addLayout(buttons);

    load();
}

void PreferencesDialog::buildBasicPage(QWidget* page) {
    QVBoxLayout* layout = PageLayout(page);
    m_disableCycling = Make<QCheckBox>(page, "chkDisableCycling1", "&Disable auto cycling");
    layout->addWidget(m_disableCycling);
    QHBoxLayout* interval = Row(layout, 18);
    m_cycleLabel = SmallLabel(page, "lblCycle1", "Cycle Interval (sec):");
    m_interval = DigitsField(page, "edtInterval1", 28, m_cycleLabel);
    m_timer = SmallLabel(page, "lblTimer1", "---");
    SetTextColour(m_timer, kGrey);
    // Room for four digits, so that the words after the countdown stand still while it runs.
    m_timer->setMinimumWidth(m_timer->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
    m_timer->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* tillNext = SmallLabel(page, "Label11", "sec till next cycle");
    SetTextColour(tillNext, kGrey);
    interval->addWidget(m_cycleLabel);
    interval->addWidget(m_interval);
    interval->addSpacing(20);
    interval->addWidget(m_timer);
    interval->addWidget(tillNext);
    interval->addStretch(1);
    m_random = Make<QCheckBox>(page, "chkRandom1", "&Random Image");
    m_greyscale = Make<QCheckBox>(page, "chkGreyscale1", "&Greyscale");
    layout->addWidget(m_random);
    layout->addWidget(m_greyscale);
    // The two size lists stand in one column, right of their check boxes.
    auto* sizes = new QGridLayout;
    sizes->setHorizontalSpacing(4);
    sizes->setVerticalSpacing(4);
    sizes->setColumnMinimumWidth(0, 184);
    m_stretchLarger = Make<QCheckBox>(page, "chkStretchLarger1", "&Stretch image when larger than");
    m_res1 = SizeList(page, "cbxResolutions1");
    m_stretchSmaller = Make<QCheckBox>(page, "chkStretchSmaller1", "Don't stretch when smaller than ");
    m_res2 = SizeList(page, "cbxResolutions2");
    sizes->addWidget(m_stretchLarger, 0, 0);
    sizes->addWidget(m_res1, 0, 1);
    sizes->addWidget(m_stretchSmaller, 1, 0);
    sizes->addWidget(m_res2, 1, 1);
    sizes->setColumnStretch(2, 1);
    layout->addLayout(sizes);
    m_showTray = Make<QCheckBox>(page, "chkShowTray1", "Show &tray");
    m_showImages = Make<QCheckBox>(page, "chkShowImages1", "Show &Images");
    m_saveImage = Make<QCheckBox>(page, "chkSaveImage1", "Save &Images");
    for (QWidget* w : {static_cast<QWidget*>(m_showTray), static_cast<QWidget*>(m_showImages),
                       static_cast<QWidget*>(m_saveImage)})
        layout->addWidget(w);
    layout->addStretch(1);
    // clicked, not toggled: a box set from code (the load) runs no handler.
    connect(m_disableCycling, &QCheckBox::clicked, this, &PreferencesDialog::disableCyclingClicked);
}

void PreferencesDialog::buildScreensaverPage(QWidget* page) {
    QVBoxLayout* layout = PageLayout(page);
    m_ssLabel = WrappedLabel(page, "lblScreenSaver1", kScreensaverCreateLabel.data(), 349);
    SetTextColour(m_ssLabel, kNavy);
    layout->addWidget(m_ssLabel);
    m_ssButton = Make<QPushButton>(page, "btnCreateScreensaver1", kScreensaverCreateButton.data());
    m_ssButton->setMinimumSize(134, 25);
    platform::UseWindowFont(m_ssButton, 8, true);
    connect(m_ssButton, &QPushButton::clicked, this, &PreferencesDialog::screensaverClicked);
    layout->addWidget(m_ssButton, 0, Qt::AlignHCenter);
    auto* label5 = WrappedLabel(page, "Label5", "If you want, you can set the interval to cycle each image.", 345);
    SetTextColour(label5, kNavy);
    layout->addWidget(label5);
    QHBoxLayout* interval = Row(layout);
    auto* label6 = Make<QLabel>(page, "Label6", "Interval:");
    m_ssInterval = DigitsField(page, "edtSSInterval1", 43, label6);
    interval->addWidget(label6);
    interval->addWidget(m_ssInterval);
    interval->addWidget(Make<QLabel>(page, "Label7", "sec."));
    interval->addStretch(1);
    for (auto [name, text] :
         {std::pair{"Label4", "To add images to your ScreenSaver, just add them to the list in Kalidrome, as you "
                              "normally would."},
          std::pair{"Label8", "All settings for Kalidrome are valid for your screensaver."}}) {
        auto* label = WrappedLabel(page, name, text, 345);
        SetTextColour(label, kGrey);
        layout->addWidget(label);
    }
    layout->addStretch(1);
}

void PreferencesDialog::buildAdvancedPage(QWidget* page) {
    QVBoxLayout* layout = PageLayout(page);
    m_closeImmediately = Make<QCheckBox>(page, "chkCloseImmediately1", "&Immediately close Kalidrome after a cycle.");
    layout->addWidget(m_closeImmediately);
    auto* warning = WrappedLabel(page, "Label1",
                                 "If this option is checked, you cannot open the Main Window of Kalidrome anymore. "
                                 "To do so, delete the file named DontStartup.kdf in the System subfolder of "
                                 "Kalidrome.",
                                 337);
    platform::UseWindowFont(warning, 7);
    SetTextColour(warning, kMaroon);
    layout->addWidget(warning);
    layout->addSpacing(4);
    m_picturePerMonitor = Make<QCheckBox>(page, "chkPicturePerMonitor1", "A &picture of its own for each monitor");
    layout->addWidget(m_picturePerMonitor);
    m_matchOrientation = Make<QCheckBox>(page, "chkMatchOrientation1", "Portrait pictures for portrait &monitors");
    QHBoxLayout* match = Row(layout, 18);
    match->addWidget(m_matchOrientation);
    match->addStretch(1);
    connect(m_picturePerMonitor, &QCheckBox::toggled, m_matchOrientation, &QCheckBox::setEnabled);
    layout->addSpacing(4);
    auto* system = SmallLabel(page, "lblSystem1", "System Folder:");
    SetTextColour(system, kGrey);
    layout->addWidget(system);
    layout->setSpacing(4);
    m_systemPath = SmallLabel(page, "lblSystemPath1", "");
    // The path is shortened to the width the label gets, not the other way round.
    m_systemPath->setMinimumWidth(345);
    m_systemPath->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    SetTextColour(m_systemPath, kGrey);
    layout->addWidget(m_systemPath);
    m_systemPath->installEventFilter(this);
    // Kept from earlier versions, out of sight: a click would store LowProfile, which
    // nothing reads.
    m_lowProfile = Make<QCheckBox>(page, "chkLowProfile1", "&Enable low resource usage (no GUI)");
    m_lowProfile->setVisible(false);
    m_lowProfile->setEnabled(false);
    layout->addStretch(1);
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
    m_loadedPerMonitor = settings.readBool(kPicturePerMonitor.section, kPicturePerMonitor.key, kPicturePerMonitor.atLoad);
    m_loadedMatch = settings.readBool(kMatchOrientation.section, kMatchOrientation.key, kMatchOrientation.atLoad);
    m_picturePerMonitor->setChecked(m_loadedPerMonitor);
    m_matchOrientation->setChecked(m_loadedMatch);
    m_matchOrientation->setEnabled(m_loadedPerMonitor);
    applyCyclingEnabled();

    showSystemPath();

    // English here: the language walk that follows the load translates every caption once.
    showScreensaverState(false);
    m_rules->load(settings);
}

bool PreferencesDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_systemPath && event->type() == QEvent::Resize) showSystemPath();
    return QDialog::eventFilter(watched, event);
}

void PreferencesDialog::showSystemPath() {
    const QFontMetrics metrics(m_systemPath->font());
    m_systemPath->setText(QString::fromStdString(
        ShortenPathToWidth(m_hooks.systemPath, m_systemPath->width() - 5, [&metrics](const std::string& text) {
            return metrics.horizontalAdvance(QString::fromStdString(text));
        })));
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

    Options v;
    v.DisableCycling = m_disableCycling->isChecked();
    v.ShowTray = m_showTray->isChecked();
    v.Random = m_random->isChecked();
    v.GreyScale = m_greyscale->isChecked();
    v.StretchLarger = m_stretchLarger->isChecked();
    v.StretchSmaller = !m_stretchSmaller->isChecked();
    v.ShowImages = m_showImages->isChecked();
    v.SaveImage = m_saveImage->isChecked();
    const std::int32_t res1 = TableRow(m_res1->currentIndex());
    const std::int32_t res2 = TableRow(m_res2->currentIndex());
    v.Res1 = ResolutionRow(res1);
    v.Res2 = ResolutionRow(res2);
    v.Interval = *ParseIntervalText(m_interval->text().toStdString());
    v.PicturePerMonitor = m_picturePerMonitor->isChecked();
    v.MatchOrientation = m_matchOrientation->isChecked();

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
        settings.writeInteger(kOptions, kRes1, res1);
        settings.writeInteger(kOptions, kRes2, res2);
        settings.writeString(kOptions, kInterval, m_interval->text().toStdString());
        settings.writeString(kOptions, kScreenSaverInterval, m_ssInterval->text().toStdString());
        if (v.PicturePerMonitor != m_loadedPerMonitor)
            settings.writeBool(kPicturePerMonitor.section, kPicturePerMonitor.key, v.PicturePerMonitor);
        if (v.MatchOrientation != m_loadedMatch)
            settings.writeBool(kMatchOrientation.section, kMatchOrientation.key, v.MatchOrientation);
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
