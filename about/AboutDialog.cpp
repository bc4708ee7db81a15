#include "AboutDialog.h"

#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMimeDatabase>
#include <QScreen>
#include <QScrollArea>

#include "Shell.h"

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
constexpr int kThanksLineHeight = 18;
const QColor kLinkColour(0, 128, 255);

QLabel* Placed(QLabel* label, int left, int top, int width = -1, int height = -1) {
    if (width < 0) {
        label->adjustSize();
        label->move(left, top);
    } else {
        label->setGeometry(left, top, width, height);
    }
    return label;
}

void MakeLink(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kLinkColour);
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
    QFont font(QStringLiteral("Sans Serif"));
    font.setPointSize(8);
    setFont(font);

    auto* box = new QGroupBox(this);
    box->setObjectName(QStringLiteral("grpAbout1"));
    box->setGeometry(6, 6, 372, 251 - 12);
    setFixedSize(384, 251);

    m_logo->setParent(box);
    m_logo->setObjectName(QStringLiteral("imgLogo1"));
    m_logo->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_logo->setAlignment(Qt::AlignCenter);
    m_logo->setPixmap(logo.scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    m_logo->setCursor(Qt::PointingHandCursor);
    Placed(m_logo, 8, 14, 106, 106);

    auto* title = new QLabel(QApplication::applicationName().isEmpty() ? QStringLiteral("Kalidrome")
                                                                         : QApplication::applicationName(),
                             box);
    title->setObjectName(QStringLiteral("pnlTitle1"));
    title->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    title->setAlignment(Qt::AlignCenter);
    QFont titleFont = title->font();
    titleFont.setPointSize(14);
    titleFont.setBold(true);
    title->setFont(titleFont);
    Placed(title, 118, 14, 246, 28);

    auto* createdBy = Placed(new QLabel(QStringLiteral("Created by "), box), 120, 52);
    createdBy->setObjectName(QStringLiteral("lblCreatedBy1"));
    m_author->setParent(box);
    m_author->setObjectName(QStringLiteral("lblAuthor1"));
    m_author->setText(QString::fromLatin1(kAuthor));
    MakeLink(m_author);
    Placed(m_author, 120 + createdBy->width(), 52, 120, 13);

    auto* version = Placed(new QLabel(QStringLiteral("Version ") + fileVersion, box), 120, 68);
    version->setObjectName(QStringLiteral("lblVersion1"));
    auto* notice = Placed(new QLabel(QStringLiteral("Free software under the MIT licence"), box), 120, 84);
    notice->setObjectName(QStringLiteral("lblNotice1"));

    m_link->setParent(box);
    m_link->setObjectName(QStringLiteral("lblLink1"));
    m_link->setText(QString::fromLatin1(kWebPage));
    MakeLink(m_link);
    Placed(m_link, 120, 100, 214, 13);

    auto* thanksInfo = Placed(new QLabel(QStringLiteral("Many thanks to:"), box), 10, 124);
    thanksInfo->setObjectName(QStringLiteral("lblThanksToInfo1"));

    auto* area = new QScrollArea(box);
    area->setObjectName(QStringLiteral("scbThanksTo1"));
    area->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    area->setGeometry(8, 140, 356, 58);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QStringList lines;
    for (const char* line : kThanks) lines << QString::fromLatin1(line);
    auto* thanks = new QLabel(lines.join(u'\n'));
    thanks->setObjectName(QStringLiteral("lblThanksTo1"));
    thanks->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette navy = thanks->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    thanks->setPalette(navy);
    QFont thanksFont = thanks->font();
    thanksFont.setPointSize(9);
    thanks->setFont(thanksFont);
    thanks->setFixedSize(356 - 20, kThanksLineHeight * static_cast<int>(std::size(kThanks)));
    area->setWidget(thanks);

    for (QLabel* label : {m_logo, m_author, m_link}) label->installEventFilter(this);
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
