#include "ImageList.h"

#include "base/Resources.h"

#include <QFile>
#include <QHash>

QIcon ImageList::icon(const QString &key)
{
    // Rendered once per key and process; a tree shows thousands of them.
    ensureResources();
    static QHash<QString, QIcon> cache;
    auto it = cache.find(key);
    if (it == cache.end()) {
        const QString path = QStringLiteral(":/icons/") + key + QStringLiteral(".svg");
        it = cache.insert(key, QFile::exists(path) ? QIcon(path) : QIcon());
    }
    return it.value();
}

bool ImageList::has(const QString &key)
{
    ensureResources();
    return QFile::exists(QStringLiteral(":/icons/") + key + QStringLiteral(".svg"));
}
