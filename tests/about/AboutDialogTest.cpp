// The About box on Qt's offscreen platform: its version line, its links and the reader's
// FileType rule.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

#include "AboutDialog.h"

namespace {

using namespace kalidrome;

// Takes the addresses that would go to the desktop's default handlers.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        for (const char* scheme : {"https", "mailto"}) QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override {
        for (const char* scheme : {"https", "mailto"}) QDesktopServices::unsetUrlHandler(scheme);
    }
    QStringList opened;
public slots:
    void open(const QUrl& url) { opened << url.toString(); }
};

void Release(QWidget* target) {
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), QPointF(2, 2), Qt::RightButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

TEST(AboutDialog, ShowsTheVersionItWasGiven) {
    for (const QString& version : {QStringLiteral("0.1.0"), QString()}) {
        AboutDialog about(version, QPixmap());
        auto* label = about.findChild<QLabel*>(QStringLiteral("lblVersion1"));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QStringLiteral("Version ") + version);
        EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
        // The nominal size at least; the thanks scroll in their box instead of stretching it.
        EXPECT_GE(about.height(), 251);
        EXPECT_GE(about.width(), 384);
        auto* thanks = about.findChild<QLabel*>(QStringLiteral("lblThanksTo1"));
        ASSERT_NE(thanks, nullptr);
        EXPECT_EQ(thanks->text().count(u'\n') + 1, 11);
        EXPECT_GE(thanks->height(), 11 * thanks->fontMetrics().lineSpacing()) << "every line whole";
        auto* area = about.findChild<QWidget*>(QStringLiteral("scbThanksTo1"));
        ASSERT_NE(area, nullptr);
        EXPECT_LT(area->height(), thanks->height()) << "the thanks scroll";
    }
}

TEST(AboutDialog, LinksOpenThePageAndAMailAndUnderlineUnderTheMouse) {
    UrlCatcher catcher;
    AboutDialog about(QStringLiteral("1.2"), QPixmap());
    auto* link = about.findChild<QLabel*>(QStringLiteral("lblLink1"));
    auto* author = about.findChild<QLabel*>(QStringLiteral("lblAuthor1"));
    auto* logo = about.findChild<QLabel*>(QStringLiteral("imgLogo1"));
    ASSERT_TRUE(link && author && logo);

    for (QLabel* label : {link, author}) {
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(label, &enter);
        EXPECT_TRUE(label->font().underline()) << label->objectName().toStdString();
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(label, &leave);
        EXPECT_FALSE(label->font().underline()) << label->objectName().toStdString();
    }
    Release(link);
    Release(logo);
    Release(author);
    EXPECT_EQ(catcher.opened, (QStringList{QString::fromLatin1(AboutDialog::kWebPage),
                                           QString::fromLatin1(AboutDialog::kWebPage),
                                           QStringLiteral("mailto:") + QString::fromLatin1(AboutDialog::kMailAddress)}));
}

TEST(ReadFileVersionInfo, FileTypeAloneUnlessAProgramWithARecord) {
    const std::string fixtures = KALIDROME_FIXTURES;
    const TFileVersionInfo program = ReadFileVersionInfo(fixtures + "/versioned.exe");
    EXPECT_FALSE(program.FileType.empty());
    EXPECT_LE(program.FileType.size(), 80u * 4);
    EXPECT_EQ(program.FileVersion, "2.5.0.7");

    for (const char* name : {"versioned.dll", "noversion.exe", "make-fixtures.sh"}) {
        const TFileVersionInfo info = ReadFileVersionInfo(fixtures + "/" + name);
        EXPECT_FALSE(info.FileType.empty()) << name;
        TFileVersionInfo onlyType;
        onlyType.FileType = info.FileType;
        EXPECT_EQ(info, onlyType) << name;
    }
}

}  // namespace

#include "AboutDialogTest.moc"
