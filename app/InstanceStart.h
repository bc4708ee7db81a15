#pragma once

// What the program entry hands to the window part of the program once it has decided to
// run as the instance. The window part is a module of its own (kalidrome-ui.so, loaded
// only then), so that a start that hands its request over and ends never loads the
// toolkit: the interface is plain C, and no object of one side is used by the other.
extern "C" {

struct KalidromeInstanceStart {
    int argc;
    char** argv;
    const char* systemPath;     // the System folder, ending with "/"
    const char* firstArgument;  // "" when there is none
    // Lets go of the start lock (held from the decision to run); called once this run is
    // recorded in Startup.ini, or when it could not be.
    void (*releaseStartLock)(void* context);
    void* lockContext;
};

// The module's entry point; returns the exit status.
typedef int (*KalidromeRunInstance)(const KalidromeInstanceStart* start);
}

namespace kalidrome {

// The module's file name and the name of its entry point.
inline constexpr const char* kWindowModuleName = "kalidrome-ui.so";
inline constexpr const char* kRunInstanceSymbol = "kalidrome_run_instance";

}  // namespace kalidrome
