#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <sys/uio.h>
#include <vector>

namespace kalidrome::render {

// Reads a whole file. Throws PictureError naming the file when it cannot be opened or read,
// or when it is larger than maxBytes (pictures are untrusted: a named pipe or a huge file
// must not make us read without end).
std::vector<std::uint8_t> ReadWholeFile(const std::string& path,
                                        std::size_t maxBytes = std::size_t{1} << 30);

// Reads at most maxBytes from the start of a file (fewer when the file is shorter).
std::vector<std::uint8_t> ReadFileStart(const std::string& path, std::size_t maxBytes);

// Writes a file so that readers only ever see the old content or the complete new one: the
// bytes go to a temporary file in the same folder, which commit() renames over the target.
// Destroying an uncommitted AtomicFile removes the temporary file and leaves the target as it
// was. Throws PictureError naming the target on any failure.
class AtomicFile {
public:
    explicit AtomicFile(std::string targetPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Sets the file's length up front, so that positioned writes can land anywhere in it.
    void resize(std::uint64_t size);
    void writeAt(const void* data, std::size_t size, std::uint64_t offset);
    // Writes the buffers one after the other starting at offset.
    void writeAt(const struct iovec* parts, int count, std::uint64_t offset);
    void commit();

    const std::string& targetPath() const { return m_target; }

private:
    [[noreturn]] void fail(const char* what) const;

    std::string m_target;
    std::string m_temp;
    int m_fd = -1;
    bool m_committed = false;
};

// Replaces path with exactly these bytes through AtomicFile.
void WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace kalidrome::render
