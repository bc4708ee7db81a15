#pragma once

#include <cstdint>
#include <string>

namespace kalidrome::platform {

// Full path of the running executable ("/proc/self/exe").
std::string ExecutablePath();

// The folder holding the executable, without a trailing separator.
std::string ExecutableFolder();

// The System folder beside the executable, always ending with "/".
std::string SystemFolderPath();

// Identifies this running instance to later starts (its process id).
std::int64_t CurrentHandle();

// True when a process with this id runs and is a start of this same executable (its
// /proc/<pid>/exe leads to ExecutablePath()). False for ids that cannot be processes.
bool ProcessRunsThisProgram(std::int64_t pid);

bool FileExists(const std::string& path);

// Creates one folder level; returns false when it neither exists nor could be made.
bool MakeFolder(const std::string& path);

}  // namespace kalidrome::platform
