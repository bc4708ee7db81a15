#pragma once

#include <stdexcept>
#include <string>

namespace kalidrome::render {

// A picture that cannot be read, decoded or written. The message says what went wrong in
// words fit for a person.
class PictureError : public std::runtime_error {
public:
    // What a user is told about, once per kind, when a change is refused for it.
    enum class Reason { Other, TooLarge, NoSpace };
    explicit PictureError(const std::string& message, Reason reason = Reason::Other)
        : std::runtime_error(message), m_reason(reason) {}
    Reason reason() const { return m_reason; }
    // The same error with " (<path>)" after its message.
    PictureError naming(const std::string& path) const {
        return PictureError(std::string(what()) + " (" + path + ")", m_reason);
    }

private:
    Reason m_reason;
};

}  // namespace kalidrome::render
