#include "TransformJob.h"

#include "schema/ForkedChild.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <sys/mman.h>
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
            result.error = QStringLiteral("変換がメモリの上限 (%1 MB) を超えたため中止しました。").arg(memoryMb);
        } else {
            result.error = status == QProcess::CrashExit || err.isEmpty() ? QStringLiteral("変換処理が異常終了しました。") : err;
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
