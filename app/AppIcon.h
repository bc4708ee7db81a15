#pragma once

#include <QIcon>

namespace kalidrome {

// The application's icon, drawn at start: a small kaleidoscope of coloured wedges.
QIcon ApplicationIcon();

}  // namespace kalidrome
