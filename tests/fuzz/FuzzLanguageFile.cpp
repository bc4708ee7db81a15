// Reads arbitrary bytes as a language file. Lookups never fail, an answer is bounded by
// the value limit, and the answers the cache keeps agree with a fresh read of the file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzScratch.h"
#include "IniFile.h"
#include "LanguageFile.h"
#include "Translator.h"

using namespace kalidrome;

namespace {

// Far from every file stamp: the cache is trusted.
std::int64_t LongAfter() { return std::int64_t{1} << 40; }

// Texts the program looks up, and up to 8 keys the file itself names.
std::vector<std::string> Keys(std::string_view file) {
    std::vector<std::string> keys = {"&File", "C&lose      ", "There are ", " files listed:", "&Cycle!", "Filename",
                                     "Path", "S&how", "&Hide", ""};
    while (!file.empty() && keys.size() < 18) {
        const std::size_t nl = file.find('\n');
        const std::string_view line = file.substr(0, nl);
        const std::size_t eq = line.find('=');
        if (eq != std::string_view::npos) keys.emplace_back(line.substr(0, eq));
        if (nl == std::string_view::npos) break;
        file.remove_prefix(nl + 1);
    }
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string system = fuzz::ScratchFolder() + "/";
    fuzz::WriteScratchFile(LanguageFilePath(system, "Fuzz"), data, size);

    Translator translator(system);
    translator.SetCurrentLanguage("Fuzz");
    LanguageFile cached(LanguageFilePath(system, "Fuzz"), &LongAfter);
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    for (const std::string& key : Keys(file)) {
        for (std::string_view section : {lang::kMainForm, lang::kPrefForm}) {
            const std::string translated = translator.Translate(key, section);
            if (translated.size() > 4 * IniFile::kMaxValueChars && translated != key) std::abort();
            const std::string first = cached.lookup(key, section);
            const std::string again = cached.lookup(key, section);
            if (first != again) std::abort();
            if (first != LanguageFile(LanguageFilePath(system, "Fuzz"), &LongAfter).lookup(key, section)) std::abort();
            if (!first.empty() && translated != first) std::abort();
            if (first.empty() && translated != key) std::abort();
        }
    }
    return 0;
}
