#include "Slideshow.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "IniFile.h"
#include "IniRegistry.h"
#include "ImageConversion.h"
#include "ListFile.h"
#include "MonitorPictures.h"
#include "PictureLoader.h"
#include "Placement.h"
#include "Registry.h"
#include "Scale.h"
#include "SystemFolder.h"
#include "WallpaperList.h"

namespace kalidrome::screensaver {

using namespace settings;

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// How long a slide without pictures stays before update() looks again.
constexpr std::chrono::hours kIdleWait{24};

int ScalingThreads() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)); }

Slide MessageSlide(const char* text) {
    Slide slide;
    slide.message = text;
    return slide;
}

// How long until due; zero before the start and when it is due.
std::chrono::milliseconds TimeLeft(bool started, std::chrono::steady_clock::time_point due,
                                   const Slideshow::Clock& clock) {
    if (!started) return std::chrono::milliseconds(0);
    const auto left = due - clock();
    if (left <= std::chrono::steady_clock::duration::zero()) return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(left);
}

}  // namespace

SlideshowOptions ReadSlideshowOptions(const std::string& systemPath) {
    const IniFile ini(systemPath + std::string(kSettingsFile));
    auto readBool = [&ini](const BoolKey& k) { return ini.readBool(k.section, k.key, k.atLoad); };
    SlideshowOptions o;
    o.random = readBool(kRandom);
    o.picture.GreyScale = readBool(kGreyScale);
    o.picture.UseMask = readBool(kUseMask);
    o.picture.StretchLarger = readBool(kStretchLarger);
    o.picture.StretchSmaller = readBool(kStretchSmaller);
    o.picture.Res1 = ResolutionRow(ini.readInteger(kOptions, kRes1, kResDefault));
    o.picture.Res2 = ResolutionRow(ini.readInteger(kOptions, kRes2, kResDefault));
    o.currIndex = ini.readInteger(kOptions, kCurrIndex, 0);
    const std::int32_t seconds =
        ParseIntervalText(ini.readString(kOptions, kScreenSaverInterval, kScreenSaverIntervalDefault))
            .value_or(*ParseIntervalText(kScreenSaverIntervalDefault));
    o.interval = std::clamp(std::chrono::seconds(seconds), std::chrono::seconds(1), kMaxInterval);
    o.perMonitor = readBool(kPicturePerMonitor);
    o.matchOrientation = readBool(kMatchOrientation);
    o.listPath = ini.readString(kOptions, kList, "");
    if (o.listPath.empty()) o.listPath = systemPath + std::string(kDefaultListFile);
    return o;
}

std::vector<std::string> ReadListPaths(const std::string& listPath) {
    WallpaperList list;
    bool saveImage = true;
    try {
        ReadListFile(listPath, list, saveImage);
    } catch (const std::exception&) {
        // What was read before the damage is still worth showing.
    }
    std::vector<std::string> paths;
    paths.reserve(list.count());
    for (std::size_t i = 0; i < list.count(); ++i) paths.push_back(list.at(i).FilePath);
    return paths;
}

std::string FindSystemPath() {
    const std::string registryPath = platform::IniRegistry::DefaultPath();
    if (!registryPath.empty()) {
        const platform::IniRegistry registry(registryPath);
        if (std::optional<std::string> published = registry.readString(platform::kProgramKey, platform::kSystemPathValue)) {
            std::string path = *published;
            std::error_code ec;
            if (!path.empty() && std::filesystem::is_directory(path, ec)) {
                if (path.back() != '/') path += '/';
                return path;
            }
        }
    }
    return platform::PerUserSystemFolder();
}

Slideshow::Slideshow(std::vector<std::string> paths, SlideshowOptions options, std::string systemPath, Clock clock,
                     RandomIndex random)
    : m_paths(std::move(paths)),
      m_options(std::move(options)),
      m_systemPath(std::move(systemPath)),
      m_clock(std::move(clock)),
      m_random(std::move(random)),
      m_last(kNone) {
    if (!m_random) {
        auto engine = std::make_shared<std::mt19937_64>(std::random_device{}());
        m_random = [engine](std::size_t count) {
            return std::uniform_int_distribution<std::size_t>(0, count - 1)(*engine);
        };
    }
    if (!m_paths.empty() && m_options.currIndex >= 0)
        m_position = (static_cast<std::size_t>(m_options.currIndex) + 1) % m_paths.size();
}

Slideshow::~Slideshow() {
    if (m_ahead.valid()) m_ahead.wait();
}

void Slideshow::place(Slide& slide, render::PixelSize size) const {
    const render::WallpaperOptions& o = m_options.picture;
    slide.placement = render::ChoosePlacement(slide.picture.width(), slide.picture.height(), size.width, size.height,
                                              o.StretchLarger, o.StretchSmaller, o.Res1, o.Res2);
    slide.windowSized = {};
    if (slide.placement == platform::Placement::Stretched && size.width > 0 && size.height > 0)
        slide.windowSized = render::ScaleAreaAverage(slide.picture, size.width, size.height, ScalingThreads());
}

Slideshow::Prepared Slideshow::prepare(const std::string& path, render::PixelSize size) const {
    Prepared p;
    p.slide.path = path;
    try {
        p.slide.picture = render::ConvertPictureInMemory(path, m_systemPath, m_options.picture.GreyScale,
                                                         m_options.picture.UseMask);
        place(p.slide, size);
        p.ok = true;
    } catch (const std::exception&) {
        p.ok = false;  // unreadable, missing, too large, out of memory: passed over
    }
    return p;
}

std::size_t Slideshow::choose() {
    const std::size_t n = m_paths.size();
    if (!m_options.random) {
        const std::size_t chosen = m_position;
        m_position = (m_position + 1) % n;
        return chosen;
    }
    if (n == 1) return 0;
    if (m_last >= n) return std::min(m_random(n), n - 1);
    // Any but the last one, each as likely.
    const std::size_t r = std::min(m_random(n - 1), n - 2);
    return r >= m_last ? r + 1 : r;
}

std::size_t Slideshow::after(std::size_t failed, std::size_t tries) {
    const std::size_t n = m_paths.size();
    if (!m_options.random) return choose();
    // At random, the ones after it in list order, and the one shown last only when every
    // other one failed: a list with one readable picture still shows it.
    // tries + 1 pictures are tried; after the n - 1 others comes the one shown last.
    if (m_last < n && tries + 2 == n) return m_last;
    std::size_t next = (failed + 1) % n;
    if (next == m_last) next = (next + 1) % n;
    return next;
}

void Slideshow::startAhead(std::size_t index, render::PixelSize size) {
    m_aheadIndex = index;
    m_aheadSize = size;
    m_ahead = std::async(std::launch::async, [this, path = m_paths[index], size] { return prepare(path, size); });
}

void Slideshow::moveOn(render::PixelSize size) {
    if (m_paths.empty()) {
        m_current = MessageSlide(kNoPicturesText);
        m_due = m_clock() + kIdleWait;
        return;
    }
    // Every picture gets one try per move; the first that can be shown is.
    for (std::size_t tries = 0; tries < m_paths.size(); ++tries) {
        if (!m_ahead.valid()) startAhead(choose(), size);
        Prepared p = m_ahead.get();
        const std::size_t index = m_aheadIndex;
        if (p.ok && m_aheadSize != size) place(p.slide, size);
        if (p.ok) {
            m_current = std::move(p.slide);
            m_last = index;
            // From now: a picture that took long to decode still gets its full time.
            m_due = m_clock() + m_options.interval;
            startAhead(choose(), size);
            return;
        }
        if (tries + 1 < m_paths.size()) startAhead(after(index, tries), size);
    }
    m_current = MessageSlide(kUnreadablePicturesText);
    m_due = m_clock() + m_options.interval;
}

bool Slideshow::aheadReady() const {
    return m_ahead.valid() && m_ahead.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

bool Slideshow::update(render::PixelSize window) {
    if (!m_started || m_clock() >= m_due) {
        m_started = true;
        m_size = window;
        moveOn(window);
        return true;
    }
    if (window == m_size) return false;
    m_size = window;
    // The picture decoding ahead is placed for the new size when it is due.
    if (!m_current.path.empty()) place(m_current, window);
    return true;
}

std::chrono::milliseconds Slideshow::untilNext() const { return TimeLeft(m_started, m_due, m_clock); }

struct MonitorSlideshow::State {
    WallpaperList list;
    MonitorPictureChooser chooser;
    std::vector<EntryId> shown;
    std::map<EntryId, Shape> shapes;
};

MonitorSlideshow::MonitorSlideshow(const std::vector<std::string>& paths, SlideshowOptions options,
                                   std::string systemPath, Clock clock, RandomIndex random)
    : m_state(std::make_unique<State>()),
      m_options(std::move(options)),
      m_systemPath(std::move(systemPath)),
      m_clock(std::move(clock)),
      m_random(std::move(random)) {
    for (const std::string& path : paths) m_state->list.AddEntry(path);
    if (!m_random) {
        auto engine = std::make_shared<std::mt19937_64>(std::random_device{}());
        m_random = [engine](std::size_t count) {
            return std::uniform_int_distribution<std::size_t>(0, count - 1)(*engine);
        };
    }
}

MonitorSlideshow::~MonitorSlideshow() = default;

void MonitorSlideshow::moveOn() {
    m_current.clear();
    State& st = *m_state;
    if (st.list.empty()) {
        m_current.push_back(MessageSlide(kNoPicturesText));
        m_due = m_clock() + kIdleWait;
        return;
    }
    std::vector<Shape> shapes;
    for (const platform::Monitor& m : m_monitors) shapes.push_back(ShapeOf(m.width, m.height));
    // The list goes on after CurrIndex, where the wallpaper stands.
    const std::int32_t index = m_options.currIndex;
    const EntryId start =
        index >= 0 && static_cast<std::size_t>(index) < st.list.count() ? st.list.at(static_cast<std::size_t>(index)).id() : 0;
    auto shapeOf = [&st](const TListItemInfo& entry) {
        const auto known = st.shapes.find(entry.id());
        if (known != st.shapes.end()) return known->second;
        Shape shape = Shape::Any;
        try {
            const render::PictureDimensions size = render::ReadPictureDimensions(entry.FilePath);
            shape = ShapeOf(size.width, size.height);
        } catch (const std::exception&) {
        }
        st.shapes.emplace(entry.id(), shape);
        return shape;
    };
    st.shown = st.chooser.choose(st.list, shapes, m_options.random, m_options.matchOrientation, start, st.shown, shapeOf,
                                 m_random);
    for (std::size_t i = 0; i < m_monitors.size(); ++i) {
        const TListItemInfo* entry = st.list.find(st.shown[i]);
        Slide slide;
        slide.path = entry->FilePath;
        try {
            slide.picture = render::ConvertPictureInMemory(slide.path, m_systemPath, m_options.picture.GreyScale,
                                                           m_options.picture.UseMask);
            const render::WallpaperOptions& o = m_options.picture;
            const render::PixelSize size{m_monitors[i].width, m_monitors[i].height};
            slide.placement = render::ChoosePlacement(slide.picture.width(), slide.picture.height(), size.width,
                                                      size.height, o.StretchLarger, o.StretchSmaller, o.Res1, o.Res2);
            if (slide.placement == platform::Placement::Stretched)
                slide.windowSized = render::ScaleAreaAverage(slide.picture, size.width, size.height, ScalingThreads());
        } catch (const std::exception&) {
            slide.picture = render::Image();  // black for this interval
            slide.windowSized = render::Image();
        }
        m_current.push_back(std::move(slide));
    }
    m_due = m_clock() + m_options.interval;
}

bool MonitorSlideshow::update(const std::vector<platform::Monitor>& monitors) {
    const bool sameMonitors =
        monitors.size() == m_monitors.size() &&
        std::equal(monitors.begin(), monitors.end(), m_monitors.begin(), [](const platform::Monitor& a, const platform::Monitor& b) {
            return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
        });
    if (m_started && sameMonitors && m_clock() < m_due) return false;
    m_started = true;
    m_monitors = monitors;
    moveOn();
    return true;
}

std::chrono::milliseconds MonitorSlideshow::untilNext() const { return TimeLeft(m_started, m_due, m_clock); }

}  // namespace kalidrome::screensaver
