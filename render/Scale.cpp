#include "Scale.h"

#include "PictureError.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

namespace kalidrome::render {

namespace {

// For one axis: which source pixels each destination pixel covers and by how much, as
// integer weights that add up to exactly `total` for every destination pixel.
struct Taps {
    std::vector<std::int32_t> first;   // first source index, per destination pixel
    std::vector<std::int32_t> count;   // number of source pixels
    std::vector<std::int32_t> offset;  // into weights
    std::vector<std::uint32_t> weights;

    std::int32_t last(std::int32_t i) const {
        return first[static_cast<std::size_t>(i)] + count[static_cast<std::size_t>(i)] - 1;
    }
};

Taps MakeTaps(std::int32_t from, std::int32_t to, std::uint32_t total) {
    Taps t;
    t.first.resize(static_cast<std::size_t>(to));
    t.count.resize(static_cast<std::size_t>(to));
    t.offset.resize(static_cast<std::size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (std::int32_t i = 0; i < to; ++i) {
        const double start = i * scale;
        const double end = std::min<double>(from, (i + 1) * scale);
        std::int32_t j0 = static_cast<std::int32_t>(std::floor(start));
        std::int32_t j1 = static_cast<std::int32_t>(std::ceil(end));  // exclusive
        j0 = std::clamp(j0, 0, from - 1);
        j1 = std::clamp(j1, j0 + 1, from);
        t.first[static_cast<std::size_t>(i)] = j0;
        t.offset[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(t.weights.size());
        // Cumulative rounding keeps the sum exact.
        const double span = end - start;
        double covered = 0;
        std::uint32_t given = 0;
        std::int32_t n = 0;
        for (std::int32_t j = j0; j < j1; ++j) {
            const double overlap = std::min<double>(j + 1, end) - std::max<double>(j, start);
            covered += std::max(0.0, overlap);
            const auto upTo = static_cast<std::uint32_t>(std::lround(covered / span * total));
            const std::uint32_t w = std::min(upTo, total) - given;
            given += w;
            t.weights.push_back(w);
            ++n;
        }
        t.weights.back() += total - given;
        t.count[static_cast<std::size_t>(i)] = n;
    }
    return t;
}

constexpr std::uint32_t kHorizontalTotal = 1u << 12;  // 255 * 4096 fits easily
constexpr std::uint32_t kVerticalTotal = 1u << 14;    // 65280 * 16384 < 2^32

// One source row shrunk or stretched horizontally, as values times 256.
void ScaleRow(const std::uint8_t* src, std::uint16_t* out, const Taps& h, std::int32_t width) {
    const std::uint32_t* weights = h.weights.data();
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint8_t* s = src + 3 * h.first[static_cast<std::size_t>(x)];
        const std::uint32_t* w = weights + h.offset[static_cast<std::size_t>(x)];
        const std::int32_t n = h.count[static_cast<std::size_t>(x)];
        std::uint32_t b = 0, g = 0, r = 0;
        for (std::int32_t k = 0; k < n; ++k, s += 3) {
            b += w[k] * s[0];
            g += w[k] * s[1];
            r += w[k] * s[2];
        }
        out[3 * x + 0] = static_cast<std::uint16_t>((b + 8) >> 4);
        out[3 * x + 1] = static_cast<std::uint16_t>((g + 8) >> 4);
        out[3 * x + 2] = static_cast<std::uint16_t>((r + 8) >> 4);
    }
}

// Makes destination rows y0 .. y1 - 1 from source rows handed over in order, each source
// row scaled horizontally once and added into every destination row it covers.
class RowScaler {
public:
    RowScaler(const Taps& h, const Taps& v, Image& dest, std::int32_t y0, std::int32_t y1)
        : m_h(h), m_v(v), m_dest(dest), m_values(static_cast<std::size_t>(dest.width()) * 3),
          m_line(m_values), m_done(y0), m_open(y0), m_end(y1) {}

    // The source rows this scaler needs, in order.
    std::int32_t firstSource() const { return m_v.first[static_cast<std::size_t>(m_done)]; }
    std::int32_t lastSource() const { return m_v.last(m_end - 1); }

    void addRow(std::int32_t sy, const std::uint8_t* row) {
        if (m_done >= m_end || sy < firstSource()) return;
        ScaleRow(row, m_line.data(), m_h, m_dest.width());
        while (m_open < m_end && m_v.first[static_cast<std::size_t>(m_open)] <= sy) {
            if (m_spare.empty()) m_spare.emplace_back(m_values);
            m_acc.push_back(std::move(m_spare.back()));
            m_spare.pop_back();
            std::fill(m_acc.back().begin(), m_acc.back().end(), 0u);
            ++m_open;
        }
        for (std::int32_t y = m_done; y < m_open; ++y) {
            if (sy > m_v.last(y)) continue;
            const std::uint32_t w = m_v.weights[static_cast<std::size_t>(
                m_v.offset[static_cast<std::size_t>(y)] + (sy - m_v.first[static_cast<std::size_t>(y)]))];
            std::uint32_t* acc = m_acc[static_cast<std::size_t>(y - m_done)].data();
            const std::uint16_t* line = m_line.data();
            for (std::size_t i = 0; i < m_values; ++i) acc[i] += w * line[i];
        }
        while (m_done < m_open && m_v.last(m_done) <= sy) {
            const std::uint32_t* acc = m_acc.front().data();
            std::uint8_t* d = m_dest.row(m_done);
            for (std::size_t i = 0; i < m_values; ++i) d[i] = static_cast<std::uint8_t>((acc[i] + (1u << 21)) >> 22);
            m_spare.push_back(std::move(m_acc.front()));
            m_acc.pop_front();
            ++m_done;
        }
    }

private:
    const Taps& m_h;
    const Taps& m_v;
    Image& m_dest;
    std::size_t m_values;
    std::vector<std::uint16_t> m_line;
    std::deque<std::vector<std::uint32_t>> m_acc;  // for destination rows m_done .. m_open - 1
    std::vector<std::vector<std::uint32_t>> m_spare;
    std::int32_t m_done;
    std::int32_t m_open;
    std::int32_t m_end;
};

void ScaleBand(const Image& source, Image& dest, const Taps& h, const Taps& v, std::int32_t y0, std::int32_t y1) {
    if (y0 >= y1) return;
    RowScaler scaler(h, v, dest, y0, y1);
    for (std::int32_t sy = scaler.firstSource(), last = scaler.lastSource(); sy <= last; ++sy)
        scaler.addRow(sy, source.row(sy));
}

}  // namespace

Image ScaleAreaAverage(const Image& source, std::int32_t width, std::int32_t height, int threads) {
    if (source.empty()) throw PictureError("Cannot scale an empty picture");
    Image dest(width, height);
    if (width == source.width() && height == source.height()) {
        std::memcpy(dest.data(), source.data(), source.byteSize());
        return dest;
    }
    const Taps h = MakeTaps(source.width(), width, kHorizontalTotal);
    const Taps v = MakeTaps(source.height(), height, kVerticalTotal);
    threads = std::clamp(threads, 1, 8);
    if (height < 2 * threads) threads = 1;
    std::vector<std::thread> workers;
    auto band = [&](int t) {
        return std::pair{static_cast<std::int32_t>(static_cast<std::int64_t>(height) * t / threads),
                         static_cast<std::int32_t>(static_cast<std::int64_t>(height) * (t + 1) / threads)};
    };
    for (int t = 1; t < threads; ++t) {
        const auto [y0, y1] = band(t);
        workers.emplace_back([&, y0 = y0, y1 = y1] { ScaleBand(source, dest, h, v, y0, y1); });
    }
    const auto [y0, y1] = band(0);
    ScaleBand(source, dest, h, v, y0, y1);
    for (auto& w : workers) w.join();
    return dest;
}

struct StreamingAreaAverage::State {
    Taps h;
    Taps v;
    Image dest;
    std::size_t sourceStride;
    std::int32_t sourceHeight;
    std::int32_t next = 0;
    std::unique_ptr<RowScaler> scaler;
};

StreamingAreaAverage::StreamingAreaAverage(std::int32_t sourceWidth, std::int32_t sourceHeight, std::int32_t width,
                                           std::int32_t height)
    : m_state(std::make_unique<State>()) {
    CheckPictureSize(sourceWidth, sourceHeight);
    m_state->h = MakeTaps(sourceWidth, width, kHorizontalTotal);
    m_state->v = MakeTaps(sourceHeight, height, kVerticalTotal);
    m_state->dest = Image(width, height);
    m_state->sourceStride = Image::StrideFor(sourceWidth);
    m_state->sourceHeight = sourceHeight;
    m_state->scaler = std::make_unique<RowScaler>(m_state->h, m_state->v, m_state->dest, 0, height);
}

StreamingAreaAverage::~StreamingAreaAverage() = default;

void StreamingAreaAverage::addRows(const std::uint8_t* top, std::int32_t first, std::int32_t count) {
    State& s = *m_state;
    if (first != s.next || count < 0 || count > s.sourceHeight - first)
        throw PictureError("Rows handed to the scaler out of order");
    for (std::int32_t y = first; y < first + count; ++y)
        s.scaler->addRow(y, top + s.sourceStride * static_cast<std::size_t>(y));
    s.next = first + count;
}

Image StreamingAreaAverage::take() {
    if (m_state->next != m_state->sourceHeight) throw PictureError("The scaler has not seen every row");
    return std::move(m_state->dest);
}

}  // namespace kalidrome::render
