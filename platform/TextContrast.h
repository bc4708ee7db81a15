#pragma once

#include <QColor>
#include <algorithm>
#include <cmath>

namespace kalidrome::platform {

// WCAG 2 contrast ratio of two colours (1 to 21).
inline double ContrastRatio(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The text colour closest to wanted that reads at 4.5:1 or better on background: wanted
// itself where it already does, else wanted darkened (on a light background) or lightened
// (on a dark one) step by step, so that the hue the windows were drawn with stays.
inline QColor ReadableOn(const QColor& wanted, const QColor& background) {
    constexpr double kNeeded = 4.5;
    const bool darken = background.lightnessF() >= 0.5;
    QColor colour = wanted;
    for (int step = 1; step <= 100 && ContrastRatio(colour, background) < kNeeded; ++step) {
        const double t = step / 100.0;
        const QColor end = darken ? QColor(0, 0, 0) : QColor(255, 255, 255);
        colour = QColor::fromRgbF(static_cast<float>(wanted.redF() + (end.redF() - wanted.redF()) * t),
                                  static_cast<float>(wanted.greenF() + (end.greenF() - wanted.greenF()) * t),
                                  static_cast<float>(wanted.blueF() + (end.blueF() - wanted.blueF()) * t));
    }
    return colour;
}

}  // namespace kalidrome::platform
