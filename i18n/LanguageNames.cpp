#include "LanguageNames.h"

#include <algorithm>

#include "LanguageFile.h"

namespace kalidrome {

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::vector<std::string> LanguageNamesFromFiles(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    for (const std::string& path : paths) {
        const std::size_t slash = path.rfind('/');
        std::string_view name(path);
        if (slash != std::string::npos) name.remove_prefix(slash + 1);
        if (name.size() <= lang::kExtension.size() || !name.ends_with(lang::kExtension)) continue;
        name.remove_suffix(lang::kExtension.size());
        names.emplace_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = LowerAscii(a), lb = LowerAscii(b);
        return la != lb ? la < lb : a < b;
    });
    names.erase(std::unique(names.begin(), names.end(),
                            [](const std::string& a, const std::string& b) { return LowerAscii(a) == LowerAscii(b); }),
                names.end());
    return names;
}

std::optional<std::size_t> FindStoredLanguage(const std::vector<std::string>& names, std::string_view stored) {
    const std::string wanted = LowerAscii(stored);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (LowerAscii(names[i]) == wanted) return i;
    return std::nullopt;
}

}  // namespace kalidrome
