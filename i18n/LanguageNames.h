#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalidrome {

// Lower case as the stored language choice uses it: only the letters A to Z change.
std::string LowerAscii(std::string_view text);

// The languages of the "Set &Language" menu from the paths of the language files found in
// the System folder (any order): each file's name without ".lng". Names come sorted
// without regard to letter case (ties in byte order, so "English" before "english"), and
// names that differ only in letter case give one entry, the first in that order. A file
// whose extension is not exactly ".lng" (say "Deutsch.LNG") is left out, since applying
// a language opens "<name>.lng"; so are names that are empty.
std::vector<std::string> LanguageNamesFromFiles(const std::vector<std::string>& paths);

// The position of the language the stored choice names: the first name equal to it when
// both are lower-cased, or none.
std::optional<std::size_t> FindStoredLanguage(const std::vector<std::string>& names, std::string_view stored);

}  // namespace kalidrome
