#include "CommandLine.h"

#include "AppInfo.h"
#include "base/StringTable.h"

#include <algorithm>
#include <iterator>

namespace CommandLine {

namespace {

// The options QApplication and its platform plugins take themselves, by
// name without dashes (Qt accepts one or two); the first ones take a value
// in the next word.
constexpr const char *kQtValueOptions[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "geometry", "title", "icon", "session", "style", "stylesheet", "display", "name", "visual"};
constexpr const char *kQtFlagOptions[] = {"reverse", "testability", "nograb", "dograb", "widgetcount", "sync"};
// Qt's options also written as -name=value.
constexpr const char *kQtJoinedOptions[] = {"style=", "stylesheet=", "qmljsdebugger="};

bool isOneOf(const QString &name, const auto &names)
{
    return std::any_of(std::begin(names), std::end(names),
                       [&name](const char *candidate) { return name == QLatin1String(candidate); });
}

bool startsWithOneOf(const QString &name, const auto &prefixes)
{
    return std::any_of(std::begin(prefixes), std::end(prefixes),
                       [&name](const char *prefix) { return name.startsWith(QLatin1String(prefix)); });
}

QString usage()
{
    return resourceString(3001);
}

} // namespace

StartRequest parse(const QStringList &arguments)
{
    using Action = StartRequest::Action;
    StartRequest request;
    QStringList rest;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || argument.size() < 2 || !argument.startsWith(QLatin1Char('-'))) {
            rest.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String(automationSwitch)) {
            request.automation = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            request.action = Action::Help;
            return request;
        } else if (argument == QLatin1String("--version")) {
            request.action = Action::Version;
            return request;
        } else {
            const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
            if (isOneOf(name, kQtValueOptions)) {
                if (i + 1 == arguments.size()) {
                    request.action = Action::BadOption;
                    request.badOption = argument;
                    return request;
                }
                if (name == QLatin1String("platform"))
                    request.platform = arguments.at(i + 1);
                else if (name == QLatin1String("display"))
                    request.display = arguments.at(i + 1);
                ++i;
            } else if (!isOneOf(name, kQtFlagOptions) && !startsWithOneOf(name, kQtJoinedOptions)) {
                request.action = Action::BadOption;
                request.badOption = argument;
                return request;
            }
        }
    }
    request.commandLine = rest.join(QLatin1Char(' '));
    return request;
}

std::optional<Answer> answerWithoutStarting(const StartRequest &request)
{
    using Action = StartRequest::Action;
    switch (request.action) {
    case Action::Start:
        break;
    case Action::Help:
        return Answer{0, usage(), {}};
    case Action::Version:
        return Answer{0, AppInfo::title() + QLatin1Char(' ') + AppInfo::version() + QLatin1Char('\n'), {}};
    case Action::BadOption:
        return Answer{2, {}, resourceString(3002).arg(request.badOption) + QLatin1Char('\n') + usage()};
    }
    return std::nullopt;
}

QString filePath(const QString &commandLine)
{
    if (commandLine.startsWith(QLatin1Char('"')))
        return commandLine.mid(1).chopped(commandLine.size() > 1 ? 1 : 0);
    return commandLine;
}

} // namespace CommandLine
