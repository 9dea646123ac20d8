#pragma once

#include "xml/XmlNode.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class SchemaGuide;
class XmlDocument;

// Validates a document against a schema in the background, without
// copying it on the window's thread: a forked child copies the document
// from its copy-on-write view, checks the copy and sends back where the
// faults are (positions in document order) and what they say. A new start
// drops the running check.
class FaultScan : public QObject
{
    Q_OBJECT
public:
    struct Fault
    {
        XmlNode node; // null when the engine names none
        QString message;
        qint64 position = -1; // of the node among elements and attributes in document order
    };

    explicit FaultScan(QObject *parent = nullptr);
    ~FaultScan() override;

    // The document and the guide must stay unchanged until finished() or
    // cancel(); the caller cancels on every change.
    void start(const XmlDocument &document, const SchemaGuide &guide);
    void cancel();
    bool isRunning() const { return m_pid != 0; }

    // Faults kept per check; the count says how many there are.
    static constexpr int kMaxFaults = 1000;

signals:
    void finished(int count, const QList<FaultScan::Fault> &faults);

private:
    void readChild();
    int release(); // the child's exit status

    const XmlDocument *m_document = nullptr;
    int m_pid = 0;
    int m_pipe = -1;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_received;
    QTimer m_watchdog;
};
