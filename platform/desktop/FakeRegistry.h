#pragma once

#include "Registry.h"

#include <map>
#include <stdexcept>

namespace kalidrome::platform {

// In-memory registry for tests. Names compare without regard to ASCII letter case, as in
// the real one; setFailing makes writes throw, as a read-only configuration folder does.
class FakeRegistry final : public Registry {
public:
    void writeString(std::string_view key, std::string_view name, std::string_view value) override;
    std::optional<std::string> readString(std::string_view key, std::string_view name) const override;
    void deleteValue(std::string_view key, std::string_view name) override;
    bool valueExists(std::string_view key, std::string_view name) const override;

    void setFailing(bool failing) { m_failing = failing; }
    std::size_t writeCount() const { return m_writes; }

private:
    static std::string Slot(std::string_view key, std::string_view name);

    std::map<std::string, std::string> m_values;
    bool m_failing = false;
    std::size_t m_writes = 0;
};

}  // namespace kalidrome::platform
