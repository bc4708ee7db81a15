#include "Scale.h"

#include "PictureError.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

void ScaleRows(const Image& source, Image& dest, const Taps& h, const Taps& v, std::int32_t y0, std::int32_t y1) {
    const std::int32_t width = dest.width();
    const std::size_t values = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint16_t> line(values);
    std::vector<std::uint32_t> acc(values);
    // The last source row scaled, so that a row shared by two destination rows is done once.
    std::int32_t cached = -1;
    std::vector<std::uint16_t> cachedLine(values);
    for (std::int32_t y = y0; y < y1; ++y) {
        std::fill(acc.begin(), acc.end(), 0u);
        const std::int32_t first = v.first[static_cast<std::size_t>(y)];
        const std::int32_t n = v.count[static_cast<std::size_t>(y)];
        const std::uint32_t* w = v.weights.data() + v.offset[static_cast<std::size_t>(y)];
        for (std::int32_t k = 0; k < n; ++k) {
            const std::int32_t sy = first + k;
            const std::uint16_t* src;
            if (sy == cached) {
                src = cachedLine.data();
            } else {
                ScaleRow(source.row(sy), line.data(), h, width);
                if (k == n - 1) {  // may be needed again by the next destination row
                    cachedLine.swap(line);
                    cached = sy;
                    src = cachedLine.data();
                } else {
                    src = line.data();
                }
            }
            const std::uint32_t wk = w[k];
            for (std::size_t i = 0; i < values; ++i) acc[i] += wk * src[i];
        }
        std::uint8_t* d = dest.row(y);
        for (std::size_t i = 0; i < values; ++i)
            d[i] = static_cast<std::uint8_t>((acc[i] + (1u << 21)) >> 22);
    }
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
    if (threads == 1 || height < 2 * threads) {
        ScaleRows(source, dest, h, v, 0, height);
        return dest;
    }
    std::vector<std::thread> workers;
    for (int t = 1; t < threads; ++t) {
        const std::int32_t y0 = static_cast<std::int32_t>(static_cast<std::int64_t>(height) * t / threads);
        const std::int32_t y1 = static_cast<std::int32_t>(static_cast<std::int64_t>(height) * (t + 1) / threads);
        workers.emplace_back([&, y0, y1] { ScaleRows(source, dest, h, v, y0, y1); });
    }
    ScaleRows(source, dest, h, v, 0, static_cast<std::int32_t>(height / threads));
    for (auto& w : workers) w.join();
    return dest;
}

}  // namespace kalidrome::render
