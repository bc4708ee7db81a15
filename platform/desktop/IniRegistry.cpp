#include "IniRegistry.h"

#include "IniFile.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kalidrome::platform {

IniRegistry::IniRegistry(std::string path) : m_path(std::move(path)) {}

std::string IniRegistry::DefaultPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return {};
        base = std::string(home) + "/.config";
    }
    return base + "/kalidrome/registry.ini";
}

void IniRegistry::writeString(std::string_view key, std::string_view name, std::string_view value) {
    if (m_path.empty()) throw std::runtime_error("No place to keep registry values");
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path(), ec);
    IniFile(m_path).writeString(key, name, value);
}

std::optional<std::string> IniRegistry::readString(std::string_view key, std::string_view name) const {
    if (m_path.empty()) return std::nullopt;
    IniFile file(m_path);
    if (!file.keyExists(key, name)) return std::nullopt;
    return file.readString(key, name, "");
}

void IniRegistry::deleteValue(std::string_view key, std::string_view name) {
    if (m_path.empty() || !std::filesystem::exists(m_path)) return;
    IniFile(m_path).deleteKey(key, name);
}

bool IniRegistry::valueExists(std::string_view key, std::string_view name) const {
    return !m_path.empty() && IniFile(m_path).keyExists(key, name);
}

}  // namespace kalidrome::platform
