#include "CommandLine.h"

namespace CommandLine {

StartRequest parse(const QStringList &arguments)
{
    StartRequest request;
    QStringList rest;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String(automationSwitch))
            request.automation = true;
        else
            rest.append(argument);
    }
    request.commandLine = rest.join(QLatin1Char(' '));
    return request;
}

QString filePath(const QString &commandLine)
{
    if (commandLine.startsWith(QLatin1Char('"')))
        return commandLine.mid(1).chopped(commandLine.size() > 1 ? 1 : 0);
    return commandLine;
}

} // namespace CommandLine
