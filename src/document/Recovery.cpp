#include "Recovery.h"

#include "base/StringTable.h"
#include "DocumentHost.h"
#include "DocumentLifecycle.h"
#include "PrivateFolder.h"
#include "Prompt.h"
#include "schema/ForkedChild.h"
#include "xml/XmlDocument.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A copy is written once the user has paused this long, so the fork's
// short stop of the window falls where nobody types; a change is written
// after kMaxDelayMs at the latest, even during uninterrupted typing.
constexpr int kIdleMs = 1000;
constexpr int kMaxDelayMs = 5000;
// A journal is appended without a fork: a shorter pause will do, and
// uninterrupted typing is appended every two seconds.
constexpr int kJournalIdleMs = 250;
constexpr int kJournalMaxDelayMs = 2000;
// Records of a change of many nodes go to the file as they come, unsynced:
// held until the pause after it, they would grow with the change.
constexpr qint64 kJournalFlushBytes = 1024 * 1024;
// A child may hang on a lock another thread of the editor held when it was
// forked; it gets this long.
constexpr int kChildTimeoutMs = 120000;

const QString kLockName = QStringLiteral("lock");
// A folder's copies: whole ones and journals of changes to a file.
const QStringList kCopyPatterns = {QStringLiteral("*.xml"), QStringLiteral("*.journal")};

// A lock file held with an exclusive flock(); the kernel lets go of it when
// the process ends, however it ends. Close-on-exec, so programs the editor
// starts do not keep it.
int lockFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + kLockName);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// This process's folder of copies, made when the first copy is written and
// locked until the process ends. Left behind only when it holds copies.
class ProcessFolder
{
public:
    static ProcessFolder &instance()
    {
        static ProcessFolder folder;
        return folder;
    }
    QString path() const { return m_path; }
    int nextSerial() { return ++m_serial; }

private:
    ProcessFolder()
    {
        const QString base = Recovery::root();
        if (base.isEmpty())
            return;
        const QString name = QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-')
            + QString::number(QRandomGenerator::system()->generate64(), 16);
        const QString folder = base + QLatin1Char('/') + name;
        if (!QDir().mkdir(folder))
            return;
        m_lock = lockFolder(folder);
        if (m_lock < 0) {
            QDir(folder).removeRecursively();
            return;
        }
        m_path = folder;
    }
    ~ProcessFolder()
    {
        if (!m_path.isEmpty() && QDir(m_path).entryList(kCopyPatterns, QDir::Files).isEmpty())
            QDir(m_path).removeRecursively();
        if (m_lock >= 0)
            ::close(m_lock);
    }
    QString m_path;
    int m_lock = -1;
    int m_serial = 0;
};

QString readSource(const QString &sourceFile)
{
    QFile file(sourceFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString stemOf(const QString &copyPath)
{
    return copyPath.left(copyPath.lastIndexOf(QLatin1Char('.')));
}

} // namespace

namespace Recovery {

QString root()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith(QLatin1Char('/')))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    QDir().mkpath(state);
    // The runtime folder, which Qt makes sure is this user's alone, keeps
    // the copies for this session when the usual place cannot be trusted.
    return PrivateFolder::makeOr(state, QStringLiteral("ostrel-edit/recovery"), [] {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        return runtime.isEmpty() ? QString() : PrivateFolder::make(runtime, QStringLiteral("ostrel-edit-recovery"));
    });
}

void offerOrphans(Prompt &prompt, const Restorer &restore)
{
    const QString path = root();
    if (path.isEmpty())
        return; // an empty path would be the current folder
    const QDir base(path);
    for (const QString &entry : base.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name)) {
        const QString folder = base.filePath(entry);
        // Held by a running editor (this one included): its copies are its own.
        const int lock = lockFolder(folder);
        if (lock < 0)
            continue;
        const QDir dir(folder);
        QStringList offered;
        for (const QFileInfo &copy : dir.entryInfoList(kCopyPatterns, QDir::Files, QDir::Time)) {
            const QString stem = stemOf(copy.absoluteFilePath());
            if (offered.contains(stem))
                continue;
            offered << stem;
            // Both are left only by a crash right after a whole copy
            // replaced the journal: the copy is the later state.
            const QString whole = stem + QStringLiteral(".xml");
            const QString copyPath = QFileInfo::exists(whole) ? whole : copy.absoluteFilePath();
            const QString source = readSource(stem + QStringLiteral(".source"));
            const QString name = source.isEmpty() ? DocumentLifecycle::newFileName() : source;
            const QString when = copy.lastModified().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
            if (prompt.message(resourceString(1015).arg(name, when), Prompt::Icon::Question, Prompt::Buttons::YesNo)
                == Prompt::Answer::Yes) {
                QString error;
                if (!restore(copyPath, source, &error)) {
                    prompt.message(resourceString(1016).arg(copyPath, error), Prompt::Icon::Exclamation);
                    continue;
                }
            }
            for (const char *suffix : {".xml", ".journal", ".source"})
                QFile::remove(stem + QLatin1String(suffix));
        }
        if (dir.entryList(kCopyPatterns, QDir::Files).isEmpty())
            QDir(folder).removeRecursively();
        ::close(lock);
    }
}

} // namespace Recovery

RecoveryWriter::RecoveryWriter(DocumentHost &host, QObject *parent) : QObject(parent), m_host(host)
{
    m_delay.setSingleShot(true);
    m_clock.start();
    connect(&m_delay, &QTimer::timeout, this, [this] {
        if (const qint64 left = m_writeAt - m_clock.elapsed(); left > 0)
            startDelay(left);
        else
            write();
    });
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(kChildTimeoutMs);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        stopChild();
        schedule();
    });
}

RecoveryWriter::~RecoveryWriter()
{
    if (m_document)
        m_document->removeObserver(this);
    discard();
}

QString RecoveryWriter::copyPath() const
{
    return m_written ? m_copyPath : m_journalBytes > 0 ? m_journalPath : QString();
}

void RecoveryWriter::nodeInserted(const XmlNode &parent, const XmlNode &node, const XmlNode &next)
{
    noted(!m_journalling || m_journal.inserted(*m_document, parent, node, next));
}

void RecoveryWriter::nodeRemoved(const XmlNode &parent, const XmlNode &node, const XmlNode &formerNext)
{
    noted(!m_journalling || m_journal.removed(parent, node, formerNext));
}

void RecoveryWriter::nodeRenamed(const XmlNode &node, const QString &)
{
    noted(!m_journalling || m_journal.renamed(node));
}

void RecoveryWriter::textChanged(const XmlNode &node, const QString &oldText)
{
    noted(!m_journalling || m_journal.textChanged(node, oldText));
}

void RecoveryWriter::documentReplaced()
{
    stopJournal();
    schedule();
}

void RecoveryWriter::noted(bool ok)
{
    // Records that would outgrow the file are worth less than a copy.
    if (!ok || (m_journalling && m_journalBytes + m_journal.pendingSize() > m_base.size))
        stopJournal();
    else if (m_journalling && m_journal.pendingSize() >= kJournalFlushBytes && m_childPid == 0
             && !m_host.flags().m_Saving && hashReady() && !writeJournal(false))
        stopJournal();
    schedule();
}

void RecoveryWriter::stopJournal()
{
    m_journalling = false;
    m_journal.restart();
}

void RecoveryWriter::startJournal()
{
    const WindowFlags &f = m_host.flags();
    if (!m_document || !f.m_HasFile) {
        stopJournal();
        m_base = FileIdentity();
        return;
    }
    const FileIdentity now = FileIdentity::stat(f.m_FileName);
    if (now.path != m_base.path || !now.sameStat(m_base)) {
        // Hashed beside the window: it takes a fraction of a second for
        // the largest files, and is not needed before the first change.
        m_base = now;
        m_hashing = std::async(std::launch::async, [path = now.path] { return FileIdentity::hashOf(path); }).share();
    }
    m_journal.restart();
    m_journalling = m_base.size >= 0;
}

bool RecoveryWriter::hashReady() const
{
    return !m_base.hash.isEmpty()
        || (m_hashing.valid() && m_hashing.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
}

bool RecoveryWriter::writeJournal(bool sync)
{
    if (!prepare() || !FileIdentity::stat(m_base.path).sameStat(m_base))
        return false;
    if (m_base.hash.isEmpty() && m_hashing.valid())
        m_base.hash = m_hashing.get();
    // Hashed as the file stood at the start: one changed meanwhile differs now.
    if (m_base.hash.isEmpty() || !FileIdentity::stat(m_base.path).sameStat(m_base))
        return false;
    QList<QByteArray> blocks = m_journal.takePending();
    if (m_journalBytes == 0) {
        blocks.prepend(RecoveryJournal::header(m_base));
        QFile::remove(m_journalPath);
    }
    const int fd = ::open(QFile::encodeName(m_journalPath).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    qint64 written = 0;
    bool ok = true;
    for (const QByteArray &bytes : std::as_const(blocks)) {
        ok = ok && forked::writeAll(fd, bytes);
        written += bytes.size();
    }
    ok = ok && (!sync || ::fdatasync(fd) == 0);
    ::close(fd);
    if (!ok)
        return false;
    m_journalBytes += written;
    return true;
}

void RecoveryWriter::setDocument(XmlDocument *document)
{
    if (m_document)
        m_document->removeObserver(this);
    m_document = document;
    if (m_document)
        m_document->addObserver(this);
    stopJournal();
    schedule();
}

void RecoveryWriter::stateChanged()
{
    if (m_host.flags().m_Dirty && m_document) {
        schedule();
    } else {
        discard();
        startJournal();
    }
}

void RecoveryWriter::schedule()
{
    if (!m_pendingSince.isValid())
        m_pendingSince.start();
    const qint64 latest = (m_journalling ? kJournalMaxDelayMs : kMaxDelayMs) - m_pendingSince.elapsed();
    const qint64 delay = std::clamp<qint64>(latest, 0, m_journalling ? kJournalIdleMs : kIdleMs);
    const qint64 at = m_clock.elapsed() + delay;
    if (m_delay.isActive() && m_delayFires <= at)
        m_writeAt = at;
    else
        startDelay(delay);
}

void RecoveryWriter::startDelay(qint64 ms)
{
    m_delay.start(int(ms));
    m_delayFires = m_writeAt = m_clock.elapsed() + ms;
}

void RecoveryWriter::write()
{
    m_pendingSince.invalidate();
    if (!m_document || !m_host.flags().m_Dirty) {
        discard();
        return;
    }
    if (!m_document->documentElement())
        return; // it could not be saved either; the last copy stays
    if (m_childPid != 0) {
        m_again = true;
        return;
    }
    if (m_host.flags().m_Saving) {
        schedule();
        return;
    }
    if (m_journalling) {
        // The file's hash is still being made (seconds for the largest
        // files): the window does not wait for it; the journal comes later.
        if (!hashReady() && m_hashing.valid()) {
            startDelay(kJournalIdleMs);
            return;
        }
        if (writeJournal()) {
            emit written();
            return;
        }
        stopJournal();
    }
    if (!prepare())
        return;

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return;
    const pid_t parent = ::getpid();
    // The child has this thread only: nothing it needs may be left to another.
    m_document->settle();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The child: only this thread exists here. It writes and ends
        // without running the parent's exit handlers, and dies with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(1);
        const char done = m_document->save(m_copyPath) ? '1' : '0';
        [[maybe_unused]] const ssize_t n = ::write(fds[1], &done, 1);
        ::_exit(0);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return;
    }
    m_childPid = pid;
    m_childPipe = fds[0];
    m_childDone = new QSocketNotifier(m_childPipe, QSocketNotifier::Read, this);
    connect(m_childDone, &QSocketNotifier::activated, this, &RecoveryWriter::childFinished);
    m_watchdog.start();
}

bool RecoveryWriter::prepare()
{
    const QString folder = ProcessFolder::instance().path();
    if (folder.isEmpty())
        return false;
    if (m_copyPath.isEmpty()) {
        const QString stem = folder + QLatin1Char('/') + QString::number(ProcessFolder::instance().nextSerial());
        m_copyPath = stem + QStringLiteral(".xml");
        m_journalPath = stem + QStringLiteral(".journal");
        m_sourceFile = stem + QStringLiteral(".source");
    }
    const WindowFlags &f = m_host.flags();
    const QString source = f.m_HasFile ? QFileInfo(f.m_FileName).absoluteFilePath() : QString();
    if ((!m_written && m_journalBytes == 0) || source != m_sourceWritten) {
        QSaveFile file(m_sourceFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(source.toUtf8()) < 0 || !file.commit())
            return false;
        m_sourceWritten = source;
    }
    return true;
}

void RecoveryWriter::keep()
{
    if (!m_document || !m_host.flags().m_Dirty || !m_document->documentElement())
        return;
    m_delay.stop();
    m_pendingSince.invalidate();
    m_again = false;
    stopChild();
    // Written here: the window is going, there is no pause to wait for.
    m_document->settle();
    const bool saved = (m_journalling && writeJournal()) || (prepare() && m_document->save(m_copyPath));
    // An older copy is better than none.
    if (!saved && !m_written && m_journalBytes == 0)
        return;
    m_copyPath.clear();
    m_journalPath.clear();
    m_journalBytes = 0;
    stopJournal();
    m_sourceFile.clear();
    m_written = false;
    m_sourceWritten.clear();
}

void RecoveryWriter::childFinished()
{
    char done = '0';
    const bool ok = ::read(m_childPipe, &done, 1) == 1 && done == '1';
    // The child ends right after its answer (or has died: end of file).
    releaseChild();
    if (ok) {
        m_written = true;
        // The whole copy stands for the document now.
        QFile::remove(m_journalPath);
        m_journalBytes = 0;
        emit written();
    }
    if (m_again) {
        m_again = false;
        schedule();
    }
}

void RecoveryWriter::stopChild()
{
    if (m_childPid == 0)
        return;
    ::kill(m_childPid, SIGKILL);
    releaseChild();
}

void RecoveryWriter::releaseChild()
{
    ::waitpid(m_childPid, nullptr, 0);
    m_childPid = 0;
    m_watchdog.stop();
    delete m_childDone;
    m_childDone = nullptr;
    ::close(m_childPipe);
    m_childPipe = -1;
}

void RecoveryWriter::discard()
{
    m_delay.stop();
    m_pendingSince.invalidate();
    m_again = false;
    stopChild();
    if (!m_copyPath.isEmpty()) {
        QFile::remove(m_copyPath);
        QFile::remove(m_journalPath);
        QFile::remove(m_sourceFile);
    }
    m_journal.restart();
    m_journalBytes = 0;
    m_written = false;
    m_sourceWritten.clear();
}
