#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// How the editor was asked to start, read from its arguments.
namespace CommandLine {

// The switch the D-Bus service file passes: start as an automation server,
// with no splash and no window until a client creates one.
inline constexpr char automationSwitch[] = "--automation";

struct StartRequest
{
    enum class Action {
        Start,     // start the editor
        Help,      // print the usage, exit 0
        Version,   // print the program's name and version, exit 0
        BadOption, // print what was wrong and the usage, exit 2
    };
    Action action = Action::Start;
    bool automation = false;
    // The arguments other than options, joined by single blanks.
    QString commandLine;
    // What Qt's own -platform and -display options name; empty when not given.
    QString platform;
    QString display;
    // The unknown option, or Qt's option that lacks its value (BadOption).
    QString badOption;
};

// `arguments` without the program name, as the process got them: Qt's own
// options (-platform NAME, -style NAME, -reverse, ...) are passed over and
// left for Qt. A word starting with "-" that is none of these is an unknown
// option; after "--" every word belongs to the file path.
StartRequest parse(const QStringList &arguments);

// What the program prints and returns instead of starting, for a request
// that does not start it; nullopt for one that does.
struct Answer
{
    int exitCode = 0;
    QString out; // for standard output
    QString err; // for standard error
};
std::optional<Answer> answerWithoutStarting(const StartRequest &request);

// The one file path a command line names. A command line starting with a
// double quote loses its first and last character (a lone quote leaves
// nothing); otherwise it is taken whole, blanks included, so an unquoted
// path with blanks still names one file.
QString filePath(const QString &commandLine);

} // namespace CommandLine
