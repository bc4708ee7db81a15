// What the list view draws: the view is shown on the offscreen platform, grabbed, and its
// pixels and row geometry are checked.
#include <gtest/gtest.h>

#include <QApplication>
#include <unistd.h>

#include <QHeaderView>
#include <QImage>
#include <QPixmap>
#include <functional>
#include <memory>

#include "ListFile.h"
#include "PictureFixtures.h"
#include "QtWait.h"
#include "TempDir.h"
#include "Thumbnail.h"
#include "WallpaperList.h"
#include "TextContrast.h"
#include "WallpaperListView.h"

namespace kalidrome::test {
namespace {

// A stored thumbnail as the program makes it: a solid red picture, encoded by the
// thumbnail encoder.
JpegImage RedThumbnail(int width, int height) {
    return JpegImage{render::EncodeThumbnail(SolidImage(width, height, kRed)), width, height};
}

bool IsRed(QRgb p) { return qRed(p) > 200 && qGreen(p) < 70 && qBlue(p) < 70; }

// The smallest rectangle holding every red pixel of area in image, or an empty one.
QRect RedBounds(const QImage& image, const QRect& area) {
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (IsRed(image.pixel(x, y))) bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// The darkest channel value of any pixel in area.
int Darkest(const QImage& image, const QRect& area) {
    int darkest = 255;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            darkest = std::min({darkest, qRed(p), qGreen(p), qBlue(p)});
        }
    return darkest;
}

class ListViewDrawingTest : public ::testing::Test {
protected:
    // As the main window has it: the view made over the empty list, told of every change.
    ListViewDrawingTest() : view(std::make_unique<WallpaperListView>(list)) {
        list.setChangeListener([this] { view->listChanged(); });
        QObject::connect(view.get(), &WallpaperListView::thumbnailWanted, [this](EntryId id) { wanted.push_back(id); });
        QObject::connect(view.get(), &WallpaperListView::firstPainted, [this] { painted = true; });
    }
    ~ListViewDrawingTest() override { list.setChangeListener({}); }

    TListItemInfo& add(const std::string& path, const std::string& name) {
        TListItemInfo& e = list.AddEntry(path);
        e.FileName = name;
        return e;
    }

    // Shows the view and returns its rows as drawn.
    QImage show(bool showImages) {
        view->setShowImages(showImages);
        view->resize(640, 480);
        view->show();
        EXPECT_TRUE(ProcessEventsUntil([&] { return painted; }));
        // The first layout fixes the first column's width once the rows have been laid out.
        const int width = showImages ? 105 : 200;
        EXPECT_TRUE(ProcessEventsUntil([&] { return view->header()->sectionSize(0) == width; }));
        // No focus frame: the current row would draw one over its cells.
        view->selectionModel()->clearCurrentIndex();
        return view->viewport()->grab().toImage();
    }

    QRect cell(int row, int column) const { return view->visualRect(view->tableModel().index(row, column)); }

    WallpaperList list;
    std::unique_ptr<WallpaperListView> view;
    std::vector<EntryId> wanted;
    bool painted = false;
};

// A thumbnail is drawn unscaled, 8 pixels in from the cell's left edge, its top at the
// row's top + 42 - height / 2 (rounded toward zero); the row's last pixel line is the
// grid line.
TEST_F(ListViewDrawingTest, ThumbnailsSitEightPixelsInAndCentredOnPixel42) {
    const struct {
        int w, h, top;
    } cases[] = {{40, 40, 22}, {85, 31, 27}, {60, 84, 0}, {20, 1, 42}};
    for (const auto& c : cases)
        add("/p/" + std::to_string(c.w) + "x" + std::to_string(c.h) + ".jpg", "t.jpg").Thumbnail.emplace(RedThumbnail(c.w, c.h));
    const QImage image = show(true);
    for (int row = 0; row < 4; ++row) {
        const auto& c = cases[row];
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        const QRect r = cell(row, 0);
        ASSERT_EQ(r.height(), 85);
        const QRect expected(r.left() + 8, r.top() + c.top, c.w, std::min(c.h, 84 - c.top));
        EXPECT_EQ(RedBounds(image, r), expected);
    }
    EXPECT_TRUE(wanted.empty()) << "rows that have a thumbnail ask for none";
}

// With thumbnails on, column 0 shows the thumbnail or nothing, never the file name; a row
// without a thumbnail asks for one.
TEST_F(ListViewDrawingTest, NoFileNameInTheThumbnailColumn) {
    add("/p/a.jpg", "").Thumbnail.emplace(RedThumbnail(40, 30));
    add("/p/b.jpg", "MMMMMMMM.jpg").Thumbnail.emplace(RedThumbnail(40, 30));
    const EntryId bare = add("/p/c.jpg", "MMMMMMMM.jpg").id();
    add("/p/d.jpg", "");
    const QImage image = show(true);
    const QRect unnamed = cell(0, 0), named = cell(1, 0);
    ASSERT_EQ(unnamed.size(), named.size());
    EXPECT_EQ(image.copy(named), image.copy(unnamed)) << "the name changed what column 0 shows";
    const QRect without = cell(2, 0), withoutUnnamed = cell(3, 0);
    EXPECT_EQ(without.height(), 85);
    EXPECT_EQ(image.copy(without), image.copy(withoutUnnamed)) << "the name changed an empty thumbnail cell";
    EXPECT_EQ(Darkest(image, without.adjusted(0, 0, 0, -1)), Darkest(image, QRect(image.width() - 2, without.top(), 1, 80)))
        << "an empty thumbnail cell is the row's background";
    EXPECT_NE(std::find(wanted.begin(), wanted.end(), bare), wanted.end());
}

// Without thumbnails, rows are 17 pixels high one under the other, column 0 is 200 wide
// and shows the file name in black, and the path is drawn in silver darkened just enough
// to read (4.5:1) on the list's background.
TEST_F(ListViewDrawingTest, TextRowsAreSeventeenPixelsHigh) {
    for (int i = 0; i < 3; ++i) add("/pictures/p" + std::to_string(i) + ".jpg", "MMMM" + std::to_string(i) + ".jpg");
    const QImage image = show(false);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const QRect name = cell(row, 0), path = cell(row, 1);
        EXPECT_EQ(name.top(), 17 * row);
        EXPECT_EQ(name.height(), 17);
        EXPECT_EQ(name.width(), 200);
        EXPECT_EQ(list.at(static_cast<std::size_t>(row)).RowHeight, 17);
        const QRect nameText = name.adjusted(8, 0, 0, -1), pathText = path.adjusted(8, 0, 0, -1);
        EXPECT_LT(Darkest(image, nameText), 100) << "the file name in black";
        const QColor base = QApplication::palette().color(QPalette::Base);
        const QColor grey = WallpaperItemDelegate::PathColour(base);
        EXPECT_GE(platform::ContrastRatio(grey, base), 4.5);
        EXPECT_LT(platform::ContrastRatio(grey, base), 4.8) << "darkened no further than needed";
        const int darkest = Darkest(image, pathText);
        EXPECT_GE(darkest, qGray(grey.rgb()) - 8) << "nothing darker than the path's grey";
        EXPECT_LT(darkest, 235) << "the path is drawn";
    }
}

// Stored thumbnails are read from the list file when their rows are drawn. One whose
// file was cut by another program is asked for again, as a row without one is; a file
// that was deleted still has every thumbnail (it stays open).
TEST_F(ListViewDrawingTest, AThumbnailThatCannotBeReadBackIsAskedForAgain) {
    TempDir dir;
    const std::string path = dir.file("Files.kdl");
    // The size of the list file up to the second thumbnail's last bytes.
    WallpaperList firstOnly;
    firstOnly.AddEntry("/p/a.jpg").Thumbnail.emplace(RedThumbnail(40, 30));
    const off_t secondCut = static_cast<off_t>(EncodeListFile(firstOnly, true, true).size()) + 120;
    struct Case {
        const char* name;
        std::function<void()> change;
        bool firstDrawn, secondDrawn;
    };
    const Case cases[] = {
        {"deleted", [&] { ASSERT_EQ(::unlink(path.c_str()), 0); }, true, true},
        {"cut in the second thumbnail", [&] { ASSERT_EQ(::truncate(path.c_str(), secondCut), 0); }, true, false},
        {"cut to nothing", [&] { ASSERT_EQ(::truncate(path.c_str(), 0), 0); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WallpaperList saved;
        saved.AddEntry("/p/a.jpg").Thumbnail.emplace(RedThumbnail(40, 30));
        saved.AddEntry("/p/b.jpg").Thumbnail.emplace(RedThumbnail(40, 30));
        WriteListFile(path, saved, true, true);
        WallpaperList read;
        bool saveImage = false;
        ReadListFile(path, read, saveImage);
        c.change();
        wanted.clear();
        list.ReplaceWith(read);
        // Rows read from a file arrive laid out; the main window sets the column itself.
        view->fitFirstColumn();
        const QImage image = show(true);
        const bool drawn[] = {c.firstDrawn, c.secondDrawn};
        for (int row = 0; row < 2; ++row) {
            SCOPED_TRACE(row);
            const TListItemInfo& e = list.at(static_cast<std::size_t>(row));
            EXPECT_EQ(!RedBounds(image, cell(row, 0)).isEmpty(), drawn[row]);
            EXPECT_EQ(e.Thumbnail.has_value(), drawn[row]);
            EXPECT_EQ(std::find(wanted.begin(), wanted.end(), e.id()) != wanted.end(), !drawn[row]);
        }
    }
}

}  // namespace
}  // namespace kalidrome::test
