#pragma once

#include <QString>

namespace AppInfo {
// The application title: window captions, message box captions.
inline QString title()
{
    return QStringLiteral("Ostrel XML Editor");
}
inline QString version()
{
    return QStringLiteral(OSTREL_VERSION);
}
} // namespace AppInfo
