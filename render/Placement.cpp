#include "Placement.h"

namespace kalidrome::render {

platform::Placement ChoosePlacement(std::int32_t width, std::int32_t height, std::int32_t screenWidth,
                                    std::int32_t screenHeight, bool stretchLarger, bool stretchSmaller,
                                    settings::ScreenSize largerThan, settings::ScreenSize smallerThan) {
    const bool largerThanScreen = width > screenWidth || height > screenHeight;
    const bool largerThanLimit = width > largerThan.width || height > largerThan.height;
    if (stretchLarger && largerThanScreen && largerThanLimit) return platform::Placement::Stretched;
    if (stretchSmaller) return platform::Placement::Stretched;
    if (width >= smallerThan.width && height >= smallerThan.height) return platform::Placement::Stretched;
    return platform::Placement::Centred;
}

}  // namespace kalidrome::render
