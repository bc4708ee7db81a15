#pragma once

#include <string>
#include <string_view>

namespace kalidrome::platform {

// Writes a whole file by way of a temporary file in the same folder that is renamed over
// the target only once everything is written, so readers see the old file or the new
// one and a crash never leaves half a file. A target without write bits counts as
// read-only (even for root) and is left alone. Returns false on any failure, leaving
// the target as it was and no temporary file behind.
bool WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace kalidrome::platform
