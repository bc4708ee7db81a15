#pragma once

#include <QFont>
#include <QString>

namespace kalidrome::platform {

// The font the program's windows are laid out for, at the given point size. Tahoma is the
// face their sizes were measured with; where it is missing, fontconfig picks its nearest
// substitute (commonly DejaVu Sans), which keeps the layouts readable.
inline QFont WindowFont(int points) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(points);
    return font;
}

}  // namespace kalidrome::platform
