#include "ProgramEntry.h"

int main(int argc, char** argv) { return kalidrome::RunProgram(argc, argv); }
