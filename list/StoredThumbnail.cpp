#include "StoredThumbnail.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
    explicit OpenListFile(int fd, bool inListOrder = true) : m_fd(fd), m_inListOrder(inListOrder) {}
    bool inListOrder() const override { return m_inListOrder; }
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
    bool m_inListOrder;
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

ThumbnailSpill::ThumbnailSpill(std::string folder) : m_folder(folder.empty() ? DefaultFolder() : std::move(folder)) {}

ThumbnailSpill::~ThumbnailSpill() = default;

std::string ThumbnailSpill::DefaultFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache == '/') return std::string(cache) + "/kalidrome";
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return std::string(home) + "/.cache/kalidrome";
    return "/var/tmp";
}

bool ThumbnailSpill::open() {
    if (m_file) return true;
    if (m_failed) return false;
    std::error_code ignored;
    std::filesystem::create_directories(m_folder, ignored);
    // Without a name from the start; where the file system cannot do that, named and
    // removed at once.
    int fd = ::open(m_folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = m_folder + "/.thumbnails-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) {
        m_failed = true;  // tried once; memory it is
        return false;
    }
    m_file = std::make_shared<OpenListFile>(fd, false);
    m_fd = fd;
    m_size = 0;
    return true;
}

StoredThumbnail ThumbnailSpill::keep(JpegImage image) {
    const std::size_t length = image.Bytes.size();
    if (length == 0 || length > std::numeric_limits<std::uint32_t>::max() || !open()) return StoredThumbnail(std::move(image));
    std::size_t done = 0;
    while (done < length) {
        const ssize_t put = ::pwrite(m_fd, image.Bytes.data() + done, length - done, static_cast<off_t>(m_size + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<std::size_t>(put);
    }
    if (done < length) {
        // A full disk: this one and later ones stay in memory.
        m_failed = true;
        m_file.reset();
        m_fd = -1;
        return StoredThumbnail(std::move(image));
    }
    StoredThumbnail stored(m_file, m_size, image.Bytes.data(), static_cast<std::uint32_t>(length), image.Width,
                           image.Height);
    m_size += length;
    return stored;
}

void ThumbnailSpill::startAfresh() {
    m_failed = false;  // a save may have made room
    // A file no thumbnail reads any more is emptied and used again.
    if (m_file && m_file.use_count() == 1 && ::ftruncate(m_fd, 0) == 0) {
        m_size = 0;
        return;
    }
    m_file.reset();
    m_fd = -1;
    m_size = 0;
}

bool StoredThumbnail::inMemory() const { return dynamic_cast<const MemoryThumbnail*>(m_store.get()) != nullptr; }

bool StoredThumbnail::read(std::vector<std::uint8_t>& out) const {
    out.resize(m_length);
    return m_store->readUpTo(m_offset, out.data(), m_length) == m_length && Check(out.data(), m_length) == m_check;
}

bool ThumbnailReadBuffer::read(const StoredThumbnail& thumbnail, std::vector<std::uint8_t>& out) {
    const ThumbnailStore* store = thumbnail.m_store.get();
    const std::uint64_t offset = thumbnail.m_offset;
    const std::size_t length = thumbnail.m_length;
    // Reading ahead serves only thumbnails that lie in list order; others are read alone.
    if (length >= kWindow / 2 || thumbnail.inMemory() || !store->inListOrder()) return thumbnail.read(out);
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
