#include "FakeRegistry.h"

#include <cctype>

namespace kalidrome::platform {

std::string FakeRegistry::Slot(std::string_view key, std::string_view name) {
    std::string slot;
    for (const char ch : key) slot += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    slot += '\n';
    for (const char ch : name) slot += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return slot;
}

void FakeRegistry::writeString(std::string_view key, std::string_view name, std::string_view value) {
    if (m_failing) throw std::runtime_error("fake registry: failing");
    m_values[Slot(key, name)] = std::string(value);
    ++m_writes;
}

std::optional<std::string> FakeRegistry::readString(std::string_view key, std::string_view name) const {
    const auto it = m_values.find(Slot(key, name));
    if (it == m_values.end()) return std::nullopt;
    return it->second;
}

void FakeRegistry::deleteValue(std::string_view key, std::string_view name) {
    if (m_failing) throw std::runtime_error("fake registry: failing");
    m_values.erase(Slot(key, name));
}

bool FakeRegistry::valueExists(std::string_view key, std::string_view name) const {
    return m_values.count(Slot(key, name)) != 0;
}

}  // namespace kalidrome::platform
