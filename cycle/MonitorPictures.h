#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TListItemInfo.h"

namespace kalidrome {

class WallpaperList;

// The shape of a monitor or a picture. Square (or not known) fits either.
enum class Shape { Any, Landscape, Portrait };

// Portrait when taller than wide, landscape when wider than tall, else Any.
Shape ShapeOf(std::int64_t width, std::int64_t height);

// Whether a picture of shape picture suits a monitor of shape monitor.
bool ShapeFits(Shape monitor, Shape picture);

// Chooses one list entry per monitor when each monitor shows its own picture.
//
// Monitors come in monitor order (the primary first); the result has one entry per monitor,
// in that order. Pictures fitting a monitor's shape come first (with matchOrientation),
// then, when none is left, pictures of any shape; the same picture (by path) goes on two
// monitors only when the list holds too few to go round, so a list of one picture puts it
// on every monitor.
//  - List order: monitors of one shape move on together through the list, each taking the
//    next fitting entry after the last one their shape used, so that every picture of a
//    shape comes round in turn. Where a shape has used nothing yet (the first change, or its
//    entry has left the list), it starts after `start`.
//  - Random: each monitor draws uniformly among the fitting pictures that are on no other
//    monitor and are not the one it shows now; failing that among those on no other
//    monitor, then any shape.
class MonitorPictureChooser {
public:
    using PictureShape = std::function<Shape(const TListItemInfo&)>;
    // A uniform draw r with 0 <= r < count (count > 0).
    using Draw = std::function<std::size_t(std::size_t count)>;

    // shown: the entries the monitors show now, in monitor order (may be shorter, or hold
    // entries no longer listed). The list is not empty.
    std::vector<EntryId> choose(const WallpaperList& list, const std::vector<Shape>& monitors, bool random,
                                bool matchOrientation, EntryId start, const std::vector<EntryId>& shown,
                                const PictureShape& shapeOf, const Draw& draw);

    // Forgets where each shape stands in the list (a new list).
    void reset() { m_after = {}; }

private:
    std::array<EntryId, 3> m_after{};  // per monitor shape: the last entry it took in list order
};

}  // namespace kalidrome
