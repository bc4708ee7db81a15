#pragma once

#include <atomic>

namespace kalidrome::render {

// A picture being made can be given up half-way: the thread that makes it names a flag for
// as long as a CancelScope lives, and decoding looks at it as it goes (libjpeg's progress
// calls, each block libpng reads). A set flag ends the decode with a PictureError
// (kCancelled) within a few rows, so that closing the program does not wait for a large
// picture to finish.
class CancelScope {
public:
    explicit CancelScope(const std::atomic<bool>* flag);
    ~CancelScope();
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    const std::atomic<bool>* m_previous;
};

// Whether the flag of this thread's innermost CancelScope is set (false without one).
bool Cancelled();

inline constexpr const char* kCancelled = "given up: the program is closing";

}  // namespace kalidrome::render
