// Every window of the program, walked widget by widget in every shipped language and in
// the desktop's font and a larger one (ctest runs this binary at QT_SCALE_FACTOR 1 and 2).
// A window fails when a visible caption is wider or taller than the room its widget gives
// it (measured with the font the widget draws with), when a widget overlaps a sibling or
// reaches out of its parent, when a tab bar needs scroll arrows or a menu bar its overflow
// button, when enabled text has less than 4.5:1 contrast against what it is drawn on, or
// when a control a user can tab to has no accessible name.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <ostream>
#include <sstream>

#include "FolderBrowser.h"
#include "MainWindowFixture.h"
#include "PreferencesDialog.h"
#include "PreviewWindow.h"
#include "QtWait.h"
#include "TextContrast.h"
#include "WallpaperListView.h"

namespace kalidrome::test {
namespace {

std::string Shipped(const std::string& name) {
    return ReadFile(std::string(std::getenv("KALIDROME_SOURCE_DIR")) + "/data/System/" + name);
}

std::string Describe(const QWidget* w) {
    std::string name = w->objectName().toStdString();
    if (name.empty()) name = std::string("<") + w->metaObject()->className() + ">";
    return name;
}

// The colour a widget's text is drawn on: a button's own face, else the first ancestor
// that paints its background (the window at the latest).
QColor BackgroundOf(const QWidget* w) {
    if (qobject_cast<const QPushButton*>(w)) return w->palette().color(QPalette::Button);
    for (const QWidget* at = w->parentWidget(); at; at = at->parentWidget())
        if (at->autoFillBackground() || at->isWindow()) return at->palette().color(at->backgroundRole());
    return w->palette().color(QPalette::Window);
}

class WindowWalk {
public:
    explicit WindowWalk(QWidget* window) : m_window(window) {}

    std::string faults() {
        walk(m_window);
        std::ostringstream out;
        for (const std::string& f : m_faults) out << "  " << f << "\n";
        return out.str();
    }

private:
    void fault(const QWidget* w, const std::string& what) {
        m_faults.push_back(Describe(m_window) + "/" + Describe(w) + ": " + what);
    }

    static bool Internal(const QWidget* w) { return w->objectName().startsWith(QLatin1String("qt_")); }

    void textFits(QWidget* w, const QString& text, const QRect& room, int flags = Qt::TextShowMnemonic) {
        if (text.isEmpty()) return;
        const QFontMetrics metrics = w->fontMetrics();
        QRect needed = metrics.boundingRect(QRect(0, 0, (flags & Qt::TextWordWrap) ? room.width() : 100000, 100000),
                                            flags, text);
        // A line's height is the font's, whatever the letters of this caption reach.
        needed.setHeight(std::max(needed.height(), metrics.height()) - 1);
        if (needed.width() > room.width() || needed.height() > room.height())
            fault(w, "\"" + text.toStdString() + "\" needs " + std::to_string(needed.width()) + "x" +
                         std::to_string(needed.height()) + ", has " + std::to_string(room.width()) + "x" +
                         std::to_string(room.height()));
    }

    void checkText(QWidget* w) {
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty() || (!label->pixmap().isNull())) return;
            QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                         -label->margin());
            int flags = Qt::TextShowMnemonic;
            if (label->wordWrap()) flags |= Qt::TextWordWrap;
            if (label->textFormat() == Qt::RichText) return;
            textFits(w, label->text(), room, flags);
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            QStyleOptionButton option;
            option.initFrom(check);
            option.text = check->text();
            textFits(w, check->text(), check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check));
        } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
            QStyleOptionButton option;
            option.initFrom(radio);
            option.text = radio->text();
            textFits(w, radio->text(), radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio));
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            option.features = button->isFlat() ? QStyleOptionButton::Flat : QStyleOptionButton::None;
            textFits(w, button->text(),
                     button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button));
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const QRect field =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            // Any item may be the one shown.
            for (int i = 0; i < combo->count(); ++i) textFits(w, combo->itemText(i), field, 0);
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            const auto arrows = tabs->findChildren<QToolButton*>();
            if (std::any_of(arrows.begin(), arrows.end(), [tabs](QToolButton* b) { return b->isVisibleTo(tabs); }))
                fault(w, "tab bar shows scroll arrows");
            const int padding = tabs->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, tabs);
            for (int i = 0; i < tabs->count(); ++i) {
                const QString caption = QString(tabs->tabText(i)).remove(u'&');
                if (tabs->tabRect(i).width() < tabs->fontMetrics().horizontalAdvance(caption) + padding / 2 ||
                    tabs->tabRect(i).right() > tabs->width())
                    fault(w, "tab \"" + tabs->tabText(i).toStdString() + "\" is cut");
            }
        } else if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            for (QToolButton* more : bar->findChildren<QToolButton*>())
                if (more->isVisibleTo(bar)) fault(w, "menu bar overflows into its extension button");
        }
    }

    void checkContrast(QWidget* w) {
        if (!w->isEnabled()) return;  // greyed text says "not now"; contrast rules leave it out
        const bool hasText = (qobject_cast<QLabel*>(w) && !static_cast<QLabel*>(w)->text().isEmpty()) ||
                             qobject_cast<QAbstractButton*>(w);
        if (!hasText) return;
        const QColor text = w->palette().color(QPalette::Active, w->foregroundRole());
        const QColor back = BackgroundOf(w);
        const double ratio = platform::ContrastRatio(text, back);
        if (ratio < 4.5)
            fault(w, "contrast " + std::to_string(ratio).substr(0, 4) + ":1 (" + text.name().toStdString() + " on " +
                         back.name().toStdString() + ")");
    }

    void checkName(QWidget* w) {
        if (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled()) return;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (!a || a->text(QAccessible::Name).trimmed().isEmpty()) fault(w, "no accessible name");
    }

    void walk(QWidget* parent) {
        const bool scrolls = parent->objectName() == QLatin1String("qt_scrollarea_viewport");
        std::vector<QWidget*> shown;
        for (QObject* o : parent->children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (!w || w->isWindow() || !w->isVisibleTo(m_window)) continue;
            checkText(w);
            checkContrast(w);
            checkName(w);
            if (!scrolls && !parent->rect().contains(w->geometry()))
                fault(w, "reaches out of " + Describe(parent) + " (" + std::to_string(w->geometry().right()) + "," +
                             std::to_string(w->geometry().bottom()) + " in " + std::to_string(parent->width()) + "x" +
                             std::to_string(parent->height()) + ")");
            if (!Internal(w)) shown.push_back(w);
            // The parts of these belong to Qt; their captions were checked above.
            if (qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QTabBar*>(w) ||
                qobject_cast<QAbstractItemView*>(w) || qobject_cast<QScrollBar*>(w) || qobject_cast<QMenuBar*>(w))
                continue;
            walk(w);
        }
        for (std::size_t i = 0; i < shown.size(); ++i)
            for (std::size_t j = i + 1; j < shown.size(); ++j)
                if (shown[i]->geometry().intersects(shown[j]->geometry()))
                    fault(shown[i], "overlaps " + Describe(shown[j]));
    }

    QWidget* m_window;
    std::vector<std::string> m_faults;
};

// Lets layouts settle, then walks the window: every fault found fails the test.
void ExpectFits(QWidget* window, const std::string& where = {}) {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    const std::string faults = WindowWalk(window).faults();
    EXPECT_TRUE(faults.empty()) << where << "\n" << faults;
}

struct Case {
    const char* language;  // "" keeps the program's own English captions
    double fontScale;      // the desktop's font, or a larger one chosen while the windows are open
};
void PrintTo(const Case& c, std::ostream* out) { *out << (*c.language ? c.language : "English") << " x" << c.fontScale; }

std::string Name(const ::testing::TestParamInfo<Case>& info) {
    std::string name = *info.param.language ? info.param.language : "English";
    return name + (info.param.fontScale > 1 ? "LargeFont" : "DesktopFont");
}

class WindowFit : public MainWindowFixture, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        WriteFile(system + "Deutsch.lng", Shipped("Deutsch.lng"));
        WriteFile(system + "English.lng", Shipped("English.lng"));
        m_font = QApplication::font();
        create();
        addFiles({picture("Landschaft mit einem recht langen Namen.jpg"), picture("b.png", 30, 40)});
        if (*GetParam().language) {
            ASSERT_TRUE(window->ApplyLanguage(GetParam().language, "MainForm", window.get()));
        }
        window->showMainWindow();
        if (GetParam().fontScale > 1) {
            QFont larger = m_font;
            larger.setPointSizeF(m_font.pointSizeF() * GetParam().fontScale);
            QApplication::setFont(larger);
        }
    }
    void TearDown() override {
        if (window) window->goAway();
        QApplication::setFont(m_font);
    }

    // Runs check on the modal dialog that command opens, then closes it.
    void whileModal(const std::function<void()>& command, const std::function<void(QDialog&)>& check) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            ProcessEventsUntil([] { return qobject_cast<QDialog*>(QApplication::activeModalWidget()) != nullptr; });
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                seen = true;
                check(*dialog);
                dialog->reject();
            }
        });
        command();
        EXPECT_TRUE(seen) << "no modal dialog opened";
    }

    QFont m_font;
};

TEST_P(WindowFit, MainWindow) { ExpectFits(window.get()); }

TEST_P(WindowFit, PreferencesEveryPage) {
    whileModal([&] { window->openPreferences(PreferencesDialog::kBasicPage); },
               [&](QDialog& dialog) {
                   auto* pages = dialog.findChild<QTabWidget*>("pgcOptions1");
                   ASSERT_NE(pages, nullptr);
                   // The countdown with three digits, as it shows in most minutes of a ten-minute interval.
                   static_cast<PreferencesDialog&>(dialog).showCountdown(407);
                   for (int i = 0; i < pages->count(); ++i) {
                       pages->setCurrentIndex(i);
                       ExpectFits(&dialog, "page " + pages->tabText(i).toStdString());
                   }
               });
}

TEST_P(WindowFit, FolderBrowser) {
    window->addFolderCommand();
    auto* browser = window->findChild<FolderBrowser*>();
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(ProcessEventsUntil([&] { return browser->isVisible(); }));
    ExpectFits(browser);
    browser->close();
}

TEST_P(WindowFit, Preview) {
    select({0});
    window->previewCommand();
    PreviewWindow* preview = window->previewWindow();
    ASSERT_NE(preview, nullptr);
    ExpectFits(preview);
    preview->close();
}

TEST_P(WindowFit, About) {
    whileModal([&] { window->aboutCommand(); }, [](QDialog& dialog) { ExpectFits(&dialog); });
}

// On a screen with two pixels to the point, a thumbnail is drawn from a picture with as
// many pixels, not the kept one blown up: a picture of one-pixel stripes keeps its stripes
// (blown up, the kept thumbnail is an even grey). Runs in the scale-2 pass.
class SharpThumbnails : public MainWindowFixture {};

TEST_F(SharpThumbnails, AreDrawnAtTheScreensPixelRatio) {
    create();
    window->showMainWindow();
    if (window->devicePixelRatioF() < 2) GTEST_SKIP() << "runs at QT_SCALE_FACTOR=2";
    QImage stripes(170, 170, QImage::Format_RGB32);
    for (int y = 0; y < stripes.height(); ++y)
        for (int x = 0; x < stripes.width(); ++x) stripes.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    const std::string path = dir.file("stripes.png");
    ASSERT_TRUE(stripes.save(QString::fromStdString(path)));
    addFiles({path});
    WallpaperListView& view = window->listView();
    auto edges = [&view] {
        const QImage shot = view.viewport()->grab().toImage();
        const QRect cell = view.visualRect(view.model()->index(0, 0));
        const qreal ratio = shot.devicePixelRatio();
        const QRect pixels(QPoint(int(cell.left() * ratio), int(cell.top() * ratio)),
                           QPoint(int(cell.right() * ratio), int(cell.bottom() * ratio)));
        int count = 0;
        for (int y = pixels.top(); y <= pixels.bottom() && y < shot.height(); ++y)
            for (int x = pixels.left() + 1; x <= pixels.right() && x < shot.width(); ++x)
                if (std::abs(qGray(shot.pixel(x, y)) - qGray(shot.pixel(x - 1, y))) > 100) ++count;
        return count;
    };
    EXPECT_TRUE(ProcessEventsUntil([&] { return edges() > 170 * 100; }, 10000)) << edges() << " sharp edges";
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowFit,
                         ::testing::Values(Case{"", 1.0}, Case{"Deutsch", 1.0}, Case{"", 1.5}, Case{"Deutsch", 1.5}),
                         Name);

}  // namespace
}  // namespace kalidrome::test
