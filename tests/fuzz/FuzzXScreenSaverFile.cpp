// Reads arbitrary bytes as XScreenSaver's settings file and lists and unlists the companion.
// Nothing fails; once added the companion is listed, once removed it is not, and removing
// what was added gives the file back (with line breaks after it where its last line went
// on into the next).
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "ScreensaverInstaller.h"

using namespace kalidrome;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    const std::string command = "/home/u/.local/share/kalidrome-screensaver/KDScreensaver";
    const std::string defaults = "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n\t\t\t\tqix --root\t\t\t\t    \\n\n";
    namespace xss = xscreensaver;
    const bool listed = xss::ListsProgram(file, command);
    std::string added;
    try {
        added = xss::AddProgram(file, command, defaults);
    } catch (const std::invalid_argument&) {
        return 0;  // refused, as a file no list can be added to
    }
    Check(xss::ListsProgram(added, command));
    const std::string removed = xss::RemoveProgram(added, command, defaults);
    Check(!xss::ListsProgram(removed, command));
    // A file whose last resource is the one installing appends loses it as a whole.
    const std::string seeded = "programs:\t\t\\\n" + defaults;
    if (!listed && !file.ends_with(seeded))
        Check(removed.starts_with(file) && removed.find_first_not_of('\n', file.size()) == std::string::npos);
    (void)xss::ListedPrograms(file);
    (void)xss::SelectedMode(file);
    return 0;
}
