#include "PreviewWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "PreviewLoader.h"
#include "ProcessInfo.h"
#include "AtLeast.h"
#include "WindowFont.h"

namespace kalidrome {

namespace {

constexpr int kPanelHeight = 26;
constexpr QSize kButtonSize(52, 17);
// The Close button keeps this distance from the window's right edge (67 + 52 in 131 pixels).
constexpr int kCloseRightMargin = 131 - 67 - 52;

}  // namespace

PreviewWindow::PreviewWindow(QWidget* beside, Hooks hooks)
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_beside(beside),
      m_hooks(std::move(hooks)),
      m_area(new QWidget(this)),
      m_panel(new platform::AtLeast<QWidget>(QSize(0, kPanelHeight), this)),
      m_delete(new platform::AtLeast<QPushButton>(kButtonSize, m_panel)),
      m_close(new platform::AtLeast<QPushButton>(kButtonSize, m_panel)),
      m_popup(new QMenu(this)),
      m_setAsWallpaper(new QAction(m_popup)),
      m_loader(new PreviewLoader(this)) {
    setObjectName(QStringLiteral("frmPreview1"));
    setAttribute(Qt::WA_DeleteOnClose);
    platform::UseWindowFont(this, 8);
    resize(131, 174);
    // The window's least size is the nominal one, or what the buttons' captions ask for.
    m_area->setMinimumSize(130, 160 - kPanelHeight);

    m_area->setObjectName(QStringLiteral("imgPreview1"));
    m_panel->setObjectName(QStringLiteral("pnlProps1"));
    m_delete->setObjectName(QStringLiteral("btnDelete1"));
    m_close->setObjectName(QStringLiteral("btnClose1"));
    m_popup->setObjectName(QStringLiteral("PopupMenu1"));
    m_setAsWallpaper->setObjectName(QStringLiteral("Setaswallpaper1"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_area, 1);
    layout->addWidget(m_panel);
    auto* buttons = new QHBoxLayout(m_panel);
    buttons->setContentsMargins(5, 5, kCloseRightMargin, 4);
    buttons->setSpacing(4);
    buttons->addWidget(m_delete);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    m_delete->setAutoDefault(false);
    m_close->setAutoDefault(false);

    m_setAsWallpaper->setShortcut(QKeySequence(Qt::Key_F9));
    m_popup->addAction(m_setAsWallpaper);
    addAction(m_setAsWallpaper);  // F9 works in the window too
    m_area->setAttribute(Qt::WA_OpaquePaintEvent);
    m_area->installEventFilter(this);

    setWindowTitle(text("Preview"));
    m_delete->setText(text("&Delete"));
    m_close->setText(text("C&lose"));
    m_setAsWallpaper->setText(text("&Set as wallpaper"));

    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    connect(m_delete, &QPushButton::clicked, this, [this] {
        if (m_hooks.deleteSelected) m_hooks.deleteSelected();
    });
    connect(m_setAsWallpaper, &QAction::triggered, this, [this] {
        if (m_hooks.setAsWallpaper) m_hooks.setAsWallpaper();
    });
    connect(m_loader, &PreviewLoader::loaded, this, &PreviewWindow::loaded);
    connect(m_loader, &PreviewLoader::failed, this, &PreviewWindow::failed);
}

PreviewWindow::~PreviewWindow() = default;

QString PreviewWindow::text(std::string_view english) const {
    return QString::fromStdString(m_hooks.translate ? m_hooks.translate(english) : std::string(english));
}

QPoint PreviewWindow::Position(const QRect& mainFrame, const QSize& ownFrame, const QList<QRect>& screens,
                               const QRect& mainScreen) {
    // Integer division truncates toward zero, also for a main window smaller than the preview.
    QPoint at(mainFrame.left() - ownFrame.width() - 1, mainFrame.top() + (mainFrame.height() - ownFrame.height()) / 2);
    const QRect placed(at, ownFrame);
    // Partly off screen is fine; wholly off screen (a main window at the screen's left edge)
    // would leave a window nobody can see.
    if (std::any_of(screens.begin(), screens.end(), [&](const QRect& s) { return s.intersects(placed); }))
        return at;
    if (mainScreen.isEmpty()) return at;
    at.setX(std::max(mainScreen.left(), std::min(at.x(), mainScreen.right() + 1 - ownFrame.width())));
    at.setY(std::max(mainScreen.top(), std::min(at.y(), mainScreen.bottom() + 1 - ownFrame.height())));
    return at;
}

void PreviewWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous() || !m_beside) return;
    QList<QRect> screens;
    for (QScreen* s : QGuiApplication::screens()) screens.append(s->availableGeometry());
    QScreen* mainScreen = m_beside->screen() ? m_beside->screen() : QGuiApplication::primaryScreen();
    move(Position(m_beside->frameGeometry(), frameGeometry().size(), screens,
                  mainScreen ? mainScreen->availableGeometry() : QRect()));
}

void PreviewWindow::ShowInPreview(const std::string& path) {
    if (!platform::FileExists(path)) return;
    // Moving the selection off a row reports that row again: the picture asked for last is
    // not decoded again, and one that cannot be read is not reported twice.
    if (path == m_requestedPath) return;
    m_requestedPath = path;
    // Decoded no larger than the screen: the window cannot show more.
    QSize largest(4096, 4096);
    if (QScreen* s = screen()) largest = (QSizeF(s->size()) * s->devicePixelRatio()).toSize().expandedTo(size());
    m_loader->request(path, largest);
}

void PreviewWindow::loaded(unsigned, const QString& path, const QImage& picture) {
    m_picture = picture;
    m_scaled = QPixmap();
    m_shownPath = path;
    setWindowTitle(text("Preview") + QStringLiteral(" - ") + QFileInfo(path).fileName());
    m_area->update();
    emit pictureShown(path);
}

void PreviewWindow::failed(unsigned, const QString& path, const QString& message) {
    // Here in an event of its own, after the selection change that asked for the picture.
    if (m_hooks.reportError) m_hooks.reportError(message);
    emit pictureFailed(path, message);
}

void PreviewWindow::paintPicture() {
    QPainter painter(m_area);
    if (m_picture.isNull()) {
        painter.fillRect(m_area->rect(), Qt::black);
        return;
    }
    const QSize size = m_area->size() * m_area->devicePixelRatio();
    if (m_scaled.size() != size)
        m_scaled = QPixmap::fromImage(m_picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    painter.drawPixmap(m_area->rect(), m_scaled);
}

bool PreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_area) {
        if (event->type() == QEvent::Paint) {
            paintPicture();
            return true;
        }
        if (event->type() == QEvent::ContextMenu) {
            m_popup->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) emit closed();
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace kalidrome
