#include "Trace.h"

#include <cstdio>
#include <cstdlib>

namespace kalidrome::ui {

void TraceEvent(const char* event) {
    static const char* path = std::getenv("KALIDROME_TRACE");
    if (!path || !*path) return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", event);
        std::fclose(f);
    }
}

}  // namespace kalidrome::ui
