#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The command protocol between editor windows and the window coordinator.
//
// A client connects to the coordinator's local socket (serverName()) and sends
// one command per line, UTF-8, terminated by "\n". The coordinator answers
// each command with exactly one line, "OK" or "REFUSED", in the order the
// commands arrived on that connection.
//
// Commands:
//   "ADD <handle>"     register an editor window (decimal window id)
//   "REMOVE <handle>"  unregister it
//   "TILE_VERTICAL"    arrange all registered windows as side-by-side columns
// Anything else is refused.
struct DdeCommand
{
    enum class Verb { Unknown, Add, Remove, TileVertical };

    Verb verb = Verb::Unknown;
    // Everything after the first blank; may itself contain blanks. Empty when
    // the command has no blank.
    QString argument;

    // Splits at the first single space (no other white space counts); the
    // text before it is the verb, compared exactly and case-sensitively. A
    // command starting with a blank therefore has an empty, unknown verb.
    static DdeCommand parse(const QString &command);

    // A window handle as the protocol carries it: plain ASCII decimal digits,
    // no sign or blanks, naming a non-zero 32-bit window id.
    static std::optional<quint32> parseHandle(const QString &text);
};

namespace DdeProtocol {

inline constexpr char addVerb[] = "ADD";
inline constexpr char removeVerb[] = "REMOVE";
inline constexpr char tileVerticalVerb[] = "TILE_VERTICAL";

inline constexpr char okAnswer[] = "OK";
inline constexpr char refusedAnswer[] = "REFUSED";

// Lines longer than this are never sent by an editor; the coordinator drops a
// client that sends one rather than buffer without bound.
inline constexpr int maxLineLength = 4096;

// The per-user local-socket name of the coordinator: "OstrelEditDDE" in the
// user's private runtime folder (XDG_RUNTIME_DIR), so every process of one
// user finds the same coordinator and other users cannot reach it. Without a
// runtime folder it falls back to a name carrying the user id, which
// QLocalServer places in the temp folder.
QString serverName();

// One command as it goes over the wire: UTF-8 plus the line end.
QByteArray encodeLine(const QString &command);

} // namespace DdeProtocol
