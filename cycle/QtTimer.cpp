#include "QtTimer.h"

namespace kalidrome {

QtTimer::QtTimer(int periodMs) {
    m_timer.setInterval(periodMs);
    m_timer.setSingleShot(false);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { timeout(); });
}

}  // namespace kalidrome
