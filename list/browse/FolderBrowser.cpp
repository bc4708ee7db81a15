#include "FolderBrowser.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ShortenPath.h"
#include "AtLeast.h"
#include "WindowFont.h"

namespace kalidrome {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;
constexpr int kBottomHeight = 46;
constexpr QSize kButtonSize(75, 23);

QTreeWidgetItem* MakeFolderItem(const QString& name, const QString& path, const QIcon& icon) {
    auto* item = new QTreeWidgetItem(QStringList{name});
    item->setData(0, kPathRole, path);
    item->setIcon(0, icon);
    // Whether there are sub-folders is found out when the folder is first opened.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

const std::vector<std::string>& FolderBrowser::PictureMasks() {
    static const std::vector<std::string> masks{"*.jpg", "*.jpeg", "*.png", "*.bmp"};
    return masks;
}

FolderBrowser::FolderBrowser(QWidget* mainWindow, Hooks hooks)
    : QDialog(mainWindow, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_hooks(std::move(hooks)),
      m_tree(new QTreeWidget(this)),
      m_bottom(new platform::AtLeast<QWidget>(QSize(0, kBottomHeight), this)),
      m_label(new QLabel(m_bottom)),
      m_path(new QLabel(QStringLiteral("---"), m_bottom)),
      m_found(new QLabel(m_bottom)),
      m_add(new platform::AtLeast<QPushButton>(kButtonSize, m_bottom)),
      m_close(new platform::AtLeast<QPushButton>(kButtonSize, m_bottom)),
      m_progressTimer(new QTimer(this)) {
    setObjectName(QStringLiteral("frmBrowse1"));
    setModal(true);
    platform::UseWindowFont(this, 8);
    resize(250, 341);
    // The least size is the nominal one, or what the captions under the folders ask for.
    m_tree->setMinimumSize(250 - 8, 300 - 8 - kBottomHeight);

    m_tree->setObjectName(QStringLiteral("shlTree1"));
    m_bottom->setObjectName(QStringLiteral("pnlBottom1"));
    m_label->setObjectName(QStringLiteral("Label1"));
    m_path->setObjectName(QStringLiteral("lblPath1"));
    m_found->setObjectName(QStringLiteral("lblFound1"));
    m_add->setObjectName(QStringLiteral("btnAdd1"));
    m_close->setObjectName(QStringLiteral("btnClose1"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(0);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_bottom);

    auto* separator = new QFrame(m_bottom);
    separator->setObjectName(QStringLiteral("bvlTop1"));
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    for (QLabel* label : {m_label, m_path, m_found}) {
        platform::UseWindowFont(label, 7);
        // Folder names may hold "<" and "&": shown as they are.
        label->setTextFormat(Qt::PlainText);
    }
    m_found->setAlignment(Qt::AlignCenter);
    m_found->setWordWrap(true);
    m_found->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_found->hide();
    // The path is shortened to the room the label has, not the other way round.
    m_path->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_path->setMinimumWidth(1);
    platform::UseWindowFont(m_add, 8, true);
    m_add->setAutoDefault(false);
    m_close->setAutoDefault(false);

    buildTree();

    setWindowTitle(text("Browse for a folder"));
    m_add->setText(text("&Add"));
    m_close->setText(text("C&lose"));
    m_label->setText(text("Path:"));
    m_tree->setAccessibleName(windowTitle());

    // Under the folders: a line, the chosen path, and the row of Add, the search's
    // progress and Close.
    auto* bottom = new QVBoxLayout(m_bottom);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(4);
    bottom->addWidget(separator);
    auto* pathRow = new QHBoxLayout;
    pathRow->setContentsMargins(4, 0, 0, 0);
    pathRow->setSpacing(4);
    pathRow->addWidget(m_label);
    pathRow->addWidget(m_path, 1);
    bottom->addLayout(pathRow);
    bottom->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(m_add);
    buttons->addWidget(m_found, 1);
    buttons->addStretch(0);
    buttons->addWidget(m_close);
    bottom->addLayout(buttons);

    m_path->installEventFilter(this);
    // The window sees Esc before its controls do.
    for (QWidget* w : {static_cast<QWidget*>(m_tree), static_cast<QWidget*>(m_add), static_cast<QWidget*>(m_close)})
        w->installEventFilter(this);

    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &FolderBrowser::selectionChanged);
    connect(m_tree, &QTreeWidget::itemExpanded, this, &FolderBrowser::fillFolder);
    connect(m_add, &QPushButton::clicked, this, &FolderBrowser::addClicked);
    connect(m_close, &QPushButton::clicked, this, &FolderBrowser::closeClicked);
    m_progressTimer->setInterval(kProgressIntervalMs);
    connect(m_progressTimer, &QTimer::timeout, this, &FolderBrowser::showProgress);
}

FolderBrowser::~FolderBrowser() {
    m_progress.cancelled = true;
    if (m_search.joinable()) m_search.join();
}

QString FolderBrowser::text(std::string_view english) const {
    return QString::fromStdString(m_hooks.translate ? m_hooks.translate(english) : std::string(english));
}

void FolderBrowser::buildTree() {
    m_tree->setHeaderHidden(true);
    m_tree->setIndentation(19);
    m_tree->setUniformRowHeights(true);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setContextMenuPolicy(Qt::PreventContextMenu);

    // The file system's two starting points: the home folder and the root.
    QFileIconProvider icons;
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QLatin1String("/"))
        m_tree->addTopLevelItem(MakeFolderItem(QDir(home).dirName(), home, icons.icon(QFileInfo(home))));
    m_tree->addTopLevelItem(MakeFolderItem(QStringLiteral("/"), QStringLiteral("/"), icons.icon(QFileIconProvider::Drive)));
}

void FolderBrowser::fillFolder(QTreeWidgetItem* item) {
    if (!item || item->data(0, kFilledRole).toBool()) return;
    item->setData(0, kFilledRole, true);
    // Filled once, when first opened: the tree does not follow later changes on disk.
    m_tree->setUpdatesEnabled(false);
    static const QIcon folderIcon = QFileIconProvider().icon(QFileIconProvider::Folder);
    const QDir dir(item->data(0, kPathRole).toString());
    const QFileInfoList folders =
        dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name | QDir::IgnoreCase);
    QList<QTreeWidgetItem*> children;
    children.reserve(folders.size());
    for (const QFileInfo& info : folders) children.append(MakeFolderItem(info.fileName(), info.absoluteFilePath(), folderIcon));
    item->addChildren(children);
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    m_tree->setUpdatesEnabled(true);
}

QString FolderBrowser::selectedFolder() const {
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    return selected.isEmpty() ? QString() : selected.front()->data(0, kPathRole).toString();
}

bool FolderBrowser::selectFolder(const QString& folder) {
    const QString target = QDir::cleanPath(QDir(folder).absolutePath());
    QTreeWidgetItem* item = nullptr;
    QString rest;
    // The deepest starting point that holds the folder.
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = m_tree->topLevelItem(i);
        const QString root = top->data(0, kPathRole).toString();
        if (target == root) {
            item = top;
            rest.clear();
            break;
        }
        const QString prefix = root.endsWith('/') ? root : root + '/';
        if (target.startsWith(prefix) && (!item || root.size() > item->data(0, kPathRole).toString().size())) {
            item = top;
            rest = target.mid(prefix.size());
        }
    }
    if (!item) return false;
    for (const QString& name : rest.split('/', Qt::SkipEmptyParts)) {
        fillFolder(item);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i)
            if (item->child(i)->text(0) == name) next = item->child(i);
        if (!next) return false;
        item->setExpanded(true);
        item = next;
    }
    m_tree->setCurrentItem(item);
    m_tree->scrollToItem(item);
    return true;
}

void FolderBrowser::selectionChanged() {
    showPath();
}

void FolderBrowser::showPath() {
    const std::string path = selectedFolder().toStdString();
    const QFontMetrics metrics(m_path->font());
    const int quotes = metrics.horizontalAdvance(QStringLiteral("\"\""));
    const std::string shortened = ShortenPathToWidth(path, m_path->width() - quotes - 4, [&metrics](const std::string& s) {
        return metrics.horizontalAdvance(QString::fromStdString(s));
    });
    m_path->setText(QLatin1Char('"') + QString::fromStdString(shortened) + QLatin1Char('"'));
}

void FolderBrowser::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (QWidget* main = parentWidget()) move(main->frameGeometry().center() - QPoint(width() / 2, height() / 2));
}

bool FolderBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_path && event->type() == QEvent::Resize) {
        showPath();
    } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        reject();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void FolderBrowser::addClicked() {
    if (searching()) return;
    m_add->setEnabled(false);
    m_close->setEnabled(false);
    const QString folder = selectedFolder();
    if (folder.isEmpty()) {
        // Nothing to search; the count line and commands are still brought up to date.
        try {
            if (m_hooks.addFiles) m_hooks.addFiles({});
        } catch (const std::exception&) {
        }
        endSearchState();
        emit searchEnded(true);
        return;
    }

    m_progress.found = 0;
    m_progress.cancelled = false;
    m_close->setText(text("&Cancel"));
    m_close->setEnabled(true);
    setCursor(Qt::BusyCursor);
    showProgress();
    m_found->show();
    m_progressTimer->start();

    const unsigned number = ++m_searchNumber;
    const std::string root = QFile::encodeName(folder).toStdString();
    m_search = std::thread([this, number, root, leaveOut = m_hooks.systemFolder] {
        std::vector<std::string> found;
        bool complete = false;
        try {
            found = FindImagesMulti(root, PictureMasks(), true, &m_progress, leaveOut);
            complete = !m_progress.cancelled;
        } catch (const std::exception&) {
            // Out of memory in a giant tree: the search ends with nothing added.
            found.clear();
        }
        QMetaObject::invokeMethod(
            this, [this, number, found = std::move(found), complete]() mutable { searchDone(number, std::move(found), complete); },
            Qt::QueuedConnection);
    });
}

void FolderBrowser::searchDone(unsigned number, std::vector<std::string> found, bool complete) {
    // A search cancelled earlier has been waited for already; its late result is dropped.
    if (number != m_searchNumber || !m_search.joinable()) return;
    m_search.join();
    m_progressTimer->stop();
    if (complete) {
        try {
            if (m_hooks.addFiles) m_hooks.addFiles(std::move(found));
        } catch (const std::exception&) {
            complete = false;
        }
    }
    endSearchState();
    emit searchEnded(complete);
}

void FolderBrowser::stopSearch() {
    if (!m_search.joinable()) return;
    m_progress.cancelled = true;
    m_search.join();
    m_progressTimer->stop();
}

void FolderBrowser::cancelSearch() {
    if (!searching()) return;
    stopSearch();
    endSearchState();
    emit searchEnded(false);
}

void FolderBrowser::endSearchState() {
    m_progressTimer->stop();
    m_found->hide();
    unsetCursor();
    m_close->setText(text("C&lose"));
    m_add->setEnabled(true);
    m_close->setEnabled(true);
}

void FolderBrowser::showProgress() {
    m_found->setText(text("Pictures found:") + QLatin1Char(' ') +
                     QString::number(m_progress.found.load(std::memory_order_relaxed)));
}

void FolderBrowser::closeClicked() {
    if (searching()) cancelSearch();
    else reject();
}

void FolderBrowser::done(int result) {
    cancelSearch();
    QDialog::done(result);
}

}  // namespace kalidrome
