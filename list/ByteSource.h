#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "StoredThumbnail.h"

namespace kalidrome {

// Random-access input of a known size: the list reader reads it front to back, with
// jumps to the stated ends of chunks. Seeking past the end is allowed; reads there fail.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    std::uint64_t size() const { return m_size; }
    std::uint64_t position() const { return m_position; }
    std::uint64_t remaining() const { return m_position < m_size ? m_size - m_position : 0; }
    void seek(std::uint64_t position) { m_position = position; }

    // Reads exactly n bytes and moves on; false, with the position unchanged, when fewer
    // than n bytes are left or the input fails.
    bool read(void* out, std::size_t n);

    // The file being read, when its thumbnails can stay in it and be read again later;
    // null when the bytes must be copied out.
    virtual std::shared_ptr<const ThumbnailStore> keptFile() const { return nullptr; }

protected:
    explicit ByteSource(std::uint64_t size) : m_size(size) {}
    // Reads n bytes at position (which lies within the size, as does position + n).
    virtual bool readAt(std::uint64_t position, void* out, std::size_t n) = 0;

private:
    std::uint64_t m_size;
    std::uint64_t m_position = 0;
};

// Bytes already in memory, not copied: they must outlive the source.
class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const std::uint8_t* data, std::size_t size) : ByteSource(size), m_data(data) {}

protected:
    bool readAt(std::uint64_t position, void* out, std::size_t n) override;

private:
    const std::uint8_t* m_data;
};

// An open file descriptor (taken over: it stays open as long as the source or a
// thumbnail read from it lives), read through a buffer. The size is taken when the
// source is made; a file cut short meanwhile makes reads fail.
class FileByteSource : public ByteSource {
public:
    FileByteSource(int fd, std::uint64_t size);

    std::shared_ptr<const ThumbnailStore> keptFile() const override { return m_file; }

protected:
    bool readAt(std::uint64_t position, void* out, std::size_t n) override;

private:
    bool readFully(std::uint64_t position, std::uint8_t* out, std::size_t n);

    std::shared_ptr<const ThumbnailStore> m_file;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_bufferStart = 0;
    std::size_t m_bufferLength = 0;
};

}  // namespace kalidrome
