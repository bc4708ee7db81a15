#pragma once

#include <string>

namespace kalidrome::platform {

// Where the System folder lives.
//
// A copy that runs from a folder it may write (the build tree, a portable copy on a USB
// stick) keeps its System folder beside the executable. An installed copy (its data
// under "<prefix>/share/kalidrome", beside the "bin" folder of the executable) and a
// copy whose System folder cannot be written use a per-user folder instead,
// "$XDG_DATA_HOME/kalidrome/System/" (default "~/.local/share/kalidrome/System/"),
// filled on every start with the installed files it is missing (language files, overlay
// bitmaps), so that the user's own changes to them stay.
//
// "Can be written" means: the process may create files in the folder and its owner
// write bit is set. A folder the user made read-only (chmod a-w) counts as read-only
// also for root, as with every file the program replaces.
struct SystemFolderChoice {
    std::string path;          // ends with "/"
    std::string seedFrom;      // a folder whose files the System folder gets when missing; "" for none
    bool perUser = false;      // path is the per-user folder
    // A folder whose programs (the companion screen saver) the System folder gets, and gets
    // again when the folder holds another version; "" for none.
    std::string programsFrom;
};

// The installed data relative to the executable's folder.
inline constexpr const char* kInstalledDataFromBin = "../share/kalidrome";
// The installed helper programs relative to the executable's folder.
inline constexpr const char* kInstalledProgramsFromBin = "../libexec/kalidrome";

// executableFolder without a trailing "/". The per-user folder comes from XDG_DATA_HOME
// (when absolute) or HOME; with neither, the choice stays beside the executable, where
// the first write then tells what went wrong.
SystemFolderChoice ChooseSystemFolder(const std::string& executableFolder);

// "$XDG_DATA_HOME/kalidrome/System/" or "$HOME/.local/share/kalidrome/System/"; "" when
// neither variable holds an absolute path.
std::string PerUserSystemFolder();

// Makes the chosen folder (with its parents, for the per-user one; one level beside the
// executable) and copies in the regular files of seedFrom it does not have yet, folders
// included, never following a symbolic link and never overwriting; then the regular files
// of programsFrom that it lacks or holds another version of (another size or time). Failures are left
// for the first write to report; returns false when the folder is not there afterwards.
bool PrepareSystemFolder(const SystemFolderChoice& choice);

}  // namespace kalidrome::platform
