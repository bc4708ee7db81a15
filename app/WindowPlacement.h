#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "IniFile.h"
#include "Settings.h"

class QHeaderView;
class QWidget;

namespace kalidrome {

// A window's frame position and size, in screen pixels.
struct PlaceRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PlaceRect&, const PlaceRect&) = default;
};

// "left,top,width,height"; nullopt for anything else (sizes must be positive).
std::optional<PlaceRect> ParsePlace(std::string_view text);
std::string FormatPlace(const PlaceRect& place);

// Where a stored place is shown on the screens there are now (their usable areas): where it
// was, when it fits on a screen that holds its top edge and a good part of it; otherwise
// moved (and shrunk, if it must be) wholly into the screen nearest to it. No screens:
// unchanged.
PlaceRect ClampToScreens(const PlaceRect& place, const std::vector<PlaceRect>& screens);

// A list header's columns from left to right: logical column and width.
struct ColumnPlace {
    int column = 0;
    int width = 0;
    friend bool operator==(const ColumnPlace&, const ColumnPlace&) = default;
};
// "1:200,0:105"; nullopt unless it names each of count columns once, with sane widths.
std::optional<std::vector<ColumnPlace>> ParseColumns(std::string_view text, int count);
std::string FormatColumns(const std::vector<ColumnPlace>& columns);

// Keeps where the user left a window (and its list's columns) in Settings.ini, section
// "Window", one key per window ("Main", "Preview"; the columns under the key + "Columns"),
// and puts it back there at the next start, on a visible part of the screens there are then.
// Nothing is written when nothing changed; a Settings.ini that cannot be written keeps the
// old place and says nothing (the window's place is not worth a message).
class WindowPlacement {
public:
    static constexpr std::string_view kSection = settings::kWindow;

    explicit WindowPlacement(IniFile& settings) : m_settings(settings) {}

    // Moves and sizes window as stored under key; false (window untouched) when nothing is.
    bool restore(QWidget& window, std::string_view key) const;
    // Records the window's place, unless it is minimised or maximised (the place it had
    // before stays recorded then).
    void save(const QWidget& window, std::string_view key);
    bool restoreColumns(QHeaderView& header, std::string_view key) const;
    void saveColumns(const QHeaderView& header, std::string_view key);

private:
    void write(const std::string& key, const std::string& value);

    IniFile& m_settings;
};

}  // namespace kalidrome
