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
// The legal notice of the program's version information.
inline QString legalCopyright()
{
    return QStringLiteral("Copyright (C) 2026 The Ostrel XML Editor developers");
}
} // namespace AppInfo
