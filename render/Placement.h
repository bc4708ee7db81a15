#pragma once

#include "Desktop.h"
#include "Settings.h"

#include <cstdint>

namespace kalidrome::render {

// Stretched or centred for a picture of width x height on a screen of that size; the first
// rule that holds decides:
//  1. stretchLarger, and the picture exceeds the screen in a side, and exceeds largerThan in
//     a side: stretched;
//  2. stretchSmaller: stretched;
//  3. the picture is at least smallerThan in both sides: stretched;
//  4. centred.
platform::Placement ChoosePlacement(std::int32_t width, std::int32_t height, std::int32_t screenWidth,
                                    std::int32_t screenHeight, bool stretchLarger, bool stretchSmaller,
                                    settings::ScreenSize largerThan, settings::ScreenSize smallerThan);

}  // namespace kalidrome::render
