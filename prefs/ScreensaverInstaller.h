#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kalidrome {

// The companion screen saver's file name, in the System folder and where it is installed.
inline constexpr std::string_view kScreensaverFile = "KDScreensaver";
// The name XScreenSaver's settings list it under.
inline constexpr std::string_view kScreensaverTitle = "KDScreensaver";

// Texts the user sees (translated by the caller: "MainForm" for the main window's command,
// "PrefForm" for the preferences dialog).
inline constexpr std::string_view kScreensaverFailedText = "Could not create the Screensaver. Please reinstall Kalidrome.";
inline constexpr std::string_view kScreensaverDoneText1 = "To enable Kalidrome's Screensaver, go to Control Panel|Display ";
inline constexpr std::string_view kScreensaverDoneText2 = "and choose KDScreensaver from the list.";
inline constexpr std::string_view kScreensaverCreateLabel =
    "Click here to create a new screensaver which cycles through your pictures.";
inline constexpr std::string_view kScreensaverCreateButton = "&Create Screensaver";
inline constexpr std::string_view kScreensaverDeleteLabel = "Click here to delete the Kalidrome screensaver.";
inline constexpr std::string_view kScreensaverDeleteButton = "&Delete Screensaver";

// Where the screen saver comes from and goes to.
struct ScreensaverPaths {
    // The System folder's copy: systemPath + "KDScreensaver".
    std::string source;
    // The installed copy, one per user: "$XDG_DATA_HOME/kalidrome-screensaver/KDScreensaver"
    // (XDG_DATA_HOME when absolute, else "~/.local/share"). Not inside the folder an install
    // to ~/.local gives the program's data, whose files seed the System folder.
    std::string destination;
    // XScreenSaver's per-user settings, "$HOME/.xscreensaver".
    std::string xscreensaverFile;
    // XScreenSaver's installed defaults, whose list of display modes a new programs entry
    // in xscreensaverFile starts from.
    std::string xscreensaverDefaults = "/etc/X11/app-defaults/XScreenSaver";

    // From the environment; destination and xscreensaverFile are empty when HOME (and, for
    // the destination, XDG_DATA_HOME) is not an absolute path.
    static ScreensaverPaths For(const std::string& systemPath);
};

// Installed means exactly: a file (of any kind, a link included) is at the destination.
bool ScreensaverInstalled(const ScreensaverPaths& paths);

enum class InstallResult { Installed, SourceMissing, Failed };

// Installs the screen saver, again over an installed copy: copies the source to a new file
// beside the destination, makes it executable (0755), renames it into place, and lists it in
// XScreenSaver's "programs" setting (once; a listing already there stays). The destination
// never holds a half-written file. When the listing cannot be written, the copy is removed
// again (a new one; one that was there stays), so that "installed" keeps meaning "offered".
// reason, when given, receives the system's text of a failure.
InstallResult InstallScreensaver(const ScreensaverPaths& paths, std::string* reason = nullptr);

// Deletes the destination and then takes the listing out of XScreenSaver's settings.
// Returns false, leaving both, when the file cannot be deleted.
bool RemoveScreensaver(const ScreensaverPaths& paths);

// Installs and says what to tell the user, through translate: on success the two
// information lines joined by a line break; when the source is missing or the copy failed,
// the error text.
struct ScreensaverNotice {
    bool isError = false;
    std::string text;
};
ScreensaverNotice InstallScreensaverAndTell(const ScreensaverPaths& paths,
                                            const std::function<std::string(std::string_view)>& translate);

// XScreenSaver's settings file (".xscreensaver"), changed only in its "programs" entry.
// The entry is one resource: its lines end with a backslash while more follow, and its
// commands are separated by the two characters "\n". Every other byte stays as it was.
namespace xscreensaver {

// The programs line that runs command (an absolute path; quoted for the shell when needed).
std::string ProgramLine(const std::string& command);

// The lines of the programs resource ("*programs:") of XScreenSaver's defaults file after its
// first line, each ending with a line break; empty when there is none.
std::string DefaultProgramLines(const std::string& defaultsContent);

// content with a line for command added at the top of the programs entry. A file without a
// programs entry gets one appended, holding that line and then defaultLines (the modes
// XScreenSaver lists when the user has chosen none), so that the user's list keeps them.
// Unchanged when command is listed already.
std::string AddProgram(const std::string& content, const std::string& command, const std::string& defaultLines = {});

// content without the programs lines that run command; an entry that AddProgram appended
// goes as a whole when nothing but defaultLines is left in it. Removing what AddProgram
// added gives the content back byte for byte.
std::string RemoveProgram(const std::string& content, const std::string& command,
                          const std::string& defaultLines = {});

// Whether the programs entry has a line that runs command.
bool ListsProgram(const std::string& content, const std::string& command);

}  // namespace xscreensaver

}  // namespace kalidrome
