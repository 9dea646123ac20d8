#pragma once

#include <QString>
#include <QStringList>

// How the editor was asked to start, read from its arguments.
namespace CommandLine {

// The switch the D-Bus service file passes: start as an automation server,
// with no splash and no window until a client creates one.
inline constexpr char automationSwitch[] = "--automation";

struct StartRequest
{
    bool automation = false;
    // The arguments other than the switch, joined by single blanks.
    QString commandLine;
};

// `arguments` without the program name.
StartRequest parse(const QStringList &arguments);

// The one file path a command line names. A command line starting with a
// double quote loses its first and last character (a lone quote leaves
// nothing); otherwise it is taken whole, blanks included, so an unquoted
// path with blanks still names one file.
QString filePath(const QString &commandLine);

} // namespace CommandLine
