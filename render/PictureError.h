#pragma once

#include <stdexcept>
#include <string>

namespace kalidrome::render {

// A picture that cannot be read, decoded or written. The message says what went wrong in
// words fit for a person.
class PictureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kalidrome::render
