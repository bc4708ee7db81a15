#pragma once

#include <cctype>
#include <string>

namespace kalidrome::test {

// A test name from a case's description: letters and digits stay, everything else is "_".
inline std::string CaseName(std::string name) {
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace kalidrome::test
