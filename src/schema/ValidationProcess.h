#pragma once

#include "XmlValidation.h"

#include <QByteArray>

#include <utility>
#include <vector>

class XmlDocument;

// Validates a document in a forked child (ForkedChild.h): the window
// neither copies the document nor waits for the engine, and cancel() ends
// the work at once, its processor time and memory with it. Where no child
// can be forked, the constructor validates on this thread instead.
class ValidationProcess
{
public:
    // The document must not change until the constructor returns.
    ValidationProcess(const XmlDocument &document, const QString &schemaPath, SchemaKind kind);
    ~ValidationProcess();
    ValidationProcess(const ValidationProcess &) = delete;
    ValidationProcess &operator=(const ValidationProcess &) = delete;

    // Waits up to `ms` for news from the child; true once it has finished.
    bool wait(int ms);
    // How far the child is, per mille; -1 when the engine cannot tell.
    int progress() const { return m_progress; }
    // Ends the child; the result is then of no use.
    void cancel();
    // Once finished. Names the document's nodes only when `withNodes`:
    // pass false when the document changed after the start.
    ValidationResult result(bool withNodes) const;

private:
    void finish();

    const XmlDocument &m_document;
    QString m_schemaName;
    int m_pid = -1;
    int m_pipe = -1;
    int m_progress = -1;
    bool m_finished = false;
    QByteArray m_received;
    ValidationResult m_result; // nodes in m_routes until asked for
    std::vector<std::pair<qint64, std::vector<int>>> m_routes; // by error: position, route
};
