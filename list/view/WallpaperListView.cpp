#include "WallpaperListView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QPainter>
#include <cmath>

#include "TextContrast.h"
#include "Thumbnail.h"
#include "WindowFont.h"

namespace kalidrome {

namespace {
constexpr int kCellMargin = 4;   // left of each cell's content area
constexpr int kTextMargin = 4;   // left and right of the text inside the content area
constexpr int kThumbnailColumnWidth = 105;
constexpr int kNameColumnWidth = 200;
constexpr int kPathColumnWidth = 250;

// The cell's content area less the text margins, one pixel in at the right and bottom.
QRect TextRect(const QRect& cell) {
    QRect content = cell.adjusted(kCellMargin, 0, 0, 0);
    return content.adjusted(kTextMargin, 0, -kTextMargin - 1, -1);
}
}  // namespace

// --- model -------------------------------------------------------------------------

WallpaperTableModel::WallpaperTableModel(WallpaperList& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_rows(static_cast<int>(list.count())) {}

int WallpaperTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int WallpaperTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

TListItemInfo* WallpaperTableModel::entryAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_list.count()) return nullptr;
    return &m_list.at(static_cast<std::size_t>(row));
}

QVariant WallpaperTableModel::data(const QModelIndex& index, int role) const {
    const TListItemInfo* entry = entryAt(index.row());
    if (!entry || role != Qt::DisplayRole) return {};
    return QString::fromStdString(index.column() == 0 ? entry->FileName : entry->FilePath);
}

QVariant WallpaperTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 1) return {};
    return m_captions[section];
}

Qt::ItemFlags WallpaperTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void WallpaperTableModel::setHeaderCaptions(const QString& fileName, const QString& path) {
    m_captions[0] = fileName;
    m_captions[1] = path;
    emit headerDataChanged(Qt::Horizontal, 0, 1);
}

void WallpaperTableModel::reload() {
    beginResetModel();
    m_rows = static_cast<int>(m_list.count());
    endResetModel();
}

void WallpaperTableModel::rowChanged(EntryId id) {
    auto row = m_list.indexOf(id);
    if (!row || static_cast<int>(*row) >= m_rows) return;
    int r = static_cast<int>(*row);
    emit dataChanged(index(r, 0), index(r, 1));
}

// --- delegate ----------------------------------------------------------------------

WallpaperItemDelegate::WallpaperItemDelegate(WallpaperTableModel& model, QObject* parent)
    : QStyledItemDelegate(parent), m_model(model), m_pixmaps(kDecodedKilobytes), m_sharp(kDecodedKilobytes * 4) {}

QColor WallpaperItemDelegate::PathColour(const QColor& background) {
    return platform::ReadableOn(QColor(192, 192, 192), background);
}

bool WallpaperItemDelegate::setSharpThumbnail(EntryId id, const QByteArray& jpeg, qreal ratio) {
    m_sharpAsked.erase(id);
    QPixmap pixmap;
    if (!pixmap.loadFromData(jpeg, "JPEG")) return false;
    pixmap.setDevicePixelRatio(ratio);
    const qsizetype kilobytes = 1 + static_cast<qsizetype>(pixmap.width()) * pixmap.height() * pixmap.depth() / 8 / 1024;
    m_sharp.insert(id, new QPixmap(std::move(pixmap)), kilobytes);
    return true;
}

const QPixmap* WallpaperItemDelegate::thumbnailPixmap(TListItemInfo& entry) const {
    if (QPixmap* cached = m_pixmaps.object(entry.id())) return cached;
    QPixmap pixmap;
    if (!entry.Thumbnail->read(m_bytes) ||
        !pixmap.loadFromData(m_bytes.data(), static_cast<uint>(m_bytes.size()), "JPEG")) {
        entry.Thumbnail.reset();
        return nullptr;
    }
    const qsizetype kilobytes = 1 + static_cast<qsizetype>(pixmap.width()) * pixmap.height() * pixmap.depth() / 8 / 1024;
    auto* stored = new QPixmap(std::move(pixmap));
    m_pixmaps.insert(entry.id(), stored, kilobytes);
    return stored;
}

void WallpaperItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    TListItemInfo* entry = m_model.entryAt(index.row());
    if (!entry) return;
    // Row background and selection as the style draws them, without any text.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : nullptr;
    if (style) style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    painter->save();
    painter->setClipRect(option.rect);
    const QRect cell = option.rect;
    if (index.column() == 0 && m_showImages) {
        if (entry->Thumbnail) {
            const int top = cell.top() + 42 - entry->Thumbnail->Height / 2;
            const QPoint at(cell.left() + kCellMargin + 4, top);
            const qreal ratio = painter->device()->devicePixelRatioF();
            const QPixmap* sharp = ratio > 1 ? m_sharp.object(entry->id()) : nullptr;
            if (sharp && sharp->devicePixelRatio() == ratio) {
                painter->drawPixmap(at, *sharp);
            } else if (const QPixmap* pm = thumbnailPixmap(*entry)) {
                // In its box at its own size (the box keeps its size in points); on a screen
                // with more pixels than points a sharper one is made, and shown once there.
                painter->drawPixmap(QRect(at, QSize(entry->Thumbnail->Width, entry->Thumbnail->Height)), *pm);
                if (ratio > 1 && m_sharpAsked.insert(entry->id()).second)
                    emit sharpThumbnailWanted(entry->id(),
                                              static_cast<std::int32_t>(std::ceil(render::kThumbnailBox * ratio)));
            }
        }
        // Also when the thumbnail was dropped just now because it could not be read back.
        if (!entry->Thumbnail) emit thumbnailWanted(entry->id());
    } else if (index.column() == 0) {
        painter->setFont(platform::WindowFont(8));
        painter->setPen(option.state & QStyle::State_Selected ? option.palette.highlightedText().color()
                                                              : QColor(Qt::black));
        painter->drawText(TextRect(cell), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          QString::fromStdString(entry->FileName));
    } else {
        // Silver, except on a selected row, where silver on the selection colour cannot be read.
        painter->setFont(platform::WindowFont(7));
        painter->setPen(option.state & QStyle::State_Selected ? option.palette.highlightedText().color()
                                                              : PathColour(option.palette.color(QPalette::Base)));
        painter->drawText(TextRect(cell), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          QString::fromStdString(entry->FilePath));
    }
    // Thin horizontal grid line under the row.
    painter->setPen(option.palette.color(QPalette::Mid));
    painter->drawLine(cell.bottomLeft(), cell.bottomRight());
    painter->restore();
}

QSize WallpaperItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    TListItemInfo* entry = m_model.entryAt(index.row());
    if (!entry) return {0, kNewRowHeight};
    if (!entry->laidOut()) {
        WallpaperList::LayOutRow(*entry, m_showImages);
        emit rowLaidOut();
    }
    int width = 0;
    if (index.column() == 0 && entry->Thumbnail) {
        width = entry->Thumbnail->Width;
    } else if (index.column() == 1) {
        width = QFontMetrics(option.font).horizontalAdvance(QString::fromStdString(entry->FilePath)) + 2 * kTextMargin;
    }
    return {width, entry->RowHeight};
}

// --- view --------------------------------------------------------------------------

WallpaperListView::WallpaperListView(WallpaperList& list, QWidget* parent)
    : QTreeView(parent), m_list(list), m_model(list, this), m_delegate(m_model, this) {
    setObjectName(QStringLiteral("vdtListFiles1"));
    setAccessibleName(QStringLiteral("Pictures"));
    setModel(&m_model);
    setItemDelegate(&m_delegate);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(false);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    // Scrolling by rows: the view never needs the height of every row of a long list.
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    header()->setSectionsMovable(true);
    // A tree keeps its first column in place; this list has no tree, so both columns move.
    header()->setFirstSectionMovable(true);
    header()->setSectionsClickable(false);
    header()->setStretchLastSection(false);
    QFont headerFont(QStringLiteral("MS Sans Serif"));
    headerFont.setPointSize(8);
    header()->setFont(headerFont);
    header()->resizeSection(0, kNameColumnWidth);
    header()->resizeSection(1, kPathColumnWidth);

    connect(&m_delegate, &WallpaperItemDelegate::thumbnailWanted, this, &WallpaperListView::thumbnailWanted);
    connect(&m_delegate, &WallpaperItemDelegate::sharpThumbnailWanted, this, &WallpaperListView::sharpThumbnailWanted);
    connect(&m_delegate, &WallpaperItemDelegate::rowLaidOut, this, &WallpaperListView::fitFirstColumn,
            Qt::QueuedConnection);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &WallpaperListView::syncSelectionToEntries);
    restoreSelectionFromEntries();
}

void WallpaperListView::setShowImages(bool on) {
    m_delegate.setShowImages(on);
    viewport()->update();
}

void WallpaperListView::fitFirstColumn() {
    const int mode = showImages() ? 1 : 0;
    if (m_fittedFor == mode) return;
    m_fittedFor = mode;
    const int width = showImages() ? kThumbnailColumnWidth : kNameColumnWidth;
    if (header()->sectionSize(0) != width) header()->resizeSection(0, width);
}

void WallpaperListView::LayOutRow(TListItemInfo& entry) {
    WallpaperList::LayOutRow(entry, showImages());
    fitFirstColumn();
    rowHeightChanged();
}

void WallpaperListView::rowHeightChanged() { scheduleDelayedItemsLayout(); }

void WallpaperListView::listChanged() {
    m_delegate.forgetAll();
    m_model.reload();
    restoreSelectionFromEntries();
    if (m_model.rowCount() == 0) scrollToOrigin();
}

void WallpaperListView::scrollToOrigin() {
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

void WallpaperListView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // Rows scroll into sight; the columns stay where the user put them, so a click on a
    // long path does not push the thumbnails off the left edge.
    const int horizontal = horizontalScrollBar()->value();
    QTreeView::scrollTo(index, hint);
    horizontalScrollBar()->setValue(horizontal);
}

void WallpaperListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QTreeView::drawRow(painter, option, index);
    // The row goes on right of the last column to the view's edge: its selection and its
    // grid line too.
    const QHeaderView* h = header();
    const int end = h->sectionViewportPosition(h->logicalIndex(h->count() - 1)) +
                    h->sectionSize(h->logicalIndex(h->count() - 1));
    if (end >= viewport()->width()) return;
    QStyleOptionViewItem rest = option;
    rest.rect = QRect(end, option.rect.top(), viewport()->width() - end, option.rect.height());
    rest.index = index;
    rest.viewItemPosition = QStyleOptionViewItem::End;
    if (selectionModel()->isSelected(index)) rest.state |= QStyle::State_Selected;
    else rest.state &= ~QStyle::State_Selected;
    rest.state &= ~QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelItemViewItem, &rest, painter, this);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Mid));
    painter->drawLine(rest.rect.bottomLeft(), rest.rect.bottomRight());
    painter->restore();
}

void WallpaperListView::repaintRow(EntryId id) {
    m_delegate.forget(id);
    m_model.rowChanged(id);
}

int WallpaperListView::selectedCount() const { return static_cast<int>(m_list.selectedCount()); }

bool WallpaperListView::focusList() {
    if (!isVisible() || !window()->isVisible()) return false;
    setFocus(Qt::OtherFocusReason);
    return hasFocus();
}

void WallpaperListView::syncSelectionToEntries(const QItemSelection& selected, const QItemSelection& deselected) {
    if (m_restoring) return;
    int changedRows = 0;
    EntryId lastSelected = 0;
    EntryId lastDeselected = 0;
    for (const QItemSelectionRange& range : deselected)
        for (int r = range.top(); r <= range.bottom(); ++r)
            if (TListItemInfo* e = m_model.entryAt(r)) {
                e->setSelected(false);
                lastDeselected = e->id();
                ++changedRows;
            }
    int newlySelected = 0;
    for (const QItemSelectionRange& range : selected)
        for (int r = range.top(); r <= range.bottom(); ++r)
            if (TListItemInfo* e = m_model.entryAt(r)) {
                e->setSelected(true);
                lastSelected = e->id();
                ++newlySelected;
            }
    if (m_list.updateCount() > 0) return;  // no selection reports during a bulk change
    // Only a change that names one row is reported with its entry.
    if (newlySelected == 1) emit selectionChangedFor(lastSelected);
    else if (newlySelected == 0 && changedRows == 1) emit selectionChangedFor(lastDeselected);
    else emit selectionChangedFor(0);
}

void WallpaperListView::restoreSelectionFromEntries() {
    QItemSelection selection;
    const int rows = m_model.rowCount();
    int runStart = -1;
    for (int r = 0; r <= rows; ++r) {
        const bool on = r < rows && m_list.at(static_cast<std::size_t>(r)).selected();
        if (on && runStart < 0) runStart = r;
        if (!on && runStart >= 0) {
            selection.select(m_model.index(runStart, 0), m_model.index(r - 1, 1));
            runStart = -1;
        }
    }
    m_restoring = true;
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_restoring = false;
}

void WallpaperListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    emit clicked();
}

void WallpaperListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

void WallpaperListView::paintEvent(QPaintEvent* event) {
    // Nothing is drawn while a bulk change is open; its end redraws the view once.
    if (m_list.updateCount() > 0) return;
    QTreeView::paintEvent(event);
    if (!m_painted) {
        m_painted = true;
        emit firstPainted();
    }
}

}  // namespace kalidrome

namespace kalidrome {

void WallpaperListView::setSharpThumbnail(EntryId id, const QByteArray& jpeg) {
    if (m_delegate.setSharpThumbnail(id, jpeg, devicePixelRatioF())) m_model.rowChanged(id);
}

}  // namespace kalidrome
