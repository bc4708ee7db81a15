#pragma once

#include <functional>
#include <string>

namespace kalidrome {

// The path, shortened so that textWidth(result) <= width where that can be done: leading
// folders give way one after another to "...", then the folder part goes altogether.
// "/home/ann/Pictures/2003" shortens step by step to "/.../ann/Pictures/2003",
// "/.../Pictures/2003", "/.../2003", ".../2003" and "2003". The file-name part is never
// cut, so the result may still be too wide.
std::string ShortenPathToWidth(const std::string& path, int width,
                               const std::function<int(const std::string&)>& textWidth);

}  // namespace kalidrome
