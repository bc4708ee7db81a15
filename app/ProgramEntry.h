#pragma once

namespace kalidrome {

// The program: hands a second start over to the running instance, or runs normally,
// or runs the one-shot cycle. Returns the exit status.
int RunProgram(int argc, char** argv);

}  // namespace kalidrome
