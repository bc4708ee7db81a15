#pragma once

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QObject>
#include <QString>
#include <QWidget>

namespace kalidrome::platform {

// The font the program's windows draw with, at a size relative to the 8-point captions:
// Tahoma at the given point size where it is installed (the face the windows were first
// drawn in), otherwise the desktop's own user-interface font, at the size the desktop chose
// for 8-point captions and in proportion for the others. Never a face that only fontconfig
// substitutes for "Tahoma": that one is wider than Tahoma and unlike the desktop's.
inline QFont WindowFont(int points, bool bold = false) {
    // Asked once: the list draws every cell with this font.
    static const bool tahoma = QFontDatabase::hasFamily(QStringLiteral("Tahoma"));
    QFont font;
    if (tahoma) {
        font = QFont(QStringLiteral("Tahoma"));
        font.setPointSize(points);
    } else {
        font = QApplication::font();
        if (points != 8 && font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * points / 8.0);
    }
    if (bold) font.setBold(true);
    return font;
}

namespace detail {
// Puts WindowFont(points) back on its widget whenever the desktop's font changes.
class WindowFontFollower : public QObject {
public:
    WindowFontFollower(QWidget* widget, int points, bool bold) : QObject(widget), m_points(points), m_bold(bold) {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ApplicationFontChange)
            static_cast<QWidget*>(watched)->setFont(WindowFont(m_points, m_bold));
        return false;
    }

private:
    int m_points;
    bool m_bold;
};
}  // namespace detail

// Gives a widget WindowFont(points), now and whenever the desktop's font changes; its
// layouts then size everything anew.
inline void UseWindowFont(QWidget* widget, int points, bool bold = false) {
    widget->setFont(WindowFont(points, bold));
    new detail::WindowFontFollower(widget, points, bold);
}

}  // namespace kalidrome::platform
