#pragma once

#include "xml/XmlNode.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class XmlDocument;

// The schema languages a document can be validated against, told by the
// last four characters of the schema file's name, in any case: ".dtd",
// ".xsd", ".xml" for an XML-Data Reduced (XDR) schema and ".rng" for a
// RELAX NG grammar in its XML syntax.
enum class SchemaKind { None, Dtd, Xsd, Xdr, RelaxNg };
SchemaKind schemaKindOf(const QString &fileName);
// True for a RELAX NG grammar in its compact syntax (".rnc"), which is
// not read: such a file is refused with a message rather than chosen.
bool isCompactRelaxNg(const QString &fileName);

// One fault found in the document.
struct ValidationError
{
    QString reason;
    // The offending node of the validated document (an element or an
    // attribute); null when the engine names none.
    XmlNode node;
};

// The result of validating a document. When the schema itself cannot be
// used (missing, unreadable, a part of it remote or no regular file, not a
// schema of its kind, a target namespace other than the root's), or the
// document's entities expand beyond reason, schemaError says why and the
// document was not validated.
struct ValidationResult
{
    QString schemaError;
    QList<ValidationError> errors; // the first kMaxErrors of them
    int errorCount = 0;            // all of them
    bool isValid() const { return schemaError.isEmpty() && errorCount == 0; }

    static constexpr int kMaxErrors = 100;
};

// Validates `document` against the schema file at `schemaPath`. The
// document is never changed: DTD and XSD validation work on a copy made
// for the purpose, whose nodes are mapped back to the document's. The copy
// has the document's internal entities substituted (external ones are
// never read), so values given through entities count as written out.
//
// DTD: the root element and its subtree are checked against the file with
// the root's name as document type; a document type of the document's own
// is ignored, but its entities are used. XSD: the document as it is,
// against a schema whose target namespace, if any, is the root element's.
// XDR: unqualified elements (and those of the root's default namespace)
// belong to the schema, which replaces that namespace. RELAX NG: the
// document as it is, against the grammar.
//
// Schemas may include, import or reference (RELAX NG's include and
// externalRef) local regular files, resolved
// relative to the schema's folder or through the system's XML catalogs;
// nothing is fetched from the network.
ValidationResult validateDocument(const XmlDocument &document, const QString &schemaPath, SchemaKind kind);

struct ValidationWork; // libxml2's side, inside the document service

// validateDocument in three steps, so the long middle one can run on a
// thread of its own: the constructor reads the document on its thread (an
// XDR schema is checked then and there); run(), from any thread and once,
// copies the document for DTD and XSD (changes to it wait until the copy
// is taken) and validates the copy; result() is read on the document's
// thread again, and names the document's nodes only when `withNodes`
// (pass false when the document changed meanwhile).
class ValidationRun
{
public:
    ValidationRun(const XmlDocument &document, const QString &schemaPath, SchemaKind kind);
    ~ValidationRun();
    ValidationRun(const ValidationRun &) = delete;
    ValidationRun &operator=(const ValidationRun &) = delete;

    void run();
    // From any thread: a DTD validation stops at its next element; the
    // result is then of no use.
    void cancel() { m_cancelled = true; }
    // How far run() is, per mille; -1 when the engine cannot tell.
    int progress() const { return m_progress; }
    // Called by run() as progress() changes, on run()'s thread.
    void onProgress(std::function<void(int)> report) { m_report = std::move(report); }
    // For a process that ends after run(): the copy is left unfreed.
    void leaveCopy() { m_leaveCopy = true; }
    ValidationResult result(bool withNodes = true) const;

private:
    std::unique_ptr<ValidationWork> m_work;
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_progress{-1};
    std::function<void(int)> m_report;
    bool m_leaveCopy = false;
};
