#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace kalidrome::platform {
class AtomicFile;
}

namespace kalidrome::render {

// Reads a whole file. Throws PictureError naming the file when it cannot be opened or read,
// or when it is larger than maxBytes (pictures are untrusted: a named pipe or a huge file
// must not make us read without end).
std::vector<std::uint8_t> ReadWholeFile(const std::string& path,
                                        std::size_t maxBytes = std::size_t{1} << 30);

// Reads at most maxBytes from the start of a file (fewer when the file is shorter).
std::vector<std::uint8_t> ReadFileStart(const std::string& path, std::size_t maxBytes);

// Renames a finished file over its target without flushing it to the disk, and without
// waiting for the system to let go of the file it replaces. Throws std::system_error.
void CommitLargeFile(platform::AtomicFile& file);

// The PictureError for a failure to write path.
[[noreturn]] void ThrowWriteError(const std::string& path, const std::system_error& error);

}  // namespace kalidrome::render
