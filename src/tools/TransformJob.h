#pragma once

#include "xml/XsltTransform.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QProcess;
class QSocketNotifier;
class XmlDocument;

// One user style sheet run for the preview in a worker process (OstrelXslt,
// beside the editor), so it can always be stopped: a newer start, stop()
// and the job's end kill the worker, and so do the time and memory limits.
class TransformJob : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        int timeMs = 60000;
        qint64 memoryMb = 0; // 0: half the machine's memory, 2 GB to 8 GB
        qint64 outputBytes = 1024 * 1024; // read from the worker at most: a few hundred pages
    };
    // For every job of the process; tests shorten them.
    static Limits &limits();

    explicit TransformJob(QObject *parent = nullptr);
    ~TransformJob() override;

    // Starts the style sheet over `markup`, ending a running one first;
    // `done` gets the outcome unless the job is stopped or restarted first.
    // Output past the limit is not read: the worker is stopped and the
    // outcome holds what came before it, marked as cut.
    void start(const QByteArray &markup, const QString &styleSheet, std::function<void(const TransformResult &)> done);
    // The same over the open document itself, run in a forked child that
    // shares the window's tree: nothing is written out or parsed again.
    // False, with nothing started, where that cannot be: the document
    // declares entities (the worker's copy has them substituted), or the
    // fork failed.
    bool startOn(XmlDocument &document, const QString &styleSheet, std::function<void(const TransformResult &)> done);
    void stop();
    bool isRunning() const { return m_process != nullptr || m_child > 0; }

private:
    void finish(const TransformResult &result);
    // Takes what the worker wrote so far; past the limit, ends the job.
    void readOutput();

    // Takes what the forked child wrote so far; at its end, its outcome.
    void readChild();

    QProcess *m_process = nullptr;
    int m_child = -1;
    int m_childPipe = -1;
    QSocketNotifier *m_childOutput = nullptr;
    QTimer m_timer;
    std::function<void(const TransformResult &)> m_done;
    // The output as it comes, held once.
    QByteArray m_output;
};
