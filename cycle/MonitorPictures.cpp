#include "MonitorPictures.h"

#include <optional>
#include <set>

#include "WallpaperList.h"

namespace kalidrome {

Shape ShapeOf(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0 || width == height) return Shape::Any;
    return height > width ? Shape::Portrait : Shape::Landscape;
}

bool ShapeFits(Shape monitor, Shape picture) {
    return monitor == Shape::Any || picture == Shape::Any || monitor == picture;
}

std::vector<EntryId> MonitorPictureChooser::choose(const WallpaperList& list, const std::vector<Shape>& monitors,
                                                   bool random, bool matchOrientation, EntryId start,
                                                   const std::vector<EntryId>& shown, const PictureShape& shapeOf,
                                                   const Draw& draw) {
    const std::size_t n = list.count();
    std::vector<EntryId> chosen;
    if (n == 0) return chosen;
    // Shapes are asked once per entry and change, at most.
    std::vector<std::optional<Shape>> shapes(n);
    auto shapeAt = [&](std::size_t i) {
        if (!shapes[i]) shapes[i] = shapeOf ? shapeOf(list.at(i)) : Shape::Any;
        return *shapes[i];
    };
    std::set<std::string> taken;  // paths on a monitor of this change
    auto freeAt = [&](std::size_t i) { return taken.count(list.at(i).FilePath) == 0; };
    auto indexOf = [&](EntryId id) -> std::optional<std::size_t> { return id ? list.indexOf(id) : std::nullopt; };

    for (std::size_t m = 0; m < monitors.size(); ++m) {
        const Shape monitor = matchOrientation ? monitors[m] : Shape::Any;
        auto fits = [&](std::size_t i) { return ShapeFits(monitor, shapeAt(i)); };
        std::optional<std::size_t> pick;
        if (!random) {
            EntryId& after = m_after[static_cast<std::size_t>(monitor)];
            std::optional<std::size_t> from = indexOf(after);
            if (!from) from = indexOf(start);
            // The walk starts after `from` (at the first entry without one) and goes once round.
            const std::size_t first = from ? (*from + 1) % n : 0;
            for (auto test : {std::function<bool(std::size_t)>([&](std::size_t i) { return fits(i) && freeAt(i); }),
                              std::function<bool(std::size_t)>(freeAt), std::function<bool(std::size_t)>(fits)}) {
                for (std::size_t k = 0; k < n && !pick; ++k)
                    if (test((first + k) % n)) pick = (first + k) % n;
                if (pick) break;
            }
            if (!pick) pick = first;
            after = list.at(*pick).id();
        } else {
            const std::optional<std::size_t> current = m < shown.size() ? indexOf(shown[m]) : std::nullopt;
            auto changes = [&](std::size_t i) {
                return !current || list.at(i).FilePath != list.at(*current).FilePath;
            };
            const std::function<bool(std::size_t)> tiers[] = {
                [&](std::size_t i) { return fits(i) && freeAt(i) && changes(i); },
                [&](std::size_t i) { return fits(i) && freeAt(i); },
                [&](std::size_t i) { return freeAt(i) && changes(i); },
                freeAt,
                [&](std::size_t i) { return changes(i); },
            };
            std::vector<std::size_t> candidates;
            for (const auto& tier : tiers) {
                for (std::size_t i = 0; i < n; ++i)
                    if (tier(i)) candidates.push_back(i);
                if (!candidates.empty()) break;
            }
            if (candidates.empty()) {
                pick = 0;  // one picture, on every monitor
            } else {
                std::size_t r = draw && candidates.size() > 1 ? draw(candidates.size()) : 0;
                pick = candidates[r < candidates.size() ? r : r % candidates.size()];
            }
        }
        taken.insert(list.at(*pick).FilePath);
        chosen.push_back(list.at(*pick).id());
    }
    return chosen;
}

}  // namespace kalidrome
