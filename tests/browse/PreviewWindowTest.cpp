// The preview window on Qt's offscreen platform: where it opens, following the list's
// selection, its commands, the check mark of "&Preview", and every way it closes.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include "CaseName.h"
#include "MainMenus.h"
#include "EnvOverride.h"
#include "MainWindowFixture.h"
#include "MessageBox.h"
#include "PictureFixtures.h"
#include "PreviewWindow.h"
#include "QtWait.h"

namespace {

using namespace kalidrome;
using kalidrome::test::ProcessEventsUntil;
using kalidrome::test::SignalRecorder;
using kalidrome::test::WriteFile;

struct PlaceCase {
    const char* name;
    QRect main;
    QPoint expected;
};

// The preview is 131 x 174 on one 1920 x 1080 screen.
const PlaceCase kPlaces[] = {
    {"left of the main window, centred on it", QRect(554, 190, 290, 428), QPoint(422, 317)},
    {"partly off screen stays there", QRect(60, 190, 290, 428), QPoint(-72, 317)},
    {"a main window shorter than the preview rounds toward zero", QRect(554, 200, 290, 101), QPoint(422, 164)},
    {"wholly off screen to the left comes back in", QRect(0, 190, 290, 428), QPoint(0, 317)},
    {"wholly off screen above comes back in", QRect(554, -700, 290, 300), QPoint(422, 0)},
};

class PreviewPositionTest : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PreviewPositionTest, Opens) {
    const QRect screen(0, 0, 1920, 1080);
    EXPECT_EQ(PreviewWindow::Position(GetParam().main, QSize(131, 174), {screen}, screen), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PreviewPositionTest, ::testing::ValuesIn(kPlaces),
                         [](const auto& p) { return kalidrome::test::CaseName(p.param.name); });

class PreviewWindowTest : public kalidrome::test::MainWindowFixture {
protected:
    PreviewWindowTest() {
        create();
        // One picture of each kind, each of its own colour.
        test::WriteColourJpeg(red, test::SolidImage(40, 30, {200, 0, 0}));
        EXPECT_TRUE(QImage(QSize(40, 30), QImage::Format_RGB32).save(QString::fromStdString(png)));
        QImage blue(40, 30, QImage::Format_RGB32);
        blue.fill(QColor(0, 0, 200));
        EXPECT_TRUE(blue.save(QString::fromStdString(png)));
        QImage green(40, 30, QImage::Format_RGB32);
        green.fill(QColor(0, 200, 0));
        EXPECT_TRUE(green.save(QString::fromStdString(bmp), "BMP"));
        WriteFile(broken, "not a picture at all");
        std::string none;
        window->list().AddFiles({red, png, bmp, broken, dir.file("missing.png")}, none);
        window->show();
    }

    PreviewWindow* openPreview() {
        window->menus().actPreview1->trigger();
        return window->previewWindow();
    }

    // Selects one row and waits until the preview shows its picture.
    bool showRow(PreviewWindow& preview, int row) {
        SignalRecorder shown(&preview, &PreviewWindow::pictureShown);
        select({row});
        return ProcessEventsUntil([&] { return shown.count() > 0; });
    }

    static QColor centre(const PreviewWindow& preview) {
        const QImage& p = preview.picture();
        return p.pixelColor(p.width() / 2, p.height() / 2);
    }

    const std::string red = dir.file("red.jpg"), png = dir.file("blue.png"), bmp = dir.file("green.bmp"),
                      broken = dir.file("broken.jpg");
};

TEST_F(PreviewWindowTest, OpensBlackWithSeveralRowsSelectedAndFollowsTheSelection) {
    select({0, 1});
    PreviewWindow* preview = openPreview();
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->windowTitle(), "Preview");
    EXPECT_TRUE(preview->picture().isNull());
    EXPECT_TRUE(window->menus().actPreview1->isChecked());

    struct Shown {
        int row;
        const char* title;
        QColor colour;
    };
    for (const Shown& s : {Shown{0, "Preview - red.jpg", QColor(200, 0, 0)}, Shown{1, "Preview - blue.png", QColor(0, 0, 200)},
                           Shown{2, "Preview - green.bmp", QColor(0, 200, 0)}}) {
        ASSERT_TRUE(showRow(*preview, s.row)) << s.title;
        EXPECT_EQ(preview->windowTitle(), s.title);
        const QColor c = centre(*preview);
        EXPECT_NEAR(c.red(), s.colour.red(), 8) << s.title;
        EXPECT_NEAR(c.green(), s.colour.green(), 8) << s.title;
        EXPECT_NEAR(c.blue(), s.colour.blue(), 8) << s.title;
    }
}

TEST_F(PreviewWindowTest, OpensOnTheSingleSelectedEntry) {
    select({1});
    PreviewWindow* preview = openPreview();
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(ProcessEventsUntil([&] { return !preview->picture().isNull(); }));
    EXPECT_EQ(preview->windowTitle(), "Preview - blue.png");
}

TEST_F(PreviewWindowTest, AnUnreadablePictureIsReportedAndTheOldOneStays) {
    PreviewWindow* preview = openPreview();
    ASSERT_TRUE(showRow(*preview, 1));
    SignalRecorder failed(preview, &PreviewWindow::pictureFailed);
    ui::SetNextAnswer(ui::Answer::Ok);  // answers the error box
    select({3});
    ASSERT_TRUE(ProcessEventsUntil([&] { return failed.count() == 1; }));
    EXPECT_FALSE(std::get<1>(failed.calls.front()).isEmpty());
    EXPECT_EQ(preview->windowTitle(), "Preview - blue.png");
    EXPECT_EQ(preview->shownPath().toStdString(), png);

    // Leaving the unreadable row (which reports it once more) for a missing file neither
    // reports it again nor touches the preview.
    test::EnvOverride noBoxes("KALIDROME_NONINTERACTIVE", "1");  // a second box would wait for ever
    select({4});
    ProcessEventsUntil([&] { return failed.count() > 1; }, 500);
    EXPECT_EQ(preview->shownPath().toStdString(), png);
    EXPECT_EQ(failed.count(), 1);
}

TEST_F(PreviewWindowTest, DeleteRemovesTheOneSelectedEntryAndKeepsThePicture) {
    PreviewWindow* preview = openPreview();
    ASSERT_TRUE(showRow(*preview, 1));
    auto* del = preview->findChild<QPushButton*>("btnDelete1");

    select({0, 2});  // several rows: nothing happens
    del->click();
    EXPECT_EQ(window->list().count(), 5u);

    select({1});
    del->click();
    EXPECT_EQ(listed(), (std::vector<std::string>{red, bmp, broken, dir.file("missing.png")}));
    EXPECT_EQ(window->findChild<QLabel*>("lblFiles1")->text(), "4");
    EXPECT_EQ(preview->shownPath().toStdString(), png);
    EXPECT_FALSE(preview->picture().isNull());
}

TEST_F(PreviewWindowTest, SetAsWallpaperPutsTheSelectedEntryOnTheDesktop) {
    PreviewWindow* preview = openPreview();
    auto* setAsWallpaper = preview->findChild<QAction*>("Setaswallpaper1");
    ASSERT_NE(setAsWallpaper, nullptr);
    EXPECT_EQ(setAsWallpaper->shortcut(), QKeySequence(Qt::Key_F9));

    select({0, 1});
    setAsWallpaper->trigger();
    EXPECT_TRUE(desktop.calls().empty());

    select({2});
    setAsWallpaper->trigger();
    // The picture is made on the worker and handed to the desktop from the event loop.
    EXPECT_TRUE(ProcessEventsUntil([&] { return !window->wallpaperChanger().busy(); }));
    ASSERT_EQ(desktop.calls().size(), 1u);
    EXPECT_EQ(window->engine().CurrentWallpaper(), bmp);
}

TEST_F(PreviewWindowTest, EveryWayOfClosingReleasesItAndTakesTheCheckMark) {
    struct Close {
        const char* name;
        std::function<void(PreviewWindow&)> close;
    };
    const Close closes[] = {
        {"the command again", [this](PreviewWindow&) { window->menus().actPreview1->trigger(); }},
        {"its Close button", [](PreviewWindow& p) { p.findChild<QPushButton*>("btnClose1")->click(); }},
        {"Esc", [](PreviewWindow& p) { press(&p, Qt::Key_Escape); }},
        {"the main window closing", [this](PreviewWindow&) { window->close(); }},
    };
    for (const Close& c : closes) {
        window->show();
        QPointer<PreviewWindow> preview = openPreview();
        ASSERT_TRUE(preview) << c.name;
        c.close(*preview);
        EXPECT_EQ(window->previewWindow(), nullptr) << c.name;
        EXPECT_FALSE(window->menus().actPreview1->isChecked()) << c.name;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(preview) << c.name;
    }
}

}  // namespace
