#include "HackArguments.h"

#include <cerrno>
#include <cstdlib>

namespace kalidrome::screensaver {

bool ParseWindowId(const std::string& text, unsigned long& id) {
    if (text.empty() || text.front() == '-' || text.front() == '+' || text.front() == ' ') return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    if (errno != 0 || end == text.c_str() + (hex ? 2 : 0) || *end != '\0' || value == 0 || value > 0xFFFFFFFFul)
        return false;
    id = value;
    return true;
}

HackArguments ParseHackArguments(const std::vector<std::string>& arguments, const char* xscreensaverWindow) {
    HackArguments result;
    enum class Choice { None, Root, Window, WindowId } choice = Choice::None;
    auto fail = [](std::string why) {
        HackArguments failed;
        failed.error = std::move(why);
        return failed;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string option = arguments[i];
        if (option.rfind("--", 0) == 0) option.erase(0, 1);
        if (option == "-root") {
            choice = Choice::Root;
        } else if (option == "-window") {
            choice = Choice::Window;
        } else if (option == "-window-id" || option == "-display") {
            if (i + 1 >= arguments.size()) return fail(arguments[i] + " needs a value");
            const std::string& value = arguments[++i];
            if (option == "-display") {
                result.display = value;
            } else {
                if (!ParseWindowId(value, result.windowId)) return fail("not a window ID: " + value);
                choice = Choice::WindowId;
            }
        } else {
            return fail("unknown option " + arguments[i]);
        }
    }
    unsigned long fromEnvironment = 0;
    const bool hasEnvironment = xscreensaverWindow && ParseWindowId(xscreensaverWindow, fromEnvironment);
    switch (choice) {
        case Choice::WindowId: result.target = HackArguments::Target::Window; break;
        case Choice::Window: result.target = HackArguments::Target::OwnWindow; break;
        case Choice::Root:
        case Choice::None:
            if (hasEnvironment) {
                result.target = HackArguments::Target::Window;
                result.windowId = fromEnvironment;
            } else {
                result.target = choice == Choice::Root ? HackArguments::Target::Root : HackArguments::Target::OwnWindow;
            }
            break;
    }
    return result;
}

}  // namespace kalidrome::screensaver
