#include "Placement.h"

#include <gtest/gtest.h>

namespace kalidrome::test {
namespace {

using platform::Placement;
using settings::ScreenSize;

struct PlacementCase {
    const char* name;
    std::int32_t w, h;
    ScreenSize screen;
    bool stretchLarger, stretchSmaller;
    ScreenSize largerThan, smallerThan;
    Placement expected;
};

constexpr ScreenSize k1024{1024, 768};

class ChoosePlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(ChoosePlacementTest, FirstMatchingRuleDecides) {
    const PlacementCase& c = GetParam();
    EXPECT_EQ(render::ChoosePlacement(c.w, c.h, c.screen.width, c.screen.height, c.stretchLarger, c.stretchSmaller,
                                      c.largerThan, c.smallerThan),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ChoosePlacementTest,
    ::testing::Values(
        PlacementCase{"screen_size_rule3", 1024, 768, k1024, true, false, k1024, k1024, Placement::Stretched},
        PlacementCase{"larger_rule1", 1600, 1200, k1024, true, false, k1024, k1024, Placement::Stretched},
        PlacementCase{"smaller_centred", 800, 600, k1024, true, false, k1024, k1024, Placement::Centred},
        PlacementCase{"taller_rule1", 1000, 800, k1024, true, false, k1024, k1024, Placement::Stretched},
        PlacementCase{"taller_without_stretch_larger", 1000, 800, k1024, false, false, k1024, k1024, Placement::Centred},
        PlacementCase{"stretch_smaller_rule2", 640, 480, k1024, true, true, k1024, k1024, Placement::Stretched},
        PlacementCase{"not_beyond_screen", 1100, 900, {1280, 1024}, true, false, k1024, {1280, 1024}, Placement::Centred},
        PlacementCase{"row2_exact", 1052, 864, k1024, false, false, k1024, {1052, 864}, Placement::Stretched},
        PlacementCase{"row2_one_short", 1051, 864, k1024, false, false, k1024, {1052, 864}, Placement::Centred},
        // Larger than the screen but not than LargerThan: rule 1 does not hold.
        PlacementCase{"beyond_screen_within_limit", 900, 700, {800, 600}, true, false, k1024, k1024, Placement::Centred},
        PlacementCase{"at_least_smaller_than_without_stretch_larger", 2000, 1500, k1024, false, false, k1024, k1024,
                      Placement::Stretched},
        // Rule 1 wants "larger than" both the screen and LargerThan: equal is not larger.
        // SmallerThan 1280 x 1024 keeps rule 3 out of the way.
        PlacementCase{"equal_to_screen_and_limit", 1024, 768, k1024, true, false, k1024, {1280, 1024},
                      Placement::Centred},
        PlacementCase{"equal_to_screen_beyond_limit", 1024, 768, k1024, true, false, {800, 600}, {1280, 1024},
                      Placement::Centred},
        PlacementCase{"beyond_screen_equal_to_limit", 1024, 768, {800, 600}, true, false, k1024, {1280, 1024},
                      Placement::Centred},
        PlacementCase{"one_pixel_beyond_screen_and_limit", 1025, 768, k1024, true, false, k1024, {1280, 1024},
                      Placement::Stretched}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kalidrome::test
