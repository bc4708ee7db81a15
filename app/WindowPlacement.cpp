#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace kalidrome {

namespace {

// Larger than any screen there is: a stored size beyond it is not a size.
constexpr int kLargest = 100000;
// Of a window left partly off screen, at least this much must show (or the whole window,
// when it is smaller) for it to stay where it was.
constexpr int kVisibleWidth = 100;
constexpr int kVisibleHeight = 50;

// The comma- or colon-separated integers of text; nullopt when anything else is there.
std::optional<std::vector<int>> Integers(std::string_view text, char separator) {
    std::vector<int> values;
    while (true) {
        int value = 0;
        const char* end = text.data() + text.size();
        auto [next, error] = std::from_chars(text.data(), end, value);
        if (error != std::errc() || std::abs(static_cast<long long>(value)) > kLargest) return std::nullopt;
        values.push_back(value);
        if (next == end) return values;
        if (*next != separator) return std::nullopt;
        text = std::string_view(next + 1, static_cast<std::size_t>(end - next - 1));
    }
}

std::int64_t Overlap(int a, int aLength, int b, int bLength) {
    return std::max<std::int64_t>(0, std::int64_t{std::min(a + aLength, b + bLength)} - std::max(a, b));
}

std::int64_t DistanceSquared(const PlaceRect& place, const PlaceRect& screen) {
    const std::int64_t cx = place.x + place.width / 2, cy = place.y + place.height / 2;
    const std::int64_t dx = cx < screen.x ? screen.x - cx : cx >= screen.x + screen.width ? cx - (screen.x + screen.width - 1) : 0;
    const std::int64_t dy = cy < screen.y ? screen.y - cy : cy >= screen.y + screen.height ? cy - (screen.y + screen.height - 1) : 0;
    return dx * dx + dy * dy;
}

}  // namespace

std::optional<PlaceRect> ParsePlace(std::string_view text) {
    const auto values = Integers(text, ',');
    if (!values || values->size() != 4) return std::nullopt;
    const PlaceRect place{(*values)[0], (*values)[1], (*values)[2], (*values)[3]};
    if (place.width <= 0 || place.height <= 0) return std::nullopt;
    return place;
}

std::string FormatPlace(const PlaceRect& place) {
    return std::to_string(place.x) + "," + std::to_string(place.y) + "," + std::to_string(place.width) + "," +
           std::to_string(place.height);
}

PlaceRect ClampToScreens(const PlaceRect& place, const std::vector<PlaceRect>& screens) {
    if (screens.empty()) return place;
    for (const PlaceRect& s : screens) {
        const bool topOnScreen = place.y >= s.y && place.y < s.y + s.height;
        const bool fits = place.width <= s.width && place.height <= s.height;
        if (topOnScreen && fits && Overlap(place.x, place.width, s.x, s.width) >= std::min(place.width, kVisibleWidth) &&
            Overlap(place.y, place.height, s.y, s.height) >= std::min(place.height, kVisibleHeight))
            return place;
    }
    const PlaceRect& nearest = *std::min_element(screens.begin(), screens.end(), [&](const PlaceRect& a, const PlaceRect& b) {
        return DistanceSquared(place, a) < DistanceSquared(place, b);
    });
    PlaceRect moved = place;
    moved.width = std::min(place.width, nearest.width);
    moved.height = std::min(place.height, nearest.height);
    moved.x = std::clamp(place.x, nearest.x, nearest.x + nearest.width - moved.width);
    moved.y = std::clamp(place.y, nearest.y, nearest.y + nearest.height - moved.height);
    return moved;
}

std::optional<std::vector<ColumnPlace>> ParseColumns(std::string_view text, int count) {
    std::vector<ColumnPlace> columns;
    std::vector<bool> seen(static_cast<std::size_t>(std::max(count, 0)));
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const auto pair = Integers(text.substr(0, comma), ':');
        if (!pair || pair->size() != 2) return std::nullopt;
        const int column = (*pair)[0], width = (*pair)[1];
        if (column < 0 || column >= count || seen[static_cast<std::size_t>(column)] || width <= 0) return std::nullopt;
        seen[static_cast<std::size_t>(column)] = true;
        columns.push_back({column, width});
        if (comma == std::string_view::npos) break;
        text = text.substr(comma + 1);
        if (text.empty()) return std::nullopt;  // a trailing comma
    }
    if (static_cast<int>(columns.size()) != count) return std::nullopt;
    return columns;
}

std::string FormatColumns(const std::vector<ColumnPlace>& columns) {
    std::string text;
    for (const ColumnPlace& c : columns) {
        if (!text.empty()) text += ",";
        text += std::to_string(c.column) + ":" + std::to_string(c.width);
    }
    return text;
}

bool WindowPlacement::restore(QWidget& window, std::string_view key) const {
    const auto stored = ParsePlace(m_settings.readString(kSection, key, ""));
    if (!stored) return false;
    std::vector<PlaceRect> screens;
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect r = s->availableGeometry();
        screens.push_back({r.x(), r.y(), r.width(), r.height()});
    }
    const PlaceRect place = ClampToScreens(*stored, screens);
    window.resize(place.width, place.height);
    window.move(place.x, place.y);
    return true;
}

void WindowPlacement::save(const QWidget& window, std::string_view key) {
    if (window.isMinimized() || window.isMaximized() || window.isFullScreen()) return;
    write(std::string(key), FormatPlace({window.x(), window.y(), window.width(), window.height()}));
}

bool WindowPlacement::restoreColumns(QHeaderView& header, std::string_view key) const {
    const auto columns = ParseColumns(m_settings.readString(kSection, std::string(key) + "Columns", ""), header.count());
    if (!columns) return false;
    for (int visual = 0; visual < static_cast<int>(columns->size()); ++visual) {
        const ColumnPlace& c = (*columns)[static_cast<std::size_t>(visual)];
        header.moveSection(header.visualIndex(c.column), visual);
        header.resizeSection(c.column, c.width);
    }
    return true;
}

void WindowPlacement::saveColumns(const QHeaderView& header, std::string_view key) {
    std::vector<ColumnPlace> columns;
    for (int visual = 0; visual < header.count(); ++visual) {
        const int column = header.logicalIndex(visual);
        columns.push_back({column, header.sectionSize(column)});
    }
    write(std::string(key) + "Columns", FormatColumns(columns));
}

void WindowPlacement::write(const std::string& key, const std::string& value) {
    if (m_settings.readString(kSection, key, "") == value) return;
    try {
        m_settings.writeString(kSection, key, value);
    } catch (const IniWriteError&) {
        // Read-only Settings.ini: the old place stays; the load has told the user already.
    }
}

}  // namespace kalidrome
