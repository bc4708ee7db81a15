#include "ByteSource.h"

#include <algorithm>
#include <cstring>

namespace kalidrome {

namespace {
constexpr std::size_t kFileBufferSize = 64 * 1024;
}

bool ByteSource::read(void* out, std::size_t n) {
    if (n > remaining()) return false;
    if (n == 0) return true;
    if (!readAt(m_position, out, n)) return false;
    m_position += n;
    return true;
}

bool MemoryByteSource::readAt(std::uint64_t position, void* out, std::size_t n) {
    std::memcpy(out, m_data + position, n);
    return true;
}

FileByteSource::FileByteSource(int fd, std::uint64_t size) : ByteSource(size), m_file(KeepListFileOpen(fd)) {}

bool FileByteSource::readFully(std::uint64_t position, std::uint8_t* out, std::size_t n) {
    return m_file->readUpTo(position, out, n) == n;
}

bool FileByteSource::readAt(std::uint64_t position, void* out, std::size_t n) {
    auto* dst = static_cast<std::uint8_t*>(out);
    if (position >= m_bufferStart && position + n <= m_bufferStart + m_bufferLength) {
        std::memcpy(dst, m_buffer.data() + (position - m_bufferStart), n);
        return true;
    }
    // Large reads (thumbnails) go straight to their destination.
    if (n >= kFileBufferSize / 2) return readFully(position, dst, n);
    std::size_t fill = static_cast<std::size_t>(std::min<std::uint64_t>(kFileBufferSize, size() - position));
    m_buffer.resize(kFileBufferSize);
    m_bufferLength = 0;
    if (!readFully(position, m_buffer.data(), fill)) return false;
    m_bufferStart = position;
    m_bufferLength = fill;
    std::memcpy(dst, m_buffer.data(), n);
    return true;
}

}  // namespace kalidrome
