#include "ddecommand.h"

#include <QStandardPaths>

#include <unistd.h>

DdeCommand DdeCommand::parse(const QString &command)
{
    DdeCommand result;
    const qsizetype blank = command.indexOf(QLatin1Char(' '));
    const QStringView verb = blank < 0 ? QStringView(command) : QStringView(command).left(blank);
    if (blank >= 0)
        result.argument = command.mid(blank + 1);

    if (verb == QLatin1String(DdeProtocol::addVerb))
        result.verb = Verb::Add;
    else if (verb == QLatin1String(DdeProtocol::removeVerb))
        result.verb = Verb::Remove;
    else if (verb == QLatin1String(DdeProtocol::tileVerticalVerb))
        result.verb = Verb::TileVertical;
    return result;
}

std::optional<quint32> DdeCommand::parseHandle(const QString &text)
{
    // toUInt() alone would accept a sign and surrounding blanks; the handle is
    // also the entry's key, so only the plain form is allowed.
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const quint32 value = text.toUInt(&ok);
    if (!ok || value == 0)
        return std::nullopt;
    return value;
}

QString DdeProtocol::serverName()
{
    const QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtimeDir.isEmpty())
        return runtimeDir + QLatin1String("/OstrelEditDDE");
    return QLatin1String("OstrelEditDDE-") + QString::number(::getuid());
}

QByteArray DdeProtocol::encodeLine(const QString &command)
{
    return command.toUtf8() + '\n';
}
