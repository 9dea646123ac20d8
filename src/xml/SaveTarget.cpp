#include "SaveTarget.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace savetarget {

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

QString writeError(const QString &path, const QString &reason)
{
    return QStringLiteral("ファイルに書き込めません: %1 (%2)").arg(path, reason);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// The file a save to `path` reaches, links followed; false when none is there.
bool statTarget(const QString &path, struct stat *st)
{
    return ::stat(QFile::encodeName(path).constData(), st) == 0;
}

bool inGroup(gid_t gid)
{
    if (gid == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        for (gid_t g : groups)
            if (g == gid)
                return true;
    return false;
}

// Whether a new file of this process may be given the owner and group of `st`.
bool mayGiveOwnership(const struct stat &st)
{
    if (::geteuid() == 0)
        return true;
    return st.st_uid == ::geteuid() && inGroup(st.st_gid);
}

// A file in a folder this process may not add to cannot be replaced, but
// may still be writable itself.
bool folderRefusesNewFiles(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(QFileInfo(path).canonicalFilePath()).absolutePath());
    return ::access(folder.constData(), W_OK) != 0 && ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

bool inPlace(const QString &path, const struct stat &st)
{
    return S_ISREG(st.st_mode) && (st.st_nlink > 1 || !mayGiveOwnership(st) || folderRefusesNewFiles(path));
}

// 0, or the error that stopped the write. Qt's buffered write would take a
// short write for success (a size limit, say) and leave a truncated file.
int writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            return errno;
        if (n > 0)
            done += n;
    }
    return 0;
}

// Writes over the file's content. Room for a longer content is reserved
// first, so a full disk or a size limit fails before anything is changed.
bool writeInPlace(const QString &path, const QByteArray &bytes, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(error, writeError(path, systemError(errno)));
    struct stat st;
    int code = ::fstat(fd, &st) == 0 ? 0 : errno;
    if (code == 0 && bytes.size() > st.st_size) {
        code = ::posix_fallocate(fd, st.st_size, off_t(bytes.size() - st.st_size));
        if (code == EOPNOTSUPP || code == EINVAL)
            code = 0; // no reservation on this file system; write all the same
        if (code != 0) {
            const int ignored = ::ftruncate(fd, st.st_size);
            (void)ignored;
        }
    }
    if (code == 0)
        code = writeAll(fd, bytes);
    if (code == 0 && (::ftruncate(fd, off_t(bytes.size())) != 0 || ::fsync(fd) != 0))
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    return code == 0 || fail(error, writeError(path, systemError(code)));
}

// A temporary file renamed over the target; an existing target's owner,
// group and mode are given to it first. False in `ownerKept` when the owner
// could not be given after all, and nothing was written.
bool replace(const QString &path, const QByteArray &bytes, const struct stat *old, bool *ownerKept, QString *error)
{
    *ownerKept = true;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(error, writeError(path, file.errorString()));
    const int fd = file.handle();
    if (old) {
        // Giving a file away clears its set-id bits, so the mode comes after.
        if ((old->st_uid != ::geteuid() || old->st_gid != ::getegid()) && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
            file.cancelWriting();
            *ownerKept = false;
            return false;
        }
        if (::fchmod(fd, old->st_mode & 07777) != 0) {
            const int code = errno;
            file.cancelWriting();
            return fail(error, writeError(path, systemError(code)));
        }
    }
    if (const int code = writeAll(fd, bytes); code != 0 || ::fsync(fd) != 0) {
        const QString reason = systemError(code != 0 ? code : errno);
        file.cancelWriting();
        return fail(error, writeError(path, reason));
    }
    if (!file.commit())
        return fail(error, writeError(path, file.errorString()));
    return true;
}

} // namespace

QString refusal(const QString &path)
{
    struct stat st;
    if (!statTarget(path, &st) || S_ISREG(st.st_mode))
        return QString();
    QString what;
    if (S_ISDIR(st.st_mode))
        what = QStringLiteral("フォルダー");
    else if (S_ISCHR(st.st_mode))
        what = QStringLiteral("キャラクター デバイス");
    else if (S_ISBLK(st.st_mode))
        what = QStringLiteral("ブロック デバイス");
    else if (S_ISFIFO(st.st_mode))
        what = QStringLiteral("名前付きパイプ (FIFO)");
    else if (S_ISSOCK(st.st_mode))
        what = QStringLiteral("ソケット");
    else
        what = QStringLiteral("通常のファイルでないもの");
    return QStringLiteral("%1 は%2です。ファイルとして保存できません。").arg(path, what);
}

bool writesInPlace(const QString &path)
{
    struct stat st;
    return statTarget(path, &st) && inPlace(path, st);
}

bool write(const QString &path, const QByteArray &bytes, QString *error)
{
    const QString refused = refusal(path);
    if (!refused.isEmpty())
        return fail(error, refused);
    struct stat st;
    const bool exists = statTarget(path, &st);
    if (exists && inPlace(path, st))
        return writeInPlace(path, bytes, error);
    bool ownerKept = true;
    if (replace(path, bytes, exists ? &st : nullptr, &ownerKept, error))
        return true;
    // A system that refuses the new file its owner after all gets the
    // owner kept the other way.
    return !ownerKept && writeInPlace(path, bytes, error);
}

} // namespace savetarget
