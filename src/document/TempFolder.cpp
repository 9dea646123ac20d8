#include "TempFolder.h"

#include "PrivateFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

std::atomic<int> g_serial{0};

bool processRuns(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace

QString TempFolder::root()
{
    // Without a runtime folder Qt vouches for, the shared temp folder, where
    // every component below it is checked as well.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString base = runtime.isEmpty() ? QDir::tempPath() : runtime;
    const QString relative = runtime.isEmpty()
        ? QStringLiteral("runtime-%1/ostrel-edit").arg(::getuid())
        : QStringLiteral("ostrel-edit");
    return PrivateFolder::makeOr(base, relative, [] {
        // A fresh folder of this process's own, made once: nobody can have
        // planted a link under a name chosen at random.
        static const QString own = [] {
            QByteArray name = QFile::encodeName(QDir::tempPath()) + "/ostrel-edit-XXXXXX";
            return ::mkdtemp(name.data()) ? QFile::decodeName(name) : QString();
        }();
        return own;
    });
}

TempFolder::TempFolder()
{
    const QString base = root();
    if (base.isEmpty())
        return;
    const QString name = QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-')
        + QString::number(++g_serial);
    const QString folder = base + QLatin1Char('/') + name;
    QDir().rmdir(folder); // a leftover of an earlier process with the same id
    if (QDir(folder).exists())
        QDir(folder).removeRecursively();
    if (QDir().mkdir(folder))
        m_path = folder;
}

TempFolder::~TempFolder()
{
    if (!m_path.isEmpty())
        QDir(m_path).removeRecursively();
}

void TempFolder::removeStale()
{
    const QString path = root();
    if (path.isEmpty())
        return; // an empty path would be the current folder
    const QDir base(path);
    const QStringList entries = base.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const qint64 pid = entry.section(QLatin1Char('-'), 0, 0).toLongLong();
        if (pid != QCoreApplication::applicationPid() && !processRuns(pid))
            QDir(base.filePath(entry)).removeRecursively();
    }
}

QString programFile(const QString &name)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    for (const QString &dir : {programDir, programDir + QStringLiteral("/" OSTREL_DATA_FROM_BIN)}) {
        const QString candidate = dir + QLatin1Char('/') + name;
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return QString();
}
