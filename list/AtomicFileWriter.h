#pragma once

#include <cstddef>
#include <string>

namespace kalidrome {

// Writes a file so that it either appears whole or not at all: the bytes go to a new
// file beside the target, which replaces the target by rename only in commit(). Until
// then, and whenever writing fails, the old file stays as it was. A symbolic link at
// the target path is followed, so the file it points to is the one replaced.
//
// Every failure throws std::system_error carrying the errno of the cause.
class AtomicFileWriter {
public:
    // Refuses an existing target that is not a regular file, or that has no write bit
    // (even for root: replacing it would override the user's choice), or that the
    // process may not write.
    explicit AtomicFileWriter(const std::string& path);
    // Removes the new file unless commit() has succeeded.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(const void* data, std::size_t size);
    // Flushes the new file to the disk and renames it over the target.
    void commit();

private:
    std::string m_target;
    std::string m_temporary;
    int m_fd = -1;
};

}  // namespace kalidrome
