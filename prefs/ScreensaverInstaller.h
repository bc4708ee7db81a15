#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// What Linux users are told instead of kScreensaverDoneText1 (kScreensaverDoneText2 follows it).
inline constexpr std::string_view kScreensaverDoneLinuxText1 =
    "To enable Kalidrome's Screensaver, open XScreenSaver's settings (xscreensaver-settings)";
inline constexpr std::string_view kScreensaverNoXScreenSaverText =
    "XScreenSaver is not installed. Please install the package xscreensaver, then create the Screensaver again.";
// Followed by a line break and the file with the system's reason.
inline constexpr std::string_view kScreensaverCannotCreateText = "Could not create the Screensaver:";
inline constexpr std::string_view kScreensaverCannotDeleteText = "Could not delete the Screensaver:";
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
    // XScreenSaver's daemon, found on PATH; empty when XScreenSaver is not installed.
    std::string xscreensaverProgram;

    // From the environment; destination and xscreensaverFile are empty when HOME (and, for
    // the destination, XDG_DATA_HOME) is not an absolute path.
    static ScreensaverPaths For(const std::string& systemPath);
};

// Installed means exactly: a file (of any kind, a link included) is at the destination.
bool ScreensaverInstalled(const ScreensaverPaths& paths);

enum class InstallResult { Installed, SourceMissing, XScreenSaverMissing, Failed };

// Installs the screen saver, again over an installed copy: copies the source to a new file
// beside the destination, makes it executable (0755), renames it into place, and lists it in
// XScreenSaver's "programs" setting (once; a listing already there stays). The destination
// never holds a half-written file. When the listing cannot be written, the copy is removed
// again (a new one; one that was there stays), so that "installed" keeps meaning "offered".
// Nothing is done when XScreenSaver is not installed. reason, when given, receives the file
// and the system's text of a failure ("<file>: <text>").
InstallResult InstallScreensaver(const ScreensaverPaths& paths, std::string* reason = nullptr);

// Takes the listing out of XScreenSaver's settings and then deletes the destination.
// Returns false when either cannot be done: a listing that cannot be taken out leaves the
// copy too, so that what XScreenSaver offers can still run. reason as for installing.
bool RemoveScreensaver(const ScreensaverPaths& paths, std::string* reason = nullptr);

// Installs (or removes) and says what to tell the user, through translate: on success the
// two information lines joined by a line break (nothing for a removal); on failure the
// error text, with the file and the reason where there is one.
struct ScreensaverNotice {
    bool isError = false;
    std::string text;
};
ScreensaverNotice InstallScreensaverAndTell(const ScreensaverPaths& paths,
                                            const std::function<std::string(std::string_view)>& translate);
ScreensaverNotice RemoveScreensaverAndTell(const ScreensaverPaths& paths,
                                           const std::function<std::string(std::string_view)>& translate);

// XScreenSaver's settings file (".xscreensaver"), read as XScreenSaver reads it: a line
// ending with a backslash goes on in the next one, "\n" separates the commands of the
// "programs" resource, and where a resource is given more than once the last one counts.
// Editing changes only the companion's entry of the last "programs" resource and the number
// of "selected:" (a position in that list: the mode "Only One Screen Saver" runs); every
// other byte stays as it was.
namespace xscreensaver {

// The entry that runs command (an absolute path, quoted for the shell when needed), as
// XScreenSaver writes it but on one line and without the separator.
std::string ProgramLine(const std::string& command);

// The lines of the programs resource ("*programs:") of XScreenSaver's defaults file after its
// first line, each ending with a line break; empty when there is none.
std::string DefaultProgramLines(const std::string& defaultsContent);

// content with command's entry appended to the last programs resource, so that no mode
// moves; "selected:" is raised by one where it names a mode that XScreenSaver adds behind
// the file's list (from its defaults). A file without a programs resource gets one appended,
// holding defaultLines (the modes XScreenSaver lists when the user has chosen none) and then
// command. Unchanged when command is listed already.
std::string AddProgram(const std::string& content, const std::string& command, const std::string& defaultLines = {});

// content without the entries that run command, however XScreenSaver has wrapped them;
// "selected:" keeps naming the same mode, or -1 (none) where it named ours. A resource that
// AddProgram appended goes as a whole when nothing but defaultLines is left in it. Removing
// what AddProgram added gives the content back byte for byte.
std::string RemoveProgram(const std::string& content, const std::string& command,
                          const std::string& defaultLines = {});

// Whether the last programs resource has an entry that runs command.
bool ListsProgram(const std::string& content, const std::string& command);

// The programs the entries of the last programs resource run, in XScreenSaver's order.
std::vector<std::string> ListedPrograms(const std::string& content);

// The number of the last "selected:" resource; none when there is none or it is no number.
std::optional<long> SelectedMode(const std::string& content);

}  // namespace xscreensaver

}  // namespace kalidrome
