#include "AboutDialog.h"

#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeDatabase>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Shell.h"
#include "AtLeast.h"
#include "TextContrast.h"
#include "WindowFont.h"

namespace kalidrome {

namespace {

// The people and projects Kalidrome owes most to, one per line.
constexpr const char* kThanks[] = {
    "The Qt Project, for the toolkit",
    "The libjpeg-turbo project, for JPEG pictures",
    "The libpng authors, for PNG pictures",
    "Jean-loup Gailly and Mark Adler, for zlib",
    "The GoogleTest authors, for the test framework",
    "The Debian project, for the build and test tools",
    "freedesktop.org, for the desktop standards",
    "The GNOME, KDE, Xfce and LXQt projects",
    "The sway and wlroots developers",
    "Everyone who translated a language file",
    "Everyone who sent suggestions",
};
const QColor kLinkColour(0, 128, 255);

void MakeLink(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, platform::ReadableOn(kLinkColour, palette.color(QPalette::Window)));
    label->setPalette(palette);
    label->setCursor(Qt::PointingHandCursor);
}

void SetUnderlined(QLabel* label, bool underlined) {
    QFont font = label->font();
    font.setUnderline(underlined);
    label->setFont(font);
}

}  // namespace

TFileVersionInfo ReadFileVersionInfo(const std::string& path) {
    TFileVersionInfo info;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QString::fromStdString(path));
    if (type.isValid()) info.FileType = type.comment().left(80).toStdString();
    const VersionRecord record = FindVersionRecordInFile(path);
    if (!record.executable || record.bytes.empty()) return info;
    FillFromVersionRecord(record.bytes, info);
    return info;
}

AboutDialog::AboutDialog(const QString& fileVersion, const QPixmap& logo, QWidget* parent)
    : QDialog(parent), m_logo(new QLabel), m_author(new QLabel), m_link(new QLabel) {
    setObjectName(QStringLiteral("frmAbout1"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    platform::UseWindowFont(this, 8);

    // The nominal size; the box grows when the words ask for more.
    auto* box = new platform::AtLeast<QGroupBox>(QSize(372, 251 - 12), this);
    box->setObjectName(QStringLiteral("grpAbout1"));

    m_logo->setParent(box);
    m_logo->setObjectName(QStringLiteral("imgLogo1"));
    m_logo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_logo->setAlignment(Qt::AlignCenter);
    // Drawn from a picture of as many pixels as the screen shows in the box, not blown up.
    const qreal ratio = devicePixelRatioF();
    QPixmap sharp = logo.scaled(QSize(96, 96) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    sharp.setDevicePixelRatio(ratio);
    m_logo->setPixmap(sharp);
    m_logo->setCursor(Qt::PointingHandCursor);
    m_logo->setFixedSize(106, 106);
    m_logo->setAccessibleName(QStringLiteral("Kalidrome"));

    auto* title = new platform::AtLeast<QLabel>(
        QSize(246, 28),
        QApplication::applicationName().isEmpty() ? QStringLiteral("Kalidrome") : QApplication::applicationName(), box);
    title->setObjectName(QStringLiteral("pnlTitle1"));
    title->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    title->setAlignment(Qt::AlignCenter);
    platform::UseWindowFont(title, 14, true);

    auto* createdBy = new QLabel(QStringLiteral("Created by "), box);
    createdBy->setObjectName(QStringLiteral("lblCreatedBy1"));
    m_author->setParent(box);
    m_author->setObjectName(QStringLiteral("lblAuthor1"));
    m_author->setText(QString::fromLatin1(kAuthor));
    MakeLink(m_author);

    auto* version = new QLabel(QStringLiteral("Version ") + fileVersion, box);
    version->setObjectName(QStringLiteral("lblVersion1"));
    auto* notice = new QLabel(QStringLiteral("Free software under the MIT licence"), box);
    notice->setObjectName(QStringLiteral("lblNotice1"));

    m_link->setParent(box);
    m_link->setObjectName(QStringLiteral("lblLink1"));
    m_link->setText(QString::fromLatin1(kWebPage));
    MakeLink(m_link);

    auto* thanksInfo = new QLabel(QStringLiteral("Many thanks to:"), box);
    thanksInfo->setObjectName(QStringLiteral("lblThanksToInfo1"));

    auto* area = new QScrollArea(box);
    area->setObjectName(QStringLiteral("scbThanksTo1"));
    area->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    area->setMinimumSize(356, 58);
    // The thanks scroll in the box's nominal height rather than make the box taller.
    area->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    thanksInfo->setBuddy(area);
    QStringList lines;
    for (const char* line : kThanks) lines << QString::fromLatin1(line);
    auto* thanks = new QLabel(lines.join(u'\n'));
    thanks->setObjectName(QStringLiteral("lblThanksTo1"));
    thanks->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette navy = thanks->palette();
    navy.setColor(QPalette::WindowText, platform::ReadableOn(QColor(0, 0, 128), navy.color(QPalette::Window)));
    thanks->setPalette(navy);
    platform::UseWindowFont(thanks, 9);
    thanks->setMargin(2);
    area->setWidget(thanks);
    area->setWidgetResizable(true);

    // The logo left, the title and the lines about the program right of it, the thanks
    // under both.
    auto* about = new QVBoxLayout;
    about->setSpacing(3);
    about->addWidget(title);
    about->addSpacing(6);
    auto* author = new QHBoxLayout;
    author->setSpacing(0);
    author->addWidget(createdBy);
    author->addWidget(m_author);
    author->addStretch(1);
    about->addLayout(author);
    about->addWidget(version);
    about->addWidget(notice);
    about->addWidget(m_link);
    about->addStretch(1);
    auto* top = new QHBoxLayout;
    top->setSpacing(4);
    top->addWidget(m_logo, 0, Qt::AlignTop);
    top->addLayout(about, 1);
    auto* inside = new QVBoxLayout(box);
    inside->setContentsMargins(8, 8, 8, 8);
    inside->setSpacing(3);
    inside->addLayout(top);
    inside->addWidget(thanksInfo);
    inside->addWidget(area, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(box);

    for (QLabel* label : {m_logo, m_author, m_link}) label->installEventFilter(this);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
}

bool AboutDialog::eventFilter(QObject* watched, QEvent* event) {
    const bool link = watched == m_link || watched == m_author;
    switch (event->type()) {
        case QEvent::Enter:
            if (link) SetUnderlined(static_cast<QLabel*>(watched), true);
            break;
        case QEvent::Leave:
            if (link) SetUnderlined(static_cast<QLabel*>(watched), false);
            break;
        case QEvent::MouseButtonRelease:
            if (watched == m_link || watched == m_logo) platform::OpenWithDefaultHandler(m_link->text());
            else if (watched == m_author)
                platform::OpenWithDefaultHandler(QStringLiteral("mailto:") + QString::fromLatin1(kMailAddress));
            break;
        default: break;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kalidrome
