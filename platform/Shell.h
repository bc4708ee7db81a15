#pragma once

#include <QString>

namespace kalidrome::platform {

// Opens a file or an address with the desktop's default handler; failures are not reported.
void OpenWithDefaultHandler(const QString& fileOrUrl);

}  // namespace kalidrome::platform
