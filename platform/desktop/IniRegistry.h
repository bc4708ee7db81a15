#pragma once

#include "Registry.h"

namespace kalidrome::platform {

// The registry kept as an INI file: one section per key ("[Control Panel\Desktop]"), one
// line per value. The folder is made on the first write.
class IniRegistry final : public Registry {
public:
    explicit IniRegistry(std::string path);

    // $XDG_CONFIG_HOME/kalidrome/registry.ini, with ~/.config when XDG_CONFIG_HOME is unset
    // or not absolute. Empty when neither it nor HOME is known.
    static std::string DefaultPath();

    void writeString(std::string_view key, std::string_view name, std::string_view value) override;
    std::optional<std::string> readString(std::string_view key, std::string_view name) const override;
    void deleteValue(std::string_view key, std::string_view name) override;
    bool valueExists(std::string_view key, std::string_view name) const override;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace kalidrome::platform
