#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalidrome {

// Appends one code point (up to U+10FFFF) in UTF-8.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Windows-1252 text as UTF-8. The five bytes that code page leaves unassigned (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) become the C1 controls of the same number, as Windows maps them.
std::string Windows1252ToUtf8(std::string_view bytes);

}  // namespace kalidrome
