#include "TransformJob.h"

#include "schema/ForkedChild.h"
#include "xml/XmlDocument.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString kWorker = QStringLiteral("OstrelXslt");

QString workerPath()
{
    // Installed and built beside the editor; programs of the build tree
    // elsewhere (tests, the benchmark) find the built one.
    const QDir own(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {own.filePath(kWorker), own.filePath(QStringLiteral("../bin/") + kWorker)})
        if (QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    return QString();
}

qint64 memoryLimitMb()
{
    if (TransformJob::limits().memoryMb > 0)
        return TransformJob::limits().memoryMb;
    const qint64 physicalMb = qint64(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE) / (1024 * 1024);
    return std::clamp<qint64>(physicalMb / 2, 2048, 8192);
}

TransformResult failure(const QString &reason)
{
    TransformResult result;
    result.error = reason;
    return result;
}

QString abnormalEnd()
{
    return QStringLiteral("変換処理が異常終了しました。");
}

QString overMemory(qint64 memoryMb)
{
    return QStringLiteral("変換がメモリの上限 (%1 MB) を超えたため中止しました。").arg(memoryMb);
}

// A forked child's outcome, on its pipe: one letter (O: output, T: the
// first part of a longer output, E: an error, M: out of memory); for an
// output its method and its length, a line each, then the output itself;
// for an error, the reason.
int g_resultPipe = -1;

void childOutOfMemory()
{
    static const char outcome = 'M';
    [[maybe_unused]] const ssize_t n = ::write(g_resultPipe, &outcome, 1);
    ::_exit(3);
}

bool transformInChild(XmlDocument &document, const QString &styleSheet, qint64 memoryMb, qint64 stopPast, int fd)
{
    // Seen in the process list as what it does.
    ::prctl(PR_SET_NAME, "OstrelXslt");
    g_resultPipe = fd;
    limitAddressSpace(memoryMb);
    std::set_new_handler(childOutOfMemory);
    countAllocationFailures();
    const TransformResult result = transformTree(document, styleSheet, stopPast);
    if (result.outOfMemory)
        childOutOfMemory();
    if (!result.ok)
        return forked::writeAll(fd, 'E' + result.error.toUtf8());
    const QByteArray head = (result.truncated ? "T" : "O") + result.method.toUtf8() + '\n' + QByteArray::number(result.output.size()) + '\n';
    return forked::writeAll(fd, head) && forked::writeAll(fd, result.output);
}

TransformResult childOutcome(QByteArray &&bytes, bool cut, qint64 outputBytes, qint64 memoryMb)
{
    TransformResult result;
    const char kind = bytes.isEmpty() ? '\0' : bytes.front();
    if (kind == 'M') {
        result.outOfMemory = true;
        result.error = overMemory(memoryMb);
        return result;
    }
    if (kind == 'E') {
        result.error = QString::fromUtf8(bytes.mid(1)).trimmed();
        return result.error.isEmpty() ? failure(abnormalEnd()) : result;
    }
    const qsizetype methodEnd = bytes.indexOf('\n');
    const qsizetype lengthEnd = methodEnd < 0 ? -1 : bytes.indexOf('\n', methodEnd + 1);
    bool known = false;
    const qint64 length = lengthEnd < 0 ? 0 : bytes.mid(methodEnd + 1, lengthEnd - methodEnd - 1).toLongLong(&known);
    if ((kind != 'O' && kind != 'T') || !known)
        return failure(abnormalEnd());
    result.method = QString::fromUtf8(bytes.mid(1, methodEnd - 1));
    bytes.remove(0, lengthEnd + 1);
    // Past the limit the rest was not read; short of its length the child
    // died while writing.
    cut = cut || bytes.size() > outputBytes;
    if (!cut && bytes.size() < length)
        return failure(abnormalEnd());
    result.truncated = kind == 'T' || cut;
    if (bytes.size() > outputBytes)
        bytes.truncate(outputBytes);
    result.ok = true;
    result.output = std::move(bytes);
    return result;
}

} // namespace

TransformJob::Limits &TransformJob::limits()
{
    static Limits limits;
    return limits;
}

TransformJob::TransformJob(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        finish(failure(QStringLiteral("変換が %1 秒で終わらないため中止しました。").arg(limits().timeMs / 1000.0)));
    });
}

TransformJob::~TransformJob()
{
    stop();
}

void TransformJob::stop()
{
    m_timer.stop();
    m_done = nullptr;
    if (m_child > 0) {
        // This may run inside the notifier's own signal.
        m_childOutput->setEnabled(false);
        m_childOutput->deleteLater();
        m_childOutput = nullptr;
        ::close(m_childPipe);
        m_childPipe = -1;
        forked::end(m_child);
        m_child = -1;
        m_output.clear();
    }
    if (!m_process)
        return;
    QProcess *process = m_process;
    m_process = nullptr;
    process->disconnect(this);
    m_output.clear();
    process->kill();
    process->waitForFinished(1000);
    // This may run inside one of its own signals.
    process->deleteLater();
}

void TransformJob::finish(const TransformResult &result)
{
    auto done = std::move(m_done);
    stop();
    if (done)
        done(result);
}

bool TransformJob::startOn(XmlDocument &document, const QString &styleSheet, std::function<void(const TransformResult &)> done)
{
    if (!canTransformTree(document))
        return false;
    stop();
    document.numberElements();
    const qint64 memoryMb = memoryLimitMb(), stopPast = limits().outputBytes;
    int readEnd = -1;
    const int pid = forked::start(
        document, [&document, styleSheet, memoryMb, stopPast](int fd) { return transformInChild(document, styleSheet, memoryMb, stopPast, fd); },
        &readEnd);
    if (pid < 0)
        return false;
    ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) | O_NONBLOCK);
    m_done = std::move(done);
    m_child = pid;
    m_childPipe = readEnd;
    m_childOutput = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(m_childOutput, &QSocketNotifier::activated, this, &TransformJob::readChild);
    m_timer.start(limits().timeMs);
    return true;
}

void TransformJob::readChild()
{
    if (m_child <= 0)
        return;
    // The outcome's two lines besides the output.
    const qint64 outputBytes = limits().outputBytes, room = outputBytes + 1024;
    char buffer[1 << 16];
    bool cut = false;
    for (;;) {
        const ssize_t n = ::read(m_childPipe, buffer, size_t(std::min<qint64>(sizeof buffer, room + 1 - m_output.size())));
        if (n > 0 && m_output.size() + n <= room) {
            m_output.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return; // more to come
        cut = n > 0; // one byte past the room: the rest is not read
        break;
    }
    finish(childOutcome(std::move(m_output), cut, outputBytes, memoryLimitMb()));
}

void TransformJob::readOutput()
{
    if (!m_process)
        return;
    const qint64 limit = limits().outputBytes;
    const qint64 room = limit - m_output.size();
    if (room >= 0 && m_process->bytesAvailable() <= room) {
        m_output += m_process->readAllStandardOutput();
        return;
    }
    // What fits; the rest is never read.
    if (room > 0)
        m_output += m_process->read(room);
    TransformResult result;
    result.ok = true;
    result.truncated = true;
    result.output = std::move(m_output);
    // The worker says its output method before it writes the output, so
    // the line is there, if not yet read. Its signals would come while
    // waiting for it.
    m_process->disconnect(this);
    m_process->setReadChannel(QProcess::StandardError);
    if (!m_process->canReadLine())
        m_process->waitForReadyRead(1000);
    result.method = QString::fromUtf8(m_process->readLine()).trimmed();
    finish(result);
}

void TransformJob::start(const QByteArray &markup, const QString &styleSheet, std::function<void(const TransformResult &)> done)
{
    stop();
    m_done = std::move(done);
    m_output.clear();
    const QString worker = workerPath();
    if (worker.isEmpty()) {
        finish(failure(QStringLiteral("変換用のプログラム %1 が見つかりません。").arg(kWorker)));
        return;
    }
    m_process = new QProcess;
    const qint64 memoryMb = memoryLimitMb();
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && m_process)
            finish(failure(m_process->errorString()));
    });
    m_process->setReadChannel(QProcess::StandardOutput);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &TransformJob::readOutput);
    connect(m_process, &QProcess::finished, this, [this, memoryMb](int code, QProcess::ExitStatus status) {
        readOutput();
        if (!m_process)
            return; // ended at the output's limit
        const QString err = QString::fromUtf8(m_process->readAllStandardError()).trimmed();
        TransformResult result;
        if (status == QProcess::NormalExit && code == 0) {
            result.ok = true;
            result.output = std::move(m_output);
            result.method = err;
        } else if (status == QProcess::NormalExit && code == 3) {
            result.outOfMemory = true;
            result.error = overMemory(memoryMb);
        } else {
            result.error = status == QProcess::CrashExit || err.isEmpty() ? abnormalEnd() : err;
        }
        finish(result);
    });
    // The document goes in as an unnamed file in memory, read by the worker
    // at its own pace: fed through a pipe by the window's event loop, a
    // large one took longer than the transform.
    const int input = ::memfd_create("ostrel-preview", MFD_CLOEXEC);
    const bool inFile = input >= 0 && forked::writeAll(input, markup);
    if (inFile)
        m_process->setStandardInputFile(QStringLiteral("/proc/self/fd/%1").arg(input));
    m_process->start(worker, {styleSheet, QString::number(memoryMb), QString::number(limits().outputBytes)});
    if (input >= 0)
        ::close(input);
    if (!m_process)
        return; // failed to start, already reported
    if (!inFile) {
        m_process->write(markup);
        m_process->closeWriteChannel();
    }
    m_timer.start(limits().timeMs);
}
