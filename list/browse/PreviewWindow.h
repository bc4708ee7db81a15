#pragma once

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

class QAction;
class QMenu;
class QPushButton;

namespace kalidrome {

class PreviewLoader;

// frmPreview1: a small tool window beside the main window that shows the picture of the
// selected entry, stretched to fill it. Its Delete button and its picture's "&Set as
// wallpaper" act on the list's selection through the hooks. Pictures are decoded off the
// user-interface thread; a picture that cannot be read is reported through the hook once
// its decode has ended, and the previous picture and title stay.
class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    struct Hooks {
        // Text in the "PreviewForm" section of the current language.
        std::function<std::string(std::string_view)> translate;
        std::function<void()> deleteSelected;
        std::function<void()> setAsWallpaper;
        // The program's standard error box.
        std::function<void(const QString& message)> reportError;
    };

    // beside: the main window, which the preview sits to the left of; it does not own the
    // preview.
    PreviewWindow(QWidget* beside, Hooks hooks);
    ~PreviewWindow() override;

    // Where the preview opens: its right edge one pixel left of the main window, centred
    // on it vertically. Where that lies wholly outside every screen, the window is moved
    // into mainScreen's area instead (as far as it fits).
    static QPoint Position(const QRect& mainFrame, const QSize& ownFrame, const QList<QRect>& screens,
                           const QRect& mainScreen);

    // Shows the picture at path once decoded, when a file exists there; otherwise nothing.
    void ShowInPreview(const std::string& path);

    // The picture on show (null while the area is still black), at most screen-sized.
    const QImage& picture() const { return m_picture; }
    const QString& shownPath() const { return m_shownPath; }

signals:
    void pictureShown(const QString& path);
    void pictureFailed(const QString& path, const QString& message);
    // The window is closing (any way); it is released right after.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loaded(unsigned number, const QString& path, const QImage& picture);
    void failed(unsigned number, const QString& path, const QString& message);
    void paintPicture();
    QString text(std::string_view english) const;

    QPointer<QWidget> m_beside;
    Hooks m_hooks;
    QWidget* m_area;
    QWidget* m_panel;
    QPushButton* m_delete;
    QPushButton* m_close;
    QMenu* m_popup;
    QAction* m_setAsWallpaper;
    PreviewLoader* m_loader;
    QImage m_picture;
    QPixmap m_scaled;  // m_picture at the area's size, made at the first paint after a change
    QString m_shownPath;
    std::string m_requestedPath;  // the picture asked for last, shown or not
};

}  // namespace kalidrome
