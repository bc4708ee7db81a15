#pragma once

#include <string>

namespace kalidrome::platform {

// Starting the program with the user's session: the Linux stand-in for the "Run" value.
class Autostart {
public:
    virtual ~Autostart() = default;
    // False when the place for autostart entries cannot be opened at all.
    virtual bool available() const = 0;
    virtual bool isEnabled() const = 0;
    // Registers executablePath to start with the session.
    virtual bool enable(const std::string& executablePath) = 0;
    virtual bool disable() = 0;
};

// An XDG autostart entry, $XDG_CONFIG_HOME/autostart/kalidrome.desktop (default
// ~/.config/autostart), whose Exec line is the executable's full path in double quotes.
// The value "exists" exactly when that file exists, whoever wrote it.
class XdgAutostart final : public Autostart {
public:
    XdgAutostart();
    explicit XdgAutostart(std::string entryPath);

    const std::string& entryPath() const { return m_entryPath; }
    bool available() const override;
    bool isEnabled() const override;
    bool enable(const std::string& executablePath) override;
    bool disable() override;

    // The Exec value for a path: quoted and escaped as desktop entries require.
    static std::string ExecLine(const std::string& executablePath);

private:
    std::string m_entryPath;
};

}  // namespace kalidrome::platform
