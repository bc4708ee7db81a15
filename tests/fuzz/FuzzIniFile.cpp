// Reads and rewrites arbitrary bytes as an INI file. The input is the file, optionally
// followed by a NUL byte and "section\nkey\nvalue" naming what to read and write.
// Whatever the file holds, a written key reads back as written, a key beside it keeps
// its value, the other keys of the section stay listed, and a second handle sees the
// same as the first.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzScratch.h"
#include "IniFile.h"

using namespace kalidrome;

namespace {

// Names and values the writer can store faithfully: letters and digits only (a name
// with "=", "[" or outer blanks, or a value with quotes, reads back differently by
// design).
std::string Plain(std::string_view s, std::string_view fallback) {
    std::string out;
    for (char c : s)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out.push_back(c);
    if (out.size() > 64) out.resize(64);
    return out.empty() ? std::string(fallback) : out;
}

std::vector<std::string_view> SplitLines(std::string_view s) {
    std::vector<std::string_view> parts;
    while (parts.size() < 3) {
        std::size_t nl = s.find('\n');
        parts.push_back(s.substr(0, nl));
        if (nl == std::string_view::npos) break;
        s.remove_prefix(nl + 1);
    }
    while (parts.size() < 3) parts.emplace_back();
    return parts;
}

bool Contains(const std::vector<std::string>& names, std::string_view name) {
    for (const auto& n : names)
        if (EqualsNoCase(n, name)) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.rfind('\0');
    const std::string_view fileBytes = nul == std::string_view::npos ? input : input.substr(0, nul);
    const auto names = SplitLines(nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1));
    const std::string section = Plain(names[0], "Options");
    const std::string key = Plain(names[1], "List");
    const std::string value = Plain(names[2], "1");

    const std::string path = fuzz::ScratchFolder() + "/Settings.ini";
    fuzz::WriteScratchFile(path, reinterpret_cast<const std::uint8_t*>(fileBytes.data()), fileBytes.size());

    IniFile ini(path);
    const std::vector<std::string> keysBefore = ini.readSectionKeys(section);
    for (const std::string& k : keysBefore) {
        // Every listed key exists and reads within the length bound.
        if (!ini.keyExists(section, k)) std::abort();
        if (ini.readString(section, k, "").size() > 4 * IniFile::kMaxValueChars) std::abort();
        (void)ini.readInteger(section, k, 7);
    }
    // A neighbour: the first listed key that is not the one written.
    std::string neighbour;
    for (const std::string& k : keysBefore)
        if (!EqualsNoCase(k, key)) {
            neighbour = k;
            break;
        }
    const std::string neighbourBefore = neighbour.empty() ? "" : ini.readString(section, neighbour, "");

    try {
        ini.writeString(section, key, value);
    } catch (const IniWriteError&) {
        return 0;  // a full scratch folder; nothing to check
    }
    if (ini.readString(section, key, "\x01") != value) std::abort();
    if (IniFile(path).readString(section, key, "\x01") != value) std::abort();
    if (!neighbour.empty() && ini.readString(section, neighbour, "\x01") != neighbourBefore) std::abort();
    const std::vector<std::string> keysAfter = ini.readSectionKeys(section);
    for (const std::string& k : keysBefore)
        if (!Contains(keysAfter, k)) std::abort();
    if (!Contains(keysAfter, key)) std::abort();

    ini.writeInteger(section, key, -12345);
    if (ini.readInteger(section, key, 0) != -12345) std::abort();
    ini.deleteKey(section, key);
    ini.eraseSection(section);
    (void)ini.sectionExists(section);
    return 0;
}
