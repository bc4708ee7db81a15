#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kalidrome {

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box(0.5, 0.5, size - 1.0, size - 1.0);
        const QColor colours[] = {QColor(0x1f, 0x4e, 0x9a), QColor(0xe8, 0xa3, 0x17), QColor(0x2a, 0x9d, 0x8f),
                                  QColor(0xc0, 0x39, 0x2b)};
        for (int i = 0; i < 8; ++i) {
            QPainterPath wedge;
            wedge.moveTo(box.center());
            wedge.arcTo(box, i * 45.0, 45.0);
            wedge.closeSubpath();
            p.fillPath(wedge, colours[i % 4]);
        }
        p.setPen(QPen(QColor(20, 20, 20), size / 16.0 + 0.5));
        p.drawEllipse(box);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

}  // namespace kalidrome
