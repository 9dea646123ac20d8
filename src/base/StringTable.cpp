#include "StringTable.h"

#include "Resources.h"

#include <QFile>
#include <QHash>

namespace {

// resources/strings.txt: one entry per line, "number<TAB>text"; "\n" in a
// text stands for a line break.
QHash<int, QString> loadTable()
{
    ensureResources();
    QHash<int, QString> table;
    QFile file(QStringLiteral(":/strings.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return table;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int tab = int(line.indexOf(QLatin1Char('\t')));
        if (tab <= 0 || line.startsWith(QLatin1Char('#')))
            continue;
        bool ok = false;
        const int id = line.left(tab).toInt(&ok);
        if (ok)
            table.insert(id, line.mid(tab + 1).replace(QLatin1String("\\n"), QLatin1String("\n")));
    }
    return table;
}

} // namespace

QString resourceString(int id)
{
    static const QHash<int, QString> table = loadTable();
    return table.value(id);
}

QString GetResString(int n)
{
    return resourceString(1000 + n);
}
