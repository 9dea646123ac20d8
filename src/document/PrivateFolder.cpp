#include "PrivateFolder.h"

#include "base/StringTable.h"

#include <QFile>
#include <QMutex>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFolder {

QString make(const QString &base, const QString &relative, QString *refused)
{
    int dir = ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return {};
    QString path = base;
    for (const QString &name : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + name;
        const QByteArray entry = QFile::encodeName(name);
        if (::mkdirat(dir, entry.constData(), 0700) != 0 && errno != EEXIST) {
            ::close(dir);
            return {};
        }
        const int next = ::openat(dir, entry.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(dir);
        dir = next;
        struct stat st{};
        if (dir < 0 || ::fstat(dir, &st) != 0 || st.st_uid != ::geteuid()
            || ((st.st_mode & 0777) != 0700 && ::fchmod(dir, 0700) != 0)) {
            // A link (ELOOP), a file (ENOTDIR) or another user's folder.
            if (refused && (dir >= 0 || errno == ELOOP || errno == ENOTDIR))
                *refused = path;
            if (dir >= 0)
                ::close(dir);
            return {};
        }
    }
    ::close(dir);
    return path;
}

QString makeOr(const QString &base, const QString &relative, const std::function<QString()> &fallback)
{
    QString refused;
    const QString path = make(base, relative, &refused);
    if (!path.isEmpty() || refused.isEmpty())
        return path;
    const QString other = fallback();
    static QMutex mutex;
    static QSet<QString> warned;
    const QMutexLocker lock(&mutex);
    if (!warned.contains(refused)) {
        warned.insert(refused);
        const QString line = resourceString(3031).arg(refused, other.isEmpty() ? resourceString(3032) : other);
        std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
    }
    return other;
}

} // namespace PrivateFolder
