#include "TempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <csignal>
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
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty())
        base = QDir::tempPath() + QStringLiteral("/runtime-") + QString::number(::getuid());
    return base + QStringLiteral("/ostrel-edit");
}

TempFolder::TempFolder()
{
    const QString base = root();
    QDir().mkpath(base);
    QFile::setPermissions(base, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Refuse a root another user could read or write into.
    const QFileInfo info(base);
    if (!info.isDir() || info.ownerId() != ::getuid())
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
    const QDir base(root());
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
