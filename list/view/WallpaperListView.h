#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

#include "WallpaperList.h"

namespace kalidrome {

// The list as a flat two-column table: "Filename" (or the thumbnail) and "Path".
// It reads the WallpaperList directly; the list's change listener resets it once per
// bulk change.
class WallpaperTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit WallpaperTableModel(WallpaperList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The entry of a row, or nullptr for a row that no longer exists (a paint can run
    // while a bulk change is still open).
    TListItemInfo* entryAt(int row) const;
    WallpaperList& list() const { return m_list; }

    void setHeaderCaptions(const QString& fileName, const QString& path);
    // The list changed: rows are rebuilt.
    void reload();
    void rowChanged(EntryId id);

private:
    WallpaperList& m_list;
    int m_rows = 0;
    QString m_captions[2] = {QStringLiteral("Filename"), QStringLiteral("Path")};
};

// Draws the cells: the thumbnail unscaled in column 0 (or the file name), the path in
// silver at 7 point in column 1, thin grid lines between rows. Stored thumbnails are read
// and decoded when their row is drawn, and only the decoded thumbnails of the last few
// screens are kept. A thumbnail that cannot be read back or decoded any more is dropped
// from its entry and asked for again, as a row without one is.
class WallpaperItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    WallpaperItemDelegate(WallpaperTableModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    void setShowImages(bool on) { m_showImages = on; }
    bool showImages() const { return m_showImages; }
    // Decoded thumbnails kept, in kilobytes: a few screens of rows.
    static constexpr int kDecodedKilobytes = 4096;

    // Forgets decoded thumbnails (entries removed or replaced).
    void forget(EntryId id) {
        m_pixmaps.remove(id);
        m_sharp.remove(id);
    }
    void forgetAll() {
        m_pixmaps.clear();
        m_sharp.clear();
    }
    // A thumbnail made for the screen's pixel ratio (see sharpThumbnailWanted); false when
    // it cannot be decoded.
    bool setSharpThumbnail(EntryId id, const QByteArray& jpeg, qreal ratio);

    // The path column's silver, darkened as far as it takes to read on the background.
    static QColor PathColour(const QColor& background);

signals:
    // A painted row has no thumbnail yet.
    void thumbnailWanted(EntryId id) const;
    // A row with a thumbnail was painted on a screen with more pixels than points: a
    // thumbnail made to fit box pixels would be as sharp as the screen.
    void sharpThumbnailWanted(EntryId id, std::int32_t box) const;
    // A row was laid out the first time it was needed.
    void rowLaidOut() const;

private:
    const QPixmap* thumbnailPixmap(TListItemInfo& entry) const;

    WallpaperTableModel& m_model;
    bool m_showImages = true;
    mutable QCache<EntryId, QPixmap> m_pixmaps;  // cost: kilobytes
    // Sharp thumbnails, with their pixel ratio set: drawn in the box of the kept ones.
    mutable QCache<EntryId, QPixmap> m_sharp;
    mutable std::unordered_set<EntryId> m_sharpAsked;
    mutable std::vector<std::uint8_t> m_bytes;
};

// vdtListFiles1: the wallpaper list view. Columns can be resized and reordered but never
// sort; rows have their own heights; several rows can be selected. The selection lives
// in the entries' state words, so that list files keep it and list operations see it.
class WallpaperListView : public QTreeView {
    Q_OBJECT
public:
    explicit WallpaperListView(WallpaperList& list, QWidget* parent = nullptr);

    WallpaperTableModel& tableModel() { return m_model; }
    WallpaperItemDelegate& delegate() { return m_delegate; }

    void setShowImages(bool on);
    bool showImages() const { return m_delegate.showImages(); }

    // The row layout: height 85 or 17 and the laid-out bit, column 0 at 105 or 200.
    void LayOutRow(TListItemInfo& entry);
    // Column 0 at 105 with thumbnails, 200 without, whenever "Show Images" has changed since
    // the last fit; a width the user set in between stays.
    void fitFirstColumn();
    // The columns' widths as they are now (restored from an earlier run) count as fitted.
    void keepColumnWidths() { m_fittedFor = showImages() ? 1 : 0; }
    // The list changed (the list's change listener): rebuild rows, keep the selection.
    void listChanged();
    void repaintRow(EntryId id);
    // Makes a row's new height take effect.
    void rowHeightChanged();

    // Back to the first row and the first column (a new or emptied list).
    void scrollToOrigin();
    // Scrolls rows into sight, never sideways.
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    int selectedCount() const;
    bool focusList();
    // A sharp thumbnail arrived: kept and drawn at the view's pixel ratio.
    void setSharpThumbnail(EntryId id, const QByteArray& jpeg);

signals:
    // A single entry's selection changed (nullptr id 0 when the change named no one row).
    void selectionChangedFor(EntryId id);
    // After every mouse click on the list, once the selection is updated.
    void clicked();
    void doubleClicked();
    void thumbnailWanted(EntryId id);
    void sharpThumbnailWanted(EntryId id, std::int32_t box);
    // The view has painted its rows for the first time.
    void firstPainted();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    void syncSelectionToEntries(const QItemSelection& selected, const QItemSelection& deselected);
    void restoreSelectionFromEntries();

    WallpaperList& m_list;
    WallpaperTableModel m_model;
    WallpaperItemDelegate m_delegate;
    // The "Show Images" state column 0 was last fitted for: 0 off, 1 on, -1 not yet.
    int m_fittedFor = -1;
    bool m_restoring = false;
    bool m_painted = false;
};

}  // namespace kalidrome
