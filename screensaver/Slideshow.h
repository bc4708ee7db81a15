#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Desktop.h"
#include "Image.h"
#include "Wallpaper.h"

namespace kalidrome::screensaver {

// The options the screen saver acts on, read from Settings.ini and never written.
struct SlideshowOptions {
    bool random = true;
    std::chrono::seconds interval{20};
    // How each picture is converted and placed, as for the wallpaper.
    render::WallpaperOptions picture;
    std::int32_t currIndex = 0;
    // The list file: key List, by default the System folder's Files.kdl.
    std::string listPath;
    // A picture of its own on each monitor of the root window, of the monitor's shape.
    bool perMonitor = false;
    bool matchOrientation = true;
};

// The longest time per picture taken from ScreenSaverInterval: a day.
inline constexpr std::chrono::seconds kMaxInterval{86400};

// Section Options of systemPath's Settings.ini (systemPath ends with "/"), read with the main
// window's defaults. ScreenSaverInterval: whole seconds as the preferences dialog takes them,
// 20 when missing or not a number, held to 1 second ... a day.
SlideshowOptions ReadSlideshowOptions(const std::string& systemPath);

// The pictures of the list file, in list order. A missing or unreadable file gives none; a
// damaged one the entries read before the damage.
std::vector<std::string> ReadListPaths(const std::string& listPath);

// The System folder the program published as SystemPath under "Software\Kalidrome" in its
// registry file, when that folder exists; else the per-user System folder. Ends with "/";
// empty when neither is known.
std::string FindSystemPath();

// What the window shows: a picture placed for the window, or one line of text on black.
struct Slide {
    // The picture converted as for the wallpaper (frame overlay, greyscale).
    render::Image picture;
    // The picture stretched to the window, when placement is Stretched.
    render::Image windowSized;
    platform::Placement placement = platform::Placement::Centred;
    std::string path;     // the picture shown; empty with a message
    std::string message;  // one line over black; empty with a picture
};

inline constexpr const char* kNoPicturesText = "No pictures: add some to the list in Kalidrome.";
inline constexpr const char* kUnreadablePicturesText = "None of the pictures in the Kalidrome list can be shown.";

// The screen saver's pictures over time: one picture of the list after another (the one
// after CurrIndex first, then in list order) or at random (never the same twice in a row),
// each for the interval, converted and placed for the window as the wallpaper is for the
// screen. The next picture is decoded and placed on a thread of its own while the current one
// shows. A picture that cannot be read is passed over.
class Slideshow {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // A whole number from 0 to count - 1.
    using RandomIndex = std::function<std::size_t(std::size_t count)>;

    // systemPath: for the frame overlay (UseMask). random left empty draws from a generator
    // seeded at start.
    Slideshow(std::vector<std::string> paths, SlideshowOptions options, std::string systemPath, Clock clock,
              RandomIndex random = {});
    ~Slideshow();
    Slideshow(const Slideshow&) = delete;
    Slideshow& operator=(const Slideshow&) = delete;

    // Brings current() up to date for a window of this size: true when it changed (the first
    // call, the next picture is due, the size changed). Waits for a picture still decoding.
    bool update(render::PixelSize window);
    const Slide& current() const { return m_current; }
    // How long until update() moves on; zero when it would now.
    std::chrono::milliseconds untilNext() const;
    // Whether the next picture is decoded and placed already.
    bool aheadReady() const;

private:
    struct Prepared {
        Slide slide;
        bool ok = false;
    };
    Prepared prepare(const std::string& path, render::PixelSize size) const;
    void place(Slide& slide, render::PixelSize size) const;
    // The next picture to show.
    std::size_t choose();
    // The picture to try when the one at failed could not be shown, tries pictures into a move.
    std::size_t after(std::size_t failed, std::size_t tries);
    void startAhead(std::size_t index, render::PixelSize size);
    void moveOn(render::PixelSize size);

    std::vector<std::string> m_paths;
    SlideshowOptions m_options;
    std::string m_systemPath;
    Clock m_clock;
    RandomIndex m_random;
    std::size_t m_position = 0;  // the next one in list order
    std::size_t m_last;          // the one shown last (npos before the first)
    bool m_started = false;
    render::PixelSize m_size;
    std::chrono::steady_clock::time_point m_due;
    Slide m_current;
    std::size_t m_aheadIndex = 0;
    render::PixelSize m_aheadSize;
    std::future<Prepared> m_ahead;
};

// The screen saver with a picture per monitor (PicturePerMonitor, on the root window): at each
// interval every monitor moves on to a picture of its own, chosen as the wallpaper's are
// (MonitorPictureChooser: fitting shapes, none twice at once), each converted and placed for
// its monitor. A picture that cannot be read leaves its monitor black for that interval.
class MonitorSlideshow {
public:
    using Clock = Slideshow::Clock;
    using RandomIndex = Slideshow::RandomIndex;

    MonitorSlideshow(const std::vector<std::string>& paths, SlideshowOptions options, std::string systemPath,
                     Clock clock, RandomIndex random = {});
    ~MonitorSlideshow();
    MonitorSlideshow(const MonitorSlideshow&) = delete;
    MonitorSlideshow& operator=(const MonitorSlideshow&) = delete;

    // Brings the slides up to date for these monitors (in monitor order): true when they
    // changed (the first call, the interval is over, the monitors changed).
    bool update(const std::vector<platform::Monitor>& monitors);
    // One slide per monitor, in the order given to update(); one message slide for an empty list.
    const std::vector<Slide>& current() const { return m_current; }
    std::chrono::milliseconds untilNext() const;

private:
    struct State;
    void moveOn();

    std::unique_ptr<State> m_state;
    SlideshowOptions m_options;
    std::string m_systemPath;
    Clock m_clock;
    RandomIndex m_random;
    std::vector<platform::Monitor> m_monitors;
    std::vector<Slide> m_current;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_due;
};

}  // namespace kalidrome::screensaver
