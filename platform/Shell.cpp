#include "Shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace kalidrome::platform {

void OpenWithDefaultHandler(const QString& fileOrUrl) {
    QUrl url = fileOrUrl.startsWith('/') ? QUrl::fromLocalFile(fileOrUrl) : QUrl(fileOrUrl);
    QDesktopServices::openUrl(url);
}

}  // namespace kalidrome::platform
