#pragma once

#include "XmlNode.h"

#include <QList>
#include <QString>

class XmlDocument;

// The schema languages a document can be validated against, told by the
// last four characters of the schema file's name, in any case: ".dtd",
// ".xsd", and ".xml" for an XML-Data Reduced (XDR) schema.
enum class SchemaKind { None, Dtd, Xsd, Xdr };
SchemaKind schemaKindOf(const QString &fileName);

// One fault found in the document.
struct ValidationError
{
    QString reason;
    // The offending node of the validated document (an element or an
    // attribute); null when the engine names none.
    XmlNode node;
};

// The result of validating a document. When the schema itself cannot be
// used (missing, unreadable, not a schema of its kind, a schema with a
// target namespace), schemaError says why and the document was not
// validated.
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
// for the purpose, whose nodes are mapped back to the document's.
//
// DTD: the root element and its subtree are checked against the file with
// the root's name as document type; a document type of the document's own
// is ignored. XSD: the document as it is, against a schema without a
// target namespace. XDR: unqualified elements (and those of the root's
// default namespace) belong to the schema, which replaces that namespace.
//
// Schemas may include, import or reference local files, resolved relative
// to the schema's folder; nothing is fetched from the network.
ValidationResult validateDocument(const XmlDocument &document, const QString &schemaPath, SchemaKind kind);
