#pragma once

#include <cstdint>

#include "Settings.h"

namespace kalidrome {

// The main window's in-memory copy of the options it acts on, named after their keys.
// The values here are the ones in force before anything is loaded.
struct Options {
    bool DisableCycling = false;
    bool ShowTray = true;
    bool Random = true;
    bool GreyScale = false;
    bool StretchLarger = true;
    bool StretchSmaller = false;
    bool UseMask = false;
    bool ShowImages = true;
    bool SaveImage = true;
    // Each monitor its own picture; with MatchOrientation, of the monitor's shape.
    bool PicturePerMonitor = false;
    bool MatchOrientation = true;
    std::int32_t Interval = 600;
    settings::ScreenSize Res1 = settings::kResolutionTable[1];
    settings::ScreenSize Res2 = settings::kResolutionTable[1];
    std::int32_t CurrIndex = 0;
};

}  // namespace kalidrome
