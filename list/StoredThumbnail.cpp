#include "StoredThumbnail.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "UniqueFd.h"

namespace kalidrome {

namespace {

class MemoryThumbnail final : public ThumbnailStore {
public:
    explicit MemoryThumbnail(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    std::size_t readUpTo(std::uint64_t offset, std::uint8_t* out, std::size_t n) const override {
        if (offset >= m_bytes.size()) return 0;
        const std::size_t got = std::min<std::size_t>(n, m_bytes.size() - static_cast<std::size_t>(offset));
        std::memcpy(out, m_bytes.data() + offset, got);
        return got;
    }

private:
    std::vector<std::uint8_t> m_bytes;
};

class OpenListFile final : public ThumbnailStore {
public:
    explicit OpenListFile(int fd) : m_fd(fd) {}
    std::size_t readUpTo(std::uint64_t offset, std::uint8_t* out, std::size_t n) const override {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(m_fd.get(), out + done, n - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

private:
    platform::UniqueFd m_fd;
};

constexpr std::size_t kCheckSample = 32;

void Mix(std::uint32_t& hash, const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        hash ^= bytes[i];
        hash *= 16777619u;  // FNV-1a
    }
}

std::uint16_t Side(int side) {
    return static_cast<std::uint16_t>(std::clamp(side, 0, static_cast<int>(std::numeric_limits<std::uint16_t>::max())));
}

}  // namespace

std::shared_ptr<const ThumbnailStore> KeepListFileOpen(int fd) { return std::make_shared<OpenListFile>(fd); }

std::uint32_t StoredThumbnail::Check(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t hash = 2166136261u;
    const std::uint64_t size = length;
    Mix(hash, reinterpret_cast<const std::uint8_t*>(&size), sizeof size);
    const std::size_t sample = std::min(length, kCheckSample);
    Mix(hash, bytes + (length - sample) / 2, sample);
    Mix(hash, bytes + length - sample, sample);
    return hash;
}

StoredThumbnail::StoredThumbnail(JpegImage image)
    : Width(Side(image.Width)),
      Height(Side(image.Height)),
      m_length(static_cast<std::uint32_t>(
          std::min<std::size_t>(image.Bytes.size(), std::numeric_limits<std::uint32_t>::max()))),
      m_check(Check(image.Bytes.data(), m_length)) {
    image.Bytes.resize(m_length);
    m_store = std::make_shared<MemoryThumbnail>(std::move(image.Bytes));
}

StoredThumbnail::StoredThumbnail(std::shared_ptr<const ThumbnailStore> store, std::uint64_t offset,
                                 const std::uint8_t* bytes, std::uint32_t length, int width, int height)
    : Width(Side(width)),
      Height(Side(height)),
      m_store(std::move(store)),
      m_offset(offset),
      m_length(length),
      m_check(Check(bytes, length)) {}

bool StoredThumbnail::inMemory() const { return dynamic_cast<const MemoryThumbnail*>(m_store.get()) != nullptr; }

bool StoredThumbnail::read(std::vector<std::uint8_t>& out) const {
    out.resize(m_length);
    return m_store->readUpTo(m_offset, out.data(), m_length) == m_length && Check(out.data(), m_length) == m_check;
}

bool ThumbnailReadBuffer::read(const StoredThumbnail& thumbnail, std::vector<std::uint8_t>& out) {
    const ThumbnailStore* store = thumbnail.m_store.get();
    const std::uint64_t offset = thumbnail.m_offset;
    const std::size_t length = thumbnail.m_length;
    if (length >= kWindow / 2 || thumbnail.inMemory()) return thumbnail.read(out);
    const bool inside = store == m_store && offset >= m_start && offset + length <= m_start + m_bytes.size();
    if (!inside) {
        m_bytes.resize(kWindow);
        m_bytes.resize(store->readUpTo(offset, m_bytes.data(), kWindow));
        m_store = store;
        m_keep = thumbnail.m_store;
        m_start = offset;
        if (m_bytes.size() < length) return false;
    }
    const auto* from = m_bytes.data() + (offset - m_start);
    out.assign(from, from + length);
    return StoredThumbnail::Check(out.data(), length) == thumbnail.m_check;
}

}  // namespace kalidrome
