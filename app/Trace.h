#pragma once

namespace kalidrome::ui {

// Appends one line to the file named by KALIDROME_TRACE, when that is set. Whole-program
// tests read it to see what a running instance did (window shown, dialog opened, ...).
void TraceEvent(const char* event);

}  // namespace kalidrome::ui
